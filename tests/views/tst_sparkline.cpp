#include "Pixels.h"
#include "views/Palette.h"
#include "views/TrendSparklineView.h"

#include <QApplication>
#include <QBoxLayout>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <limits>

using Params = TrendSparklineView::Params;
using Pixels::at;
using Pixels::describe;
using Pixels::near;

namespace {

const QSizeF kSize(112, 42);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

QImage render(const Params& params, qreal ratio)
{
    QImage image(QSize(112, 42) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QPainter painter(&image);
    TrendSparklineView::paint(painter, QRectF(0, 0, 112, 42), params);
    return image;
}

// `color` at `opacity` over white.
QColor overWhite(const QColor& color, qreal opacity)
{
    auto mix = [opacity](int c) { return int(std::lround(c * opacity + 255 * (1 - opacity))); };
    return QColor(mix(color.red()), mix(color.green()), mix(color.blue()));
}

} // namespace

class TestSparkline : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pointsSpanTheInsetBox_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<QList<QPointF>>("expected");
        QTest::newRow("one value") << QList<double>{5} << QList<QPointF>{};
        QTest::newRow("extremes inside") << QList<double>{2, 4, 0, 3}
                                         << QList<QPointF>{{8, 21}, {40, 8}, {72, 34}, {104, 14.5}};
        // A flat series lies on the bottom inset line, not in the middle.
        QTest::newRow("flat") << QList<double>{7, 7, 7} << QList<QPointF>{{8, 34}, {56, 34}, {104, 34}};
        // Non-finite samples get no point but keep the others' place on the time axis.
        QTest::newRow("gap") << QList<double>{1, kNaN, 3, kInf, 2} << QList<QPointF>{{8, 34}, {56, 8}, {104, 21}};
        QTest::newRow("one finite") << QList<double>{kNaN, 4, -kInf} << QList<QPointF>{};
    }

    void pointsSpanTheInsetBox()
    {
        QFETCH(QList<double>, values);
        QFETCH(QList<QPointF>, expected);
        QCOMPARE(TrendSparklineView::normalizedPoints(values, kSize), expected);
        // The baseline is not clamped into the box, and a NaN one is none at all.
        QCOMPARE(TrendSparklineView::baselineY({0, 1}, 2.0, kSize), std::optional<qreal>(-18));
        QCOMPARE(TrendSparklineView::baselineY({1, 2}, kNaN, kSize), std::nullopt);
    }

    void nonFiniteAndHugeSeriesStayFinite()
    {
        auto allFinite = [](const QList<QPointF>& points) {
            return std::all_of(points.begin(), points.end(),
                               [](const QPointF& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); });
        };
        // A range wider than the largest double still maps onto the box.
        const QList<double> huge{-1.7e308, 1.7e308, 0};
        const QList<QPointF> points = TrendSparklineView::normalizedPoints(huge, kSize);
        QCOMPARE(points.size(), 3);
        QVERIFY(allFinite(points));
        QCOMPARE(points[0].y(), 34.0);
        QCOMPARE(points[1].y(), 8.0);
        QCOMPARE(points[2].y(), 21.0);
        QCOMPARE(TrendSparklineView::baselineY(huge, 0.0, kSize), std::optional<qreal>(21));

        Params nothing{{kNaN, kInf, -kInf}, Palette::red(), true, true, true, true, kNaN, 2};
        render(nothing, 1);
    }

    void viewIsFixedAndCentredInItsSlot()
    {
        // The row's 154 × 108 detail slot: the chart keeps 112 × 42, with 21 and 33 points free.
        QWidget slot;
        slot.setFixedSize(154, 108);
        auto* layout = new QVBoxLayout(&slot);
        layout->setContentsMargins(0, 0, 0, 0);
        Params params{{3, 1, 2, 5}, Palette::red(), true, true, true, true, 3, 2.1};
        auto* chart = new TrendSparklineView(params);
        layout->addWidget(chart);
        slot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slot));

        // The widget paints what paint() paints, centred in the slot.
        QImage grabbed(154, 108, QImage::Format_ARGB32_Premultiplied);
        grabbed.fill(Qt::white);
        chart->render(&grabbed, QPoint(), QRegion(), QWidget::DrawChildren); // as inside a row: no background
        const QImage chartPart = grabbed.copy(21, 33, 112, 42);
        QImage above(154, 33, grabbed.format());
        above.fill(Qt::white);
        QCOMPARE(grabbed.copy(0, 0, 154, 33), above);
        QCOMPARE(chartPart, render(params, 1));
    }

    void layersPaintWhereTheyShould_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("2x") << 2.0;
    }

    void layersPaintWhereTheyShould()
    {
        QFETCH(qreal, ratio);
        const QColor tint = Palette::green();

        // Flat on the bottom from x = 8 to 72, then up: the line lies on y = 34 for x in 8..56.
        const Params line{{1, 1, 1, 2}, tint, false, false, false, false, std::nullopt, 2.1};
        const QImage plain = render(line, ratio);
        QVERIFY2(near(at(plain, 24.25, 33.75), tint), describe(at(plain, 24.25, 33.75)));
        QCOMPARE(at(plain, 24.25, 20), QColor(Qt::white));
        QCOMPARE(at(plain, 56, 10), QColor(Qt::white)); // no grid unless asked for

        // High plateau: the area under it is tinted by the gradient, strongest near the top.
        const Params area{{0, 10, 10, 10, 0}, tint, false, true, false, false, std::nullopt, 2};
        const QImage filled = render(area, ratio);
        const qreal sampleY = 14.25;
        const qreal opacityThere = 0.26 + (0.02 - 0.26) * sampleY / 42;
        QVERIFY2(near(at(filled, 56.25, sampleY), overWhite(tint, opacityThere)), describe(at(filled, 56.25, sampleY)));
        const qreal lowerY = 30.25;
        QVERIFY(near(at(filled, 56.25, lowerY), overWhite(tint, 0.26 + (0.02 - 0.26) * lowerY / 42)));
        QCOMPARE(at(filled, 2, 20), QColor(Qt::white)); // left of the first sample

        // Background and grid: black at 0.035 inside the rounded box, corners untouched; the grid
        // darkens its lines.
        const Params framed{{0, 10}, tint, true, false, true, false, std::nullopt, 2};
        const QImage boxed = render(framed, ratio);
        QVERIFY(near(at(boxed, 100.25, 24.25), overWhite(Qt::black, 0.035), 2));
        QCOMPARE(at(boxed, 0, 0), QColor(Qt::white));
        QVERIFY(at(boxed, 84, 20).red() < at(boxed, 90, 20).red());
        QVERIFY(at(boxed, 50, 14).red() < at(boxed, 50, 20).red());

        // Off the pixel grid the same layers are drawn as vectors instead of copied.
        QImage shifted(QSize(113, 43) * ratio, QImage::Format_ARGB32_Premultiplied);
        shifted.setDevicePixelRatio(ratio);
        shifted.fill(Qt::white);
        {
            QPainter painter(&shifted);
            TrendSparklineView::paint(painter, QRectF(0.3, 0.3, 112, 42), framed);
        }
        QVERIFY(near(at(shifted, 100.55, 24.55), overWhite(Qt::black, 0.035), 2));
        QCOMPARE(at(shifted, 0, 0), QColor(Qt::white));
        QVERIFY(at(shifted, 84.3, 20.5).red() < at(shifted, 90.5, 20.5).red());
    }

    void fewerThanTwoValuesDrawNoLine()
    {
        // One value with a baseline at it: only the dashed line along the bottom inset remains,
        // 4 on and 3 off from x = 6, in the tint at 0.34.
        const QColor tint = Palette::red();
        const Params single{{5}, tint, false, true, false, true, 5.0, 2};
        const QImage image = render(single, 2);
        const QColor dash = overWhite(tint, 0.34);
        QVERIFY2(near(at(image, 7.75, 33.75), dash), describe(at(image, 7.75, 33.75)));
        QVERIFY(near(at(image, 7.75, 34.25), dash));
        QCOMPARE(at(image, 11.75, 34.25), QColor(Qt::white));
        QVERIFY(near(at(image, 14.75, 34.25), dash));
        QCOMPARE(at(image, 56, 20), QColor(Qt::white));
        QCOMPARE(at(image, 56, 30), QColor(Qt::white));

        // Without the baseline nothing at all is drawn.
        const QImage blank = render(Params{{5}, tint, false, true, false, false, 5.0, 2}, 2);
        QImage white(blank.size(), blank.format());
        white.setDevicePixelRatio(2);
        white.fill(Qt::white);
        QCOMPARE(blank, white);
    }
};

QTEST_MAIN(TestSparkline)
#include "tst_sparkline.moc"
