#include "ui/kit/TrendSparklineView.h"

#include "ui/kit/LayerCache.h"
#include "ui/kit/Palette.h"
#include "ui/kit/Shapes.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal kMinRange = 0.0001;
constexpr qreal kGridInset = 4.0;
constexpr qreal kBaselineInset = 6.0;
constexpr qreal kBackgroundRadius = 10.0;
constexpr qreal kMiterLimit = 10.0;
// Beyond this a reference line is far off the chart; skipping it keeps absurd coordinates away
// from the rasteriser.
constexpr qreal kFarOff = 1.0e5;

struct Extremes {
    double min = 0.0;
    double max = 1.0;
    bool any = false;
};

// A later sample replaces an extreme only if strictly beyond it; non-finite samples are ignored.
Extremes extremes(const QList<double>& values)
{
    Extremes e;
    for (double v : values) {
        if (!std::isfinite(v))
            continue;
        if (!e.any) {
            e.min = e.max = v;
            e.any = true;
            continue;
        }
        if (v < e.min)
            e.min = v;
        if (v > e.max)
            e.max = v;
    }
    return e;
}

// (v - min) / range, without overflowing when the series spans most of the double range.
double fraction(double v, double min, double max)
{
    const double range = max - min;
    // The smallest range keeps a flat series on the bottom line. Below 1 it shrinks with the
    // values, or a token priced in millionths would draw a real weekly swing as a flat line.
    const double magnitude = std::max(std::abs(min), std::abs(max));
    const double minRange = magnitude > 0 && magnitude < 1 ? kMinRange * magnitude : kMinRange;
    if (std::isfinite(range))
        return (v - min) / std::max(range, minRange);
    return (v / 2 - min / 2) / (max / 2 - min / 2);
}

qreal innerHeight(const QSizeF& size)
{
    return std::max(size.height() - 2 * TrendSparklineView::kInset, 1.0);
}

QString layerKey(const char* kind, const QSizeF& size, qreal ratio)
{
    return QStringLiteral("TrendSparklineView|%1|%2x%3|%4")
        .arg(QLatin1StringView(kind))
        .arg(size.width())
        .arg(size.height())
        .arg(ratio);
}

void drawBackground(QPainter& painter, const QSizeF& size)
{
    painter.fillPath(Shapes::continuousRoundedRect(QRectF(QPointF(), size), kBackgroundRadius), Palette::black(0.035));
}

void drawGrid(QPainter& painter, const QSizeF& size)
{
    QPen pen(Palette::black(0.08), 0.8, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(kMiterLimit);
    painter.strokePath(TrendSparklineView::grid(size), pen);
}

} // namespace

QList<QPointF> TrendSparklineView::normalizedPoints(const QList<double>& values, const QSizeF& size)
{
    const qsizetype n = values.size();
    if (n < 2)
        return {};
    const Extremes e = extremes(values);
    if (!e.any)
        return {};
    const qreal innerW = std::max(size.width() - 2 * kInset, 1.0);
    const qreal innerH = innerHeight(size);
    QList<QPointF> points;
    points.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        const double v = values[i];
        if (!std::isfinite(v))
            continue;
        const qreal x = kInset + innerW * qreal(i) / qreal(n - 1);
        const qreal y = kInset + innerH * (1.0 - fraction(v, e.min, e.max));
        points.append({x, y});
    }
    if (points.size() < 2)
        return {};
    return points;
}

std::optional<qreal> TrendSparklineView::baselineY(const QList<double>& values, std::optional<double> baselineValue,
                                                   const QSizeF& size)
{
    if (!baselineValue || !std::isfinite(*baselineValue))
        return std::nullopt;
    const Extremes e = extremes(values);
    const qreal y = kInset + innerHeight(size) * (1.0 - fraction(*baselineValue, e.min, e.max));
    if (!std::isfinite(y))
        return std::nullopt;
    return y;
}

QPainterPath TrendSparklineView::grid(const QSizeF& size)
{
    const qreal w = size.width();
    const qreal h = size.height();
    const qreal step = w * 0.25;
    QPainterPath path;
    for (int i = 1; i <= 3; ++i) {
        path.moveTo(i * step, kGridInset);
        path.lineTo(i * step, h - kGridInset);
    }
    for (int i = 1; i <= 2; ++i) {
        const qreal y = i * (h / 3);
        path.moveTo(kGridInset, y);
        path.lineTo(w - kGridInset, y);
    }
    return path;
}

QPainterPath TrendSparklineView::areaFill(const QList<QPointF>& points, const QSizeF& size)
{
    QPainterPath path;
    if (points.isEmpty())
        return path;
    const qreal bottom = size.height() - kInset;
    path.moveTo(points.first().x(), bottom);
    for (const QPointF& p : points)
        path.lineTo(p);
    path.lineTo(points.last().x(), bottom);
    path.closeSubpath();
    return path;
}

QPainterPath TrendSparklineView::smoothedPath(const QList<QPointF>& points)
{
    QPainterPath path;
    if (points.isEmpty())
        return path;
    path.moveTo(points.first());
    for (qsizetype i = 1; i < points.size(); ++i) {
        const QPointF& previous = points[i - 1];
        const QPointF& current = points[i];
        path.quadTo(previous, (previous + current) * 0.5);
    }
    path.quadTo(points.last(), points.last());
    return path;
}

QRectF TrendSparklineView::chartRect(const QRectF& container)
{
    QRectF rect(0, 0, kWidth, kHeight);
    rect.moveCenter(container.center());
    return rect;
}

void TrendSparklineView::paint(QPainter& painter, const QRectF& container, const Params& params)
{
    const QRectF chart = chartRect(container);
    const QSizeF size = chart.size();

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(chart.topLeft());

    // Background and grid depend on nothing but the size: copied from a cached layer when the
    // chart sits on whole device pixels, drawn as vectors otherwise.
    const qreal ratio = LayerCache::deviceRatio(painter);
    if (params.showsBackground) {
        const QImage layer = LayerCache::layer(layerKey("background", size, ratio), size, ratio,
                                               [size](QPainter& p) { drawBackground(p, size); });
        if (!LayerCache::drawExact(painter, QPointF(), layer))
            drawBackground(painter, size);
    }
    if (params.showsGrid) {
        const QImage layer =
            LayerCache::layer(layerKey("grid", size, ratio), size, ratio, [size](QPainter& p) { drawGrid(p, size); });
        if (!LayerCache::drawExact(painter, QPointF(), layer))
            drawGrid(painter, size);
    }

    const QList<QPointF> points = normalizedPoints(params.values, size);

    if (params.showsAreaFill && !points.isEmpty()) {
        QLinearGradient gradient(QPointF(size.width() / 2, 0), QPointF(size.width() / 2, size.height()));
        gradient.setColorAt(0.0, Palette::withOpacity(params.tint, 0.26));
        gradient.setColorAt(1.0, Palette::withOpacity(params.tint, 0.02));
        painter.fillPath(areaFill(points, size), gradient);
    }

    if (params.showsBaseline) {
        const std::optional<qreal> y = baselineY(params.values, params.baselineValue, size);
        if (y && std::abs(*y) < kFarOff) {
            QPen pen(Palette::withOpacity(params.tint, 0.34), 1.0, Qt::CustomDashLine, Qt::RoundCap, Qt::MiterJoin);
            pen.setMiterLimit(kMiterLimit);
            pen.setDashPattern({4.0, 3.0});
            pen.setDashOffset(0);
            painter.setPen(pen);
            painter.drawLine(QPointF(kBaselineInset, *y), QPointF(size.width() - kBaselineInset, *y));
        }
    }

    if (!points.isEmpty() && params.lineWidth > 0 && std::isfinite(params.lineWidth)) {
        QPen pen(params.tint, std::min<qreal>(params.lineWidth, kHeight), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        pen.setMiterLimit(kMiterLimit);
        painter.strokePath(smoothedPath(points), pen);
    }

    painter.restore();
}
