#include "ui/kit/Palette.h"
#include "ui/kit/TokenIconView.h"
#include "ui/kit/TrendSparklineView.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPolygonF>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

namespace {

QList<double> thirteenPoints()
{
    // The detail panel's series: seven days with the wobble between them.
    const QList<double> trend{100, 103, 101, 98, 99, 104, 102};
    QList<double> values;
    for (int i = 0; i < trend.size(); ++i) {
        const double w = std::sin(i * 0.9) * 0.8;
        if (i > 0)
            values.append(trend[i] - 0.6 * w);
        values.append(trend[i] + w);
    }
    return values;
}

QImage canvas(QSize size, qreal ratio)
{
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    return image;
}

void paintSparkline(benchmark::State& state)
{
    const qreal ratio = qreal(state.range(0));
    const TrendSparklineView::Params params{thirteenPoints(), Palette::green(), false, true, true, true, 100.0, 2.0};
    QImage image = canvas({112, 42}, ratio);
    QPainter painter(&image);
    for (auto _ : state)
        TrendSparklineView::paint(painter, QRectF(0, 0, 112, 42), params);
}
BENCHMARK(paintSparkline)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The floor under a sparkline: the same 13 values scaled into the same rectangle and stroked as
// one antialiased polyline of the same width, with no fill, grid, baseline or smoothing. QPen's
// own square caps and bevel joins are the cheapest stroke; round joins, as ours has, cost about
// half as much again on a polyline's sharp corners.
void paintSparklineReference(benchmark::State& state)
{
    const qreal ratio = qreal(state.range(0));
    const QList<double> values = thirteenPoints();
    const QRectF area = QRectF(0, 0, 112, 42).adjusted(8, 4, -8, -4);
    QImage image = canvas({112, 42}, ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::green(), 2.0));
    for (auto _ : state) {
        const auto [low, high] = std::minmax_element(values.cbegin(), values.cend());
        const double span = std::max(*high - *low, 1e-9);
        QPolygonF line;
        line.reserve(values.size());
        for (qsizetype i = 0; i < values.size(); ++i) {
            line.append(QPointF(area.left() + area.width() * double(i) / double(values.size() - 1),
                                area.bottom() - area.height() * (values[i] - *low) / span));
        }
        painter.drawPolyline(line);
    }
}
BENCHMARK(paintSparklineReference)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void paintIconFromCache(benchmark::State& state)
{
    const qreal ratio = qreal(state.range(0));
    QImage logo(128, 128, QImage::Format_ARGB32_Premultiplied);
    logo.fill(Palette::orange());
    // Prepared once when the logo arrives (or the ratio changes), as the widget does.
    const QImage prepared = TokenIconView::prepareLogo(logo, 52, ratio);
    QImage image = canvas({52, 52}, ratio);
    QPainter painter(&image);
    for (auto _ : state)
        TokenIconView::paint(painter, QRectF(0, 0, 52, 52), QStringLiteral("BTC"), prepared, 1.0);
}
BENCHMARK(paintIconFromCache)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The floor under an icon from cache: one QPainter::drawImage of a finished image of the same
// size and ratio at the same place.
void paintIconFromCacheReference(benchmark::State& state)
{
    const qreal ratio = qreal(state.range(0));
    QImage cached(QSize(52, 52) * ratio, QImage::Format_ARGB32_Premultiplied);
    cached.setDevicePixelRatio(ratio);
    cached.fill(Qt::transparent);
    {
        QPainter circle(&cached);
        circle.setRenderHint(QPainter::Antialiasing);
        circle.setPen(Qt::NoPen);
        circle.setBrush(Palette::orange());
        circle.drawEllipse(QRectF(0, 0, 52, 52));
    }
    QImage image = canvas({52, 52}, ratio);
    QPainter painter(&image);
    for (auto _ : state)
        painter.drawImage(QPointF(0, 0), cached);
}
BENCHMARK(paintIconFromCacheReference)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void paintIconBadge(benchmark::State& state)
{
    const qreal ratio = qreal(state.range(0));
    QImage image = canvas({52, 52}, ratio);
    QPainter painter(&image);
    for (auto _ : state)
        TokenIconView::paint(painter, QRectF(0, 0, 52, 52), QStringLiteral("BTC"), QImage(), 0.0);
}
BENCHMARK(paintIconBadge)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The widget path: a paint event through QWidget::render, logo already prepared.
void renderIconWidget(benchmark::State& state)
{
    TokenSummary token;
    token.symbol = QStringLiteral("BTC");
    TokenIconView icon(token, 52);
    QImage image = canvas({52, 52}, 1);
    for (auto _ : state)
        icon.render(&image);
}
BENCHMARK(renderIconWidget)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
