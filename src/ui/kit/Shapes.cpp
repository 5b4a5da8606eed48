#include "ui/kit/Shapes.h"

#include <algorithm>
#include <cmath>

namespace Shapes {

namespace {

// One corner, in units of the radius, measured from the corner point inwards along the two
// edges (u along the horizontal edge, v along the vertical edge): the path arrives along the
// horizontal edge at u = reach, bends through three cubics and leaves along the vertical edge.
struct CornerPoint {
    qreal u;
    qreal v;
};

constexpr CornerPoint kArrive{kContinuousCornerReach, 0.0};
constexpr CornerPoint kCurve1[3]{{1.08849323, 0.0}, {0.86840689, 0.0}, {0.63149399, 0.07491100}};
constexpr CornerPoint kCurve2[3]{{0.37282392, 0.16905899}, {0.16906013, 0.37282401}, {0.07491100, 0.63149399}};
constexpr CornerPoint kCurve3[3]{{0.0, 0.86840689}, {0.0, 1.08849323}, {0.0, kContinuousCornerReach}};

} // namespace

QPainterPath continuousRoundedRect(const QRectF& rect, qreal radius)
{
    QPainterPath path;
    const QRectF r = rect.normalized();
    if (r.isEmpty())
        return path;
    const qreal halfShorter = std::min(r.width(), r.height()) / 2.0;
    if (!(radius > 0.0) || !std::isfinite(radius)) {
        path.addRect(r);
        return path;
    }
    if (radius * kContinuousCornerReach > halfShorter) {
        const qreal clamped = std::min(radius, halfShorter);
        path.addRoundedRect(r, clamped, clamped);
        return path;
    }

    // Each corner maps (u, v) to a point: its corner point plus u and v along inward directions.
    // The order (top-right, bottom-right, bottom-left, top-left) walks clockwise on screen, and
    // corners alternate which edge they arrive on.
    struct Corner {
        QPointF origin;
        QPointF alongArrival;
        QPointF alongDeparture;
    };
    const qreal k = radius;
    const Corner corners[4]{
        {r.topRight(), {-k, 0}, {0, k}},
        {r.bottomRight(), {0, -k}, {-k, 0}},
        {r.bottomLeft(), {k, 0}, {0, -k}},
        {r.topLeft(), {0, k}, {k, 0}},
    };
    auto at = [](const Corner& c, CornerPoint p) { return c.origin + c.alongArrival * p.u + c.alongDeparture * p.v; };

    path.moveTo(at(corners[3], {0.0, kContinuousCornerReach}));
    for (const Corner& c : corners) {
        path.lineTo(at(c, kArrive));
        path.cubicTo(at(c, kCurve1[0]), at(c, kCurve1[1]), at(c, kCurve1[2]));
        path.cubicTo(at(c, kCurve2[0]), at(c, kCurve2[1]), at(c, kCurve2[2]));
        path.cubicTo(at(c, kCurve3[0]), at(c, kCurve3[1]), at(c, kCurve3[2]));
    }
    path.closeSubpath();
    return path;
}

} // namespace Shapes
