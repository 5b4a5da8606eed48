#pragma once

#include <QColor>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

class QPainter;

// A small line chart of a series: optional rounded background, light grid, gradient area and
// dashed reference line under a smoothed line. The chart is always 112 × 42 with an 8-point inset
// for the data, centred on the slot it is drawn into. Rows draw it themselves: a list of hundreds
// of rows holds no chart widgets.
//
// Non-finite samples (NaN, ±infinity) are left out of the extremes and get no point; the
// remaining samples keep their place on the time axis, so a gap is bridged by the line.
class TrendSparklineView {
public:
    struct Params {
        QList<double> values;
        QColor tint;
        bool showsBackground = false;
        bool showsAreaFill = false;
        bool showsGrid = false;
        bool showsBaseline = false;
        std::optional<double> baselineValue;
        qreal lineWidth = 2.0;
    };

    static constexpr int kWidth = 112;
    static constexpr int kHeight = 42;
    static constexpr qreal kInset = 8.0;

    // Pure geometry, in the chart's own coordinates (origin top-left, y downwards).
    static QList<QPointF> normalizedPoints(const QList<double>& values, const QSizeF& size);
    static std::optional<qreal> baselineY(const QList<double>& values, std::optional<double> baselineValue,
                                          const QSizeF& size);
    static QPainterPath grid(const QSizeF& size);
    static QPainterPath areaFill(const QList<QPointF>& points, const QSizeF& size);
    static QPainterPath smoothedPath(const QList<QPointF>& points);

    // The 112 × 42 chart centred on `container`; it may overhang a smaller container.
    static QRectF chartRect(const QRectF& container);

    // Draws the chart centred on `container` without clipping, for rows that paint it themselves.
    static void paint(QPainter& painter, const QRectF& container, const Params& params);

    TrendSparklineView() = delete;
};
