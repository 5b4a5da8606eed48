#include "ui/settings/SettingsStepper.h"

#include "ui/kit/Glyphs.h"
#include "ui/kit/Palette.h"
#include "ui/kit/Shapes.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using Typography::Weight;

namespace {

// Two arrows side by side, each at least 22 points wide and as tall as a control row.
constexpr QSize kStepperSize{48, 24};
constexpr qreal kStepperRadius = 6;
constexpr qreal kStepperChevronSize = 9;
constexpr int kRepeatDelayMs = 400;
constexpr int kRepeatIntervalMs = 90;
constexpr qreal kDisabledOpacity = 0.25;

// A spin button to assistive technology: the value with its bounds and step, and Up and Down as
// actions. Its name (the interval in words) is the widget's own.
class AccessibleStepper final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleStepper(SettingsStepper* stepper)
        : QAccessibleWidget(stepper, QAccessible::SpinBox)
    {
    }

    static QAccessibleInterface* create(const QString&, QObject* object)
    {
        auto* stepper = qobject_cast<SettingsStepper*>(object);
        return stepper ? new AccessibleStepper(stepper) : nullptr;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return stepper()->value(); }
    QVariant minimumValue() const override { return stepper()->minimum(); }
    QVariant maximumValue() const override { return stepper()->maximum(); }
    QVariant minimumStepSize() const override { return stepper()->stepSize(); }
    // As many steps as it takes; the view clamps at the bounds.
    void setCurrentValue(const QVariant& value) override
    {
        const SettingsStepper* s = stepper();
        const double steps = std::round((value.toDouble() - s->value()) / s->stepSize());
        const double most = (s->maximum() - s->minimum()) / s->stepSize();
        for (int i = 0; i < int(std::min(std::abs(steps), most)); ++i)
            stepper()->step(steps > 0 ? 1 : -1);
    }

    QStringList actionNames() const override { return {increaseAction(), decreaseAction(), setFocusAction()}; }
    void doAction(const QString& name) override
    {
        if (name == increaseAction())
            stepper()->step(1);
        else if (name == decreaseAction())
            stepper()->step(-1);
        else
            QAccessibleWidget::doAction(name);
    }

private:
    SettingsStepper* stepper() const { return static_cast<SettingsStepper*>(widget()); }
};

} // namespace

SettingsStepper::SettingsStepper(QWidget* parent)
    : QWidget(parent)
    , m_repeat(new QTimer(this))
{
    setFixedSize(kStepperSize);
    setFocusPolicy(Qt::TabFocus);
    static const bool accessible = (QAccessible::installFactory(&AccessibleStepper::create), true);
    Q_UNUSED(accessible);
    connect(m_repeat, &QTimer::timeout, this, [this] {
        m_repeat->setInterval(kRepeatIntervalMs);
        step(m_pressed);
    });
}

void SettingsStepper::setRange(double minimum, double maximum, double step)
{
    m_minimum = minimum;
    m_maximum = maximum;
    m_step = step;
    update();
}

void SettingsStepper::setValue(double value)
{
    if (value == m_value)
        return;
    m_value = value;
    update();
    QAccessibleValueChangeEvent event(this, value);
    QAccessible::updateAccessibility(&event);
}

void SettingsStepper::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressed = event->position().x() < width() / 2.0 ? -1 : 1;
    update();
    m_repeat->start(kRepeatDelayMs);
    step(m_pressed);
}

void SettingsStepper::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_repeat->stop();
    m_pressed = 0;
    update();
}

// A press whose release never arrives (the window went away under it) must not keep stepping.
void SettingsStepper::hideEvent(QHideEvent* event)
{
    m_repeat->stop();
    m_pressed = 0;
    QWidget::hideEvent(event);
}

void SettingsStepper::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Up) {
        step(1);
    } else if (event->key() == Qt::Key_Down) {
        step(-1);
    } else {
        QWidget::keyPressEvent(event);
    }
}

// One step per notch; a touchpad's small deltas add up to notches.
void SettingsStepper::wheelEvent(QWheelEvent* event)
{
    m_wheelDelta += event->angleDelta().y();
    while (std::abs(m_wheelDelta) >= QWheelEvent::DefaultDeltasPerStep) {
        const int direction = m_wheelDelta > 0 ? 1 : -1;
        m_wheelDelta -= direction * QWheelEvent::DefaultDeltasPerStep;
        step(direction);
    }
    event->accept();
}

void SettingsStepper::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath boxPath = Shapes::continuousRoundedRect(box, kStepperRadius);
    painter.fillPath(boxPath, Palette::white());
    const QRectF lower(box.left(), box.top(), box.width() / 2, box.height());
    const QRectF upper(box.center().x(), box.top(), box.width() / 2, box.height());
    if (m_pressed != 0) {
        QPainterPath clip;
        clip.addRect(m_pressed > 0 ? upper : lower);
        painter.fillPath(boxPath.intersected(clip), Palette::black(0.1));
    }
    const bool keyboardFocus = hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange);
    painter.strokePath(boxPath, QPen(keyboardFocus ? Palette::blue(0.6) : Palette::black(0.18), 1));
    painter.fillRect(QRectF(box.center().x() - 0.25, box.top() + 3, 0.5, box.height() - 6), Palette::separator());

    Glyphs::paint(painter, lower, Glyphs::Glyph::ChevronDown, kStepperChevronSize, Weight::Bold,
                  Palette::black(m_value <= m_minimum ? kDisabledOpacity : 0.7));
    Glyphs::paint(painter, upper, Glyphs::Glyph::ChevronUp, kStepperChevronSize, Weight::Bold,
                  Palette::black(m_value >= m_maximum ? kDisabledOpacity : 0.7));
}

void SettingsStepper::step(int direction)
{
    if (direction != 0)
        Q_EMIT stepped(direction);
}
