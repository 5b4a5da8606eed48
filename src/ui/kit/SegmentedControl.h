#pragma once

#include <QTabBar>

// Two or more segments side by side in a rounded track; the selected one is a raised white pill.
// A tab bar underneath, for its keyboard handling and accessibility.
class SegmentedControl : public QTabBar {
    Q_OBJECT

public:
    static constexpr QSize kDefaultSize{180, 24};
    // The platform's default control font.
    static constexpr qreal kDefaultPointSize = 13;

    explicit SegmentedControl(QWidget* parent = nullptr);
    // A control of another fixed size and text size, as in a compact panel.
    SegmentedControl(QSize size, qreal pointSize, QWidget* parent = nullptr);

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    void paintEvent(QPaintEvent* event) override;

private:
    QSize m_size;
};
