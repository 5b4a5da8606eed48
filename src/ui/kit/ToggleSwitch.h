#pragma once

#include <QAbstractButton>

// An on/off switch: a small pill track with a round knob, green and to the right when on. A
// checkable button underneath, so Space toggles it and assistive technology reads it as a check
// box with its state.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr QSize kSize{28, 16};

    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};
