#pragma once

#include <QImage>
#include <QPointF>
#include <QSizeF>
#include <QString>

#include <functional>

class QPainter;

// Pictures that never change for a given size and pixel ratio (a disc and its outline, a badge,
// a grid), drawn once and then copied. Antialiased translucent fills cost the raster engine tens
// of microseconds each, and a list repaints many rows at once; a copy costs one or two.
//
// The cache is per thread (images may be painted off the GUI thread) and bounded in bytes.
namespace LayerCache {

inline constexpr qsizetype kMaxBytes = 8 * 1024 * 1024;

// A transparent image of `size` at `ratio` with `draw` painting on it in points, antialiased.
QImage render(const QSizeF& size, qreal ratio, const std::function<void(QPainter&)>& draw);

// The layer under `key`, rendered the first time it is asked for. Include the size and ratio in the key.
QImage layer(const QString& key, const QSizeF& size, qreal ratio, const std::function<void(QPainter&)>& draw);

// The device pixel ratio of what the painter paints on (2 on a 2x screen or image), at least 1.
qreal deviceRatio(const QPainter& painter);

// Copies `layer` with its top-left corner at `topLeft` if that maps 1:1 onto whole device
// pixels; returns false, drawing nothing, when it would have to be resampled.
bool drawExact(QPainter& painter, const QPointF& topLeft, const QImage& layer);

} // namespace LayerCache
