#include "ui/kit/GlyphView.h"

#include <QPainter>

#include <cmath>

GlyphView::GlyphView(Glyphs::Glyph glyph, qreal pointSize, Typography::Weight weight, const QColor& color,
                     QWidget* parent)
    : QWidget(parent)
    , m_glyph(glyph)
    , m_pointSize(pointSize)
    , m_weight(weight)
    , m_color(color)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void GlyphView::setGlyph(Glyphs::Glyph glyph)
{
    if (glyph == m_glyph)
        return;
    m_glyph = glyph;
    changeShape();
}

void GlyphView::setPointSize(qreal pointSize)
{
    if (pointSize == m_pointSize)
        return;
    m_pointSize = pointSize;
    changeShape();
}

void GlyphView::setWeight(Typography::Weight weight)
{
    if (weight == m_weight)
        return;
    m_weight = weight;
    changeShape();
}

void GlyphView::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

QSize GlyphView::sizeHint() const
{
    const QSizeF size = Glyphs::size(m_glyph, m_pointSize, m_weight);
    return {int(std::ceil(size.width())), int(std::ceil(size.height()))};
}

void GlyphView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Glyphs::paint(painter, QRectF(rect()), m_glyph, m_pointSize, m_weight, m_color);
}

void GlyphView::changeShape()
{
    updateGeometry();
    update();
}
