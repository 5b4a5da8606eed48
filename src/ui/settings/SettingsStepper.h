#pragma once

#include <QWidget>

class QTimer;

// Two arrow buttons side by side in one rounded box, as a stepper without a text field: the left
// half steps down, the right half up, each a target of full row height; holding a half repeats.
// Up and Down keys and the mouse wheel step too. The arrow towards a reached bound fades.
class SettingsStepper : public QWidget {
    Q_OBJECT

public:
    explicit SettingsStepper(QWidget* parent = nullptr);

    void setLimits(bool atMinimum, bool atMaximum);

Q_SIGNALS:
    // -1 for a step down, 1 for a step up.
    void stepped(int direction);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void step(int direction);

    QTimer* m_repeat;
    int m_pressed = 0;
    int m_wheelDelta = 0;
    bool m_atMinimum = false;
    bool m_atMaximum = false;
};
