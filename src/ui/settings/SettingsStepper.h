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

    // The value shown and its bounds: the arrow towards a reached bound fades, and assistive
    // technology reads them (the widget is a spin button there).
    void setRange(double minimum, double maximum, double step);
    void setValue(double value);
    double value() const { return m_value; }
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }
    double stepSize() const { return m_step; }
    void step(int direction);

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
    QTimer* m_repeat;
    int m_pressed = 0;
    int m_wheelDelta = 0;
    double m_value = 0;
    double m_minimum = 0;
    double m_maximum = 0;
    double m_step = 1;
};
