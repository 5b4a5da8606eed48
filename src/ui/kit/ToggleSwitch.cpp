#include "ui/kit/ToggleSwitch.h"

#include "ui/kit/FocusRing.h"
#include "ui/kit/Palette.h"

#include <QPainter>

namespace {
constexpr qreal kKnobInset = 2;
constexpr qreal kDisabledOpacity = 0.4;
} // namespace

ToggleSwitch::ToggleSwitch(QWidget* parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setFixedSize(kSize);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::ArrowCursor);
}

QSize ToggleSwitch::sizeHint() const
{
    return kSize;
}

bool ToggleSwitch::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) {
        painter.setOpacity(kDisabledOpacity);
    }
    const QRectF track(rect());
    const qreal radius = track.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? Palette::green() : Palette::black(0.16));
    painter.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 2 * kKnobInset;
    const qreal left = isChecked() ? track.right() - kKnobInset - knob : track.left() + kKnobInset;
    const QRectF knobRect(left, track.top() + kKnobInset, knob, knob);
    // A faint shadow under the knob lifts it off the track.
    painter.setBrush(Palette::black(isDown() ? 0.2 : 0.12));
    painter.drawEllipse(knobRect.translated(0, 0.5));
    painter.setBrush(Palette::white());
    painter.drawEllipse(knobRect);
    if (FocusRing::shows(*this)) {
        painter.setOpacity(1);
        QPainterPath ring;
        ring.addRoundedRect(track.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
        FocusRing::paint(painter, ring);
    }
}
