#include "views/Palette.h"
#include "views/TokenIconView.h"
#include "views/TrendSparklineView.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

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
