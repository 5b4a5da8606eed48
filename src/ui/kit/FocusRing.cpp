#include "ui/kit/FocusRing.h"

#include "ui/kit/Palette.h"

#include <QPainter>
#include <QWidget>

namespace {
constexpr qreal kWidth = 2;
constexpr qreal kOpacity = 0.5;
} // namespace

bool FocusRing::shows(const QWidget& widget)
{
    return widget.hasFocus() && widget.window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void FocusRing::paint(QPainter& painter, const QPainterPath& shape)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(shape, QPen(Palette::blue(kOpacity), kWidth));
    painter.restore();
}

void FocusRing::markKeyboardMove(QWidget& widget)
{
    widget.window()->setAttribute(Qt::WA_KeyboardFocusChange);
}
