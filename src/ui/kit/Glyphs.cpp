#include "ui/kit/Glyphs.h"

#include <QHash>
#include <QPainter>
#include <QPainterPathStroker>

#include <array>
#include <cmath>
#include <numbers>

namespace Glyphs {

namespace {

// Outlines are built once per glyph and weight on a large em and scaled down when drawn, so the
// boolean operations that merge strokes flatten curves far below a device pixel.
constexpr qreal kEm = 1000.0;

QPointF em(qreal x, qreal y)
{
    return {x * kEm, y * kEm};
}

// A round-capped, round-joined stroke of `line` as a filled outline.
QPainterPath stroked(const QPainterPath& line, qreal width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width * kEm);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    QPainterPath outline = stroker.createStroke(line);
    outline.setFillRule(Qt::WindingFill);
    return outline;
}

QPainterPath circle(QPointF centre, qreal radius)
{
    QPainterPath path;
    path.addEllipse(em(centre.x(), centre.y()), radius * kEm, radius * kEm);
    return path;
}

QPainterPath polyline(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF& p : points) {
        if (first)
            path.moveTo(em(p.x(), p.y()));
        else
            path.lineTo(em(p.x(), p.y()));
        first = false;
    }
    return path;
}

QPainterPath plus(qreal w)
{
    const qreal arm = 0.38 - w / 2;
    QPainterPath lines = polyline({{-arm, 0}, {arm, 0}});
    lines.addPath(polyline({{0, -arm}, {0, arm}}));
    return stroked(lines, w);
}

QPainterPath ellipsis(qreal w)
{
    const qreal r = 0.05 + w * 0.55;
    QPainterPath dots;
    for (qreal x : {-0.34, 0.0, 0.34})
        dots.addPath(circle({x, 0}, r));
    return dots;
}

QPainterPath chevron(qreal w, bool up)
{
    const qreal halfWidth = 0.34 - w / 2;
    const qreal halfHeight = 0.18 - w / 4;
    const qreal dir = up ? 1.0 : -1.0;
    return stroked(polyline({{-halfWidth, dir * halfHeight}, {0, -dir * halfHeight}, {halfWidth, dir * halfHeight}}),
                   w);
}

QPainterPath exclamationTriangle(qreal w)
{
    // A triangle with rounded corners: the stroke of a smaller triangle, filled in.
    const qreal corner = 0.09;
    QPainterPath core =
        polyline({{0, -0.40 + corner}, {0.48 - corner, 0.38 - corner * 0.6}, {-0.48 + corner, 0.38 - corner * 0.6}});
    core.closeSubpath();
    QPainterPath triangle = stroked(core, corner * 2).united(core);

    const qreal bar = 0.07 + w * 0.35;
    QPainterPath mark = stroked(polyline({{0, -0.17}, {0, 0.09}}), bar);
    mark.addPath(circle({0, 0.23}, bar * 0.62));
    return triangle.subtracted(mark);
}

QPainterPath bitcoinCircle(qreal w)
{
    const qreal ring = w * 0.85;
    QPainterPath ringLine = circle({0, 0}, 0.47);
    QPainterPath result = stroked(ringLine, ring);

    // The ₿ sign: a stem, two bowls (the lower one wider), and the two ticks through the top and bottom.
    const qreal s = w * 0.9;
    const qreal left = -0.12;
    const qreal top = -0.21;
    const qreal middle = -0.015;
    const qreal bottom = 0.21;
    QPainterPath sign;
    sign.moveTo(em(left, top));
    sign.lineTo(em(left, bottom));
    sign.moveTo(em(left, top));
    sign.lineTo(em(0.02, top));
    sign.cubicTo(em(0.15, top), em(0.15, middle), em(0.02, middle));
    sign.lineTo(em(left, middle));
    sign.moveTo(em(0.02, middle));
    sign.lineTo(em(0.04, middle));
    sign.cubicTo(em(0.19, middle), em(0.19, bottom), em(0.04, bottom));
    sign.lineTo(em(left, bottom));
    for (qreal x : {-0.06, 0.03}) {
        sign.moveTo(em(x, top - 0.075));
        sign.lineTo(em(x, top));
        sign.moveTo(em(x, bottom));
        sign.lineTo(em(x, bottom + 0.075));
    }
    return result.united(stroked(sign, s));
}

QPainterPath arrowUturnBackward(qreal w)
{
    const qreal topY = -0.17;
    const qreal bottomY = 0.29;
    const qreal radius = (bottomY - topY) / 2;
    const qreal turnX = 0.13;
    QPainterPath line;
    line.moveTo(em(-0.38, topY));
    line.lineTo(em(turnX, topY));
    line.arcTo(QRectF(em(turnX - radius, topY), em(turnX + radius, bottomY)), 90, -180);
    line.lineTo(em(-0.10, bottomY));
    const qreal head = 0.17;
    QPainterPath arrowHead = polyline({{-0.38 + head, topY - head}, {-0.38, topY}, {-0.38 + head, topY + head}});
    line.addPath(arrowHead);
    return stroked(line, w);
}

QPainterPath magnifyingglass(qreal w)
{
    const QPointF centre(-0.06, -0.06);
    const qreal radius = 0.29;
    QPainterPath lens = stroked(circle(centre, radius), w);
    const qreal c = std::numbers::sqrt2 / 2;
    QPainterPath handle =
        polyline({{centre.x() + (radius + w * 0.2) * c, centre.y() + (radius + w * 0.2) * c}, {0.38, 0.38}});
    return lens.united(stroked(handle, w * 1.35));
}

QPainterPath xmarkCircle(qreal w)
{
    const qreal ring = w * 0.85;
    QPainterPath result = stroked(circle({0, 0}, 0.47), ring);
    const qreal arm = 0.15;
    QPainterPath cross = polyline({{-arm, -arm}, {arm, arm}});
    cross.addPath(polyline({{-arm, arm}, {arm, -arm}}));
    return result.united(stroked(cross, w));
}

QPainterPath xmark(qreal w)
{
    const qreal arm = 0.3 - w / 2;
    QPainterPath cross = polyline({{-arm, -arm}, {arm, arm}});
    cross.addPath(polyline({{-arm, arm}, {arm, -arm}}));
    return stroked(cross, w);
}

// A bell: a dome flaring to a rim, a knob on top and the clapper under the rim.
QPainterPath bell(qreal w, bool filled)
{
    QPainterPath body;
    body.moveTo(em(-0.38, 0.20));
    body.cubicTo(em(-0.28, 0.12), em(-0.27, 0.02), em(-0.27, -0.06));
    body.cubicTo(em(-0.27, -0.26), em(-0.15, -0.35), em(0, -0.35));
    body.cubicTo(em(0.15, -0.35), em(0.27, -0.26), em(0.27, -0.06));
    body.cubicTo(em(0.27, 0.02), em(0.28, 0.12), em(0.38, 0.20));
    body.closeSubpath();
    QPainterPath result = stroked(body, w);
    if (filled) {
        result = result.united(body);
    }
    result = result.united(stroked(polyline({{0, -0.35}, {0, -0.41}}), w));
    QPainterPath clapper;
    const qreal r = 0.09;
    clapper.moveTo(em(-r, 0.20));
    clapper.arcTo(QRectF(em(-r, 0.20 - r), em(r, 0.20 + r)), 180, 180);
    return result.united(filled ? clapper : stroked(clapper, w));
}

QPainterPath build(Glyph glyph, Typography::Weight weight)
{
    const qreal w = strokeFraction(weight);
    QPainterPath path;
    switch (glyph) {
    case Glyph::Plus:
        path = plus(w);
        break;
    case Glyph::Ellipsis:
        path = ellipsis(w);
        break;
    case Glyph::ExclamationmarkTriangleFill:
        path = exclamationTriangle(w);
        break;
    case Glyph::ChevronUp:
        path = chevron(w, true);
        break;
    case Glyph::ChevronDown:
        path = chevron(w, false);
        break;
    case Glyph::BitcoinsignCircle:
        path = bitcoinCircle(w);
        break;
    case Glyph::ArrowUturnBackward:
        path = arrowUturnBackward(w);
        break;
    case Glyph::Magnifyingglass:
        path = magnifyingglass(w);
        break;
    case Glyph::XmarkCircle:
        path = xmarkCircle(w);
        break;
    case Glyph::Xmark:
        path = xmark(w);
        break;
    case Glyph::Bell:
        path = bell(w, false);
        break;
    case Glyph::BellFill:
        path = bell(w, true);
        break;
    }
    // Each builder picked its fill rule: non-zero for merged strokes, odd-even for boolean results.
    return path.translated(-path.boundingRect().center());
}

// Built on the em; a handful of glyphs times five weights, so the cache never grows beyond 60.
const QPainterPath& unitPath(Glyph glyph, Typography::Weight weight)
{
    static QHash<int, QPainterPath> cache;
    const int key = int(glyph) * 16 + int(weight);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.insert(key, build(glyph, weight));
    return *it;
}

qreal scaleFor(qreal pointSize)
{
    return std::isfinite(pointSize) && pointSize > 0 ? pointSize / kEm : 0.0;
}

} // namespace

qreal strokeFraction(Typography::Weight weight)
{
    switch (weight) {
    case Typography::Weight::Light:
        return 0.060;
    case Typography::Weight::Regular:
        return 0.078;
    case Typography::Weight::Medium:
        return 0.090;
    case Typography::Weight::Semibold:
        return 0.102;
    case Typography::Weight::Bold:
        return 0.118;
    }
    return 0.078;
}

QPainterPath path(Glyph glyph, qreal pointSize, Typography::Weight weight)
{
    const qreal scale = scaleFor(pointSize);
    return QTransform::fromScale(scale, scale).map(unitPath(glyph, weight));
}

QSizeF size(Glyph glyph, qreal pointSize, Typography::Weight weight)
{
    return unitPath(glyph, weight).boundingRect().size() * scaleFor(pointSize);
}

void paint(QPainter& painter, const QRectF& box, Glyph glyph, qreal pointSize, Typography::Weight weight,
           const QColor& color)
{
    const qreal scale = scaleFor(pointSize);
    if (scale <= 0)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center());
    painter.scale(scale, scale);
    painter.fillPath(unitPath(glyph, weight), color);
    painter.restore();
}

} // namespace Glyphs
