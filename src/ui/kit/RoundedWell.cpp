#include "ui/kit/RoundedWell.h"

#include "ui/kit/Shapes.h"

#include <QPainter>

RoundedWell::RoundedWell(const QColor& fill, const QColor& edge, qreal radius, QWidget* parent)
    : QWidget(parent)
    , m_fill(fill)
    , m_edge(edge)
    , m_radius(radius)
{
}

void RoundedWell::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Inset by half a pixel, so the hairline falls on whole pixels.
    const QPainterPath shape = Shapes::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius);
    painter.fillPath(shape, m_fill);
    QPen pen(m_edge, 1);
    pen.setMiterLimit(10);
    painter.strokePath(shape, pen);
}
