#include "ui/kit/GlyphButton.h"

#include "ui/kit/FocusRing.h"
#include "ui/kit/Shapes.h"

#include <QPainter>

namespace {
constexpr qreal kPressedOpacity = 0.55;
constexpr qreal kFocusRingRadius = 8;
} // namespace

GlyphButton::GlyphButton(Glyphs::Glyph glyph, qreal pointSize, Typography::Weight weight, const QColor& color,
                         QSize frame, QWidget* parent)
    : QAbstractButton(parent)
    , m_glyph(glyph)
    , m_pointSize(pointSize)
    , m_weight(weight)
    , m_color(color)
    , m_frame(frame)
{
    setFixedSize(frame);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::ArrowCursor);
}

QSize GlyphButton::sizeHint() const
{
    return m_frame;
}

bool GlyphButton::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void GlyphButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (isDown()) {
        painter.setOpacity(kPressedOpacity);
    }
    Glyphs::paint(painter, QRectF(rect()), m_glyph, m_pointSize, m_weight, m_color);
    if (FocusRing::shows(*this)) {
        painter.setOpacity(1);
        FocusRing::paint(painter,
                         Shapes::continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kFocusRingRadius));
    }
}
