#pragma once

#include <QPainterPath>
#include <QRectF>

namespace Shapes {

// How far a continuous corner reaches along each edge, in multiples of its radius.
inline constexpr qreal kContinuousCornerReach = 1.52866483;

// A rounded rectangle whose corners ease into the edges (curvature grows gradually instead of
// jumping as a circular arc does). When the rectangle is too small for the smooth corners to
// fit, it falls back to circular corners with the radius clamped to half the shorter side.
QPainterPath continuousRoundedRect(const QRectF& rect, qreal radius);

} // namespace Shapes
