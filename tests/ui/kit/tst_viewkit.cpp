// The drawing kit the views are made of: colours, fonts, shapes, springs, glyphs, cached layers,
// and the trend sparkline.
#include "testlib/Pixels.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/LayerCache.h"
#include "ui/kit/Palette.h"
#include "ui/kit/Shapes.h"
#include "ui/kit/Spring.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/kit/TrendSparklineView.h"
#include "ui/kit/Typography.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QSignalSpy>
#include <QTest>
#include <QTextLayout>
#include <QtMath>

#include <cmath>
#include <limits>

using Params = TrendSparklineView::Params;
using Pixels::at;
using Pixels::describe;
using Pixels::near;
using Typography::Weight;

namespace {

const QSizeF kSize(112, 42);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The chart painted centred on `container`, over white.
QImage renderChart(const Params& params, qreal ratio, const QRectF& container = QRectF(0, 0, 112, 42))
{
    QImage image(QSize(qCeil(container.right()), qCeil(container.bottom())) * ratio,
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QPainter painter(&image);
    TrendSparklineView::paint(painter, container, params);
    return image;
}

} // namespace

class TestViewKit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void colorsClampOutOfRangeInputs()
    {
        // Out-of-range and NaN inputs clamp instead of tripping QColor's range warnings.
        QCOMPARE(Palette::rgb(2, -1, kNaN, 7).rgba(), qRgba(255, 0, 0, 255));
    }

    void fontsUsePixelSizesWeightsAndFamilies()
    {
        // Sizes that are no usable pixel size still give a font Qt accepts.
        QCOMPARE(Typography::font(0).pixelSize(), 1);
        QCOMPARE(Typography::font(kNaN).pixelSize(), 1);

        // With Noto Sans CJK SC installed, Latin and Chinese text come from that one face, whatever
        // the locale, and semibold text is drawn from a real face lighter than bold.
        const QString unified = QStringLiteral("Noto Sans CJK SC");
        if (QFontDatabase::styles(unified).isEmpty())
            QSKIP("Noto Sans CJK SC is not installed");
        QCOMPARE(Typography::defaultFamily(), unified);
        for (const Weight weight : {Weight::Regular, Weight::Semibold}) {
            QTextLayout layout(QStringLiteral("BTC 比特币 Zentrow 24h 涨跌额 -1,546.85"), Typography::font(14, weight));
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            const QList<QGlyphRun> runs = layout.glyphRuns();
            QVERIFY(!runs.isEmpty());
            for (const QGlyphRun& run : runs)
                QCOMPARE(run.rawFont().familyName(), unified);
        }
        if (QFontDatabase::styles(unified).contains(QStringLiteral("Medium"), Qt::CaseInsensitive))
            QCOMPARE(QFontInfo(Typography::font(12, Weight::Semibold)).styleName(), QStringLiteral("Medium"));
    }

    void continuousRoundedRectStaysInsideItsRect()
    {
        const QRectF rect(10, 20, 112, 42);
        const QPainterPath path = Shapes::continuousRoundedRect(rect, 10);
        QCOMPARE(path.boundingRect(), rect);
        // Straight edges between the corners.
        QVERIFY(path.contains(QPointF(rect.center().x(), rect.top() + 0.01)));

        // Too small for the smooth corner, or a radius that is no number: still inside the rect.
        const QRectF pill(0, 0, 60, 20);
        QCOMPARE(Shapes::continuousRoundedRect(pill, 40).boundingRect(), pill);
        QVERIFY(Shapes::continuousRoundedRect(pill, kNaN).contains(QPointF(0.1, 0.1)));
        QVERIFY(Shapes::continuousRoundedRect(QRectF(0, 0, 0, 10), 4).isEmpty());
    }

    void springAnimationReachesItsTarget()
    {
        SpringAnimation::setAnimationsEnabled(true);
        SpringAnimation animation({0.2, 1.0});
        QSignalSpy changes(&animation, &SpringAnimation::valueChanged);
        animation.animateTo(10.0);
        QCOMPARE(animation.state(), QAbstractAnimation::Running);
        QTRY_COMPARE(animation.value(), 10.0);
        QCOMPARE(animation.state(), QAbstractAnimation::Stopped);
        QVERIFY(changes.size() > 2);
        // An undamped spring is given some damping rather than ringing for ever.
        QVERIFY((Spring{0.5, 0.0}.settlingTime(1.0, 0.0, 0.001) <= Spring::kMaxSettlingTime));
        QCOMPARE((Spring{0.2, 1.0}.settlingTime(kNaN, 0, 0.001)), 0.0);
        // Critically damped: every step moves towards the target, none beyond it.
        qreal previous = 0;
        for (const auto& change : std::as_const(changes)) {
            const qreal value = change.at(0).toReal();
            QVERIFY(value >= previous && value <= 10.0);
            previous = value;
        }

        // With animations off the value jumps at once, and a non-finite target is refused.
        SpringAnimation::setAnimationsEnabled(false);
        SpringAnimation instant({0.32, 0.83});
        QSignalSpy jumps(&instant, &SpringAnimation::valueChanged);
        instant.animateTo(0.028);
        QCOMPARE(instant.value(), 0.028);
        QCOMPARE(instant.state(), QAbstractAnimation::Stopped);
        QCOMPARE(jumps.size(), 1);
        instant.animateTo(std::numeric_limits<double>::infinity());
        QCOMPARE(instant.value(), 0.028);
    }

    void glyphsAreCentredAndScaled()
    {
        for (int g = int(Glyphs::Glyph::Plus); g <= int(Glyphs::Glyph::XmarkCircle); ++g) {
            // Centred, and about the point size, never beyond it by much.
            const QRectF box = Glyphs::path(Glyphs::Glyph(g), 17, Weight::Regular).boundingRect();
            QVERIFY2(qAbs(box.center().x()) < 1e-6 && qAbs(box.center().y()) < 1e-6, qPrintable(QString::number(g)));
            QVERIFY2(box.width() > 17 * 0.3 && box.width() < 17 * 1.1 && box.height() < 17 * 1.1,
                     qPrintable(QString::number(g)));
        }
    }

    void layersAreDrawnOnceAndCopiedOnlyWhenExact()
    {
        int draws = 0;
        auto disc = [&draws](QPainter& painter) {
            ++draws;
            painter.setPen(Qt::NoPen);
            painter.setBrush(Palette::black(0.5));
            painter.drawEllipse(QRectF(0, 0, 10, 10));
        };
        const QImage first = LayerCache::layer(QStringLiteral("test|disc|10|2"), QSizeF(10, 10), 2, disc);
        const QImage again = LayerCache::layer(QStringLiteral("test|disc|10|2"), QSizeF(10, 10), 2, disc);
        QCOMPARE(draws, 1);
        QCOMPARE(again, first);
        QCOMPARE(first.size(), QSize(20, 20));

        QImage target(40, 40, QImage::Format_ARGB32_Premultiplied);
        target.setDevicePixelRatio(2);
        target.fill(Qt::white);
        QPainter painter(&target);
        QCOMPARE(LayerCache::deviceRatio(painter), 2.0);
        QVERIFY(LayerCache::drawExact(painter, QPointF(5, 5), first));
        QVERIFY(!LayerCache::drawExact(painter, QPointF(5.25, 5), first));
        // A transform that scales (a row growing in) keeps the device's ratio but needs resampling.
        painter.scale(0.985, 0.985);
        QCOMPARE(LayerCache::deviceRatio(painter), 2.0);
        QVERIFY(!LayerCache::drawExact(painter, QPointF(0, 0), first));
        painter.end();
        QCOMPARE(target.pixelColor(20, 20).red(), 127); // the disc copied at (5, 5), half black
    }

    // The trend sparkline.
    void pointsSpanTheInsetBox_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<QList<QPointF>>("expected");
        QTest::newRow("one value") << QList<double>{5} << QList<QPointF>{};
        QTest::newRow("extremes inside") << QList<double>{2, 4, 0, 3}
                                         << QList<QPointF>{{8, 21}, {40, 8}, {72, 34}, {104, 14.5}};
        // A flat series lies on the bottom inset line, not in the middle.
        QTest::newRow("flat") << QList<double>{7, 7, 7} << QList<QPointF>{{8, 34}, {56, 34}, {104, 34}};
        // A token priced in millionths still shows its swing.
        QTest::newRow("sub-cent") << QList<double>{2e-6, 4e-6, 0, 3e-6}
                                  << QList<QPointF>{{8, 21}, {40, 8}, {72, 34}, {104, 14.5}};
        // Non-finite samples get no point but keep the others' place on the time axis.
        QTest::newRow("gap") << QList<double>{1, kNaN, 3, kInf, 2} << QList<QPointF>{{8, 34}, {56, 8}, {104, 21}};
        QTest::newRow("one finite") << QList<double>{kNaN, 4, -kInf} << QList<QPointF>{};
        // A range wider than the largest double still maps onto the box.
        QTest::newRow("huge range") << QList<double>{-1.7e308, 1.7e308, 0}
                                    << QList<QPointF>{{8, 34}, {56, 8}, {104, 21}};
    }

    void pointsSpanTheInsetBox()
    {
        QFETCH(QList<double>, values);
        QFETCH(QList<QPointF>, expected);
        QCOMPARE(TrendSparklineView::normalizedPoints(values, kSize), expected);
    }

    void baselineIsNeverNaN()
    {
        QCOMPARE(TrendSparklineView::baselineY({1, 2}, kNaN, kSize), std::nullopt);
        QCOMPARE(TrendSparklineView::baselineY({-1.7e308, 1.7e308, 0}, 0.0, kSize), std::optional<qreal>(21));
        // Nothing finite at all, with every layer on, draws without tripping anything.
        renderChart(Params{{kNaN, kInf, -kInf}, Palette::red(), true, true, true, true, kNaN, 2}, 1);
    }

    void chartIsCentredInItsSlot()
    {
        // The row's 154 × 108 detail slot: the chart keeps 112 × 42, with 21 and 33 points free.
        const Params params{{3, 1, 2, 5}, Palette::red(), false, true, true, true, 3, 2.1};
        const QImage slot = renderChart(params, 1, QRectF(0, 0, 154, 108));
        QCOMPARE(slot.copy(21, 33, 112, 42), renderChart(params, 1));
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
        const QImage plain = renderChart(line, ratio);
        QVERIFY2(near(at(plain, 24.25, 33.75), tint), describe(at(plain, 24.25, 33.75)));
        QCOMPARE(at(plain, 24.25, 20), QColor(Qt::white));
        QCOMPARE(at(plain, 56, 10), QColor(Qt::white)); // no grid unless asked for

        // High plateau: the area under it is tinted.
        const QImage filled =
            renderChart(Params{{0, 10, 10, 10, 0}, tint, false, true, false, false, std::nullopt, 2}, ratio);
        QVERIFY2(at(filled, 56.25, 30.25).red() < 255, describe(at(filled, 56.25, 30.25)));
        QCOMPARE(at(filled, 2, 20), QColor(Qt::white)); // left of the first sample
    }
};

QTEST_MAIN(TestViewKit)
#include "tst_viewkit.moc"
