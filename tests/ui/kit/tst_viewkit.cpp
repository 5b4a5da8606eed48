// The drawing kit the views are made of: colours, fonts, shapes, springs, glyphs, cached layers,
// and the trend sparkline.
#include "testlib/Pixels.h"
#include "ui/kit/GlyphView.h"
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

// `color` at `opacity` over white.
QColor overWhite(const QColor& color, qreal opacity)
{
    auto mix = [opacity](int c) { return int(std::lround(c * opacity + 255 * (1 - opacity))); };
    return QColor(mix(color.red()), mix(color.green()), mix(color.blue()));
}

} // namespace

class TestViewKit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void colorsClampAndCombineOpacity()
    {
        // Out-of-range and NaN inputs clamp instead of tripping QColor's range warnings.
        QCOMPARE(Palette::rgb(2, -1, kNaN, 7).rgba(), qRgba(255, 0, 0, 255));

        // Fading a translucent tint multiplies the opacities.
        const QColor faded = Palette::withOpacity(Palette::green(0.5), 0.26);
        QCOMPARE(faded.rgb(), Palette::green().rgb());
        QVERIFY(qAbs(faded.alphaF() - 0.13f) < 1e-4f);
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
        // Straight edges between the corners; on the diagonal a corner about as deep as a circular one.
        QVERIFY(path.contains(QPointF(rect.center().x(), rect.top() + 0.01)));
        QVERIFY(!path.contains(rect.bottomRight() - QPointF(2.5, 2.5)));
        QVERIFY(path.contains(rect.bottomRight() - QPointF(3.5, 3.5)));

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

        // Retargeting mid-flight starts from where the value is, not from the old start.
        animation.setValue(0);
        animation.animateTo(1.0);
        QTRY_VERIFY(animation.value() > 0.3);
        const qreal midway = animation.value();
        changes.clear();
        animation.animateTo(-1.0);
        QVERIFY(changes.isEmpty() || qAbs(changes.first().at(0).toReal() - midway) < 0.2);
        QTRY_COMPARE(animation.value(), -1.0);

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

        // Knock-outs are real holes: the exclamation mark shows through the filled triangle, the
        // rings of the circled glyphs are hollow around their sign.
        const QPainterPath triangle = Glyphs::path(Glyphs::Glyph::ExclamationmarkTriangleFill, 100, Weight::Regular);
        const QRectF t = triangle.boundingRect();
        QVERIFY(triangle.contains(QPointF(t.center().x() - 20, t.bottom() - 12)));
        QVERIFY(!triangle.contains(QPointF(t.center().x(), t.center().y() + 5)));
        const QPainterPath xmark = Glyphs::path(Glyphs::Glyph::XmarkCircle, 100, Weight::Regular);
        QVERIFY(xmark.contains(QPointF(0, 0)));
        QVERIFY(!xmark.contains(QPointF(0, 30)));
        QVERIFY(xmark.contains(QPointF(0, xmark.boundingRect().bottom() - 2)));
    }

    void glyphsPaintInTheirColour()
    {
        QImage image(34, 34, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            // Centred on a pixel centre, so the 1.33-point bars cover whole pixels.
            Glyphs::paint(painter, QRectF(0.5, 0.5, 34, 34), Glyphs::Glyph::Plus, 17, Weight::Regular,
                          Palette::black(0.68));
        }
        // The crossing of the two bars is covered once, not twice: a translucent colour stays even.
        const int onBar = qRed(image.pixel(17, 12));
        QVERIFY2(qAbs(onBar - 82) <= 3, qPrintable(QString::number(onBar)));
        QCOMPARE(qRed(image.pixel(17, 17)), onBar);
        QCOMPARE(image.pixel(4, 4), qRgb(255, 255, 255));

        GlyphView view(Glyphs::Glyph::ChevronDown, 11, Weight::Semibold, Palette::red(0.72));
        QVERIFY(view.testAttribute(Qt::WA_TransparentForMouseEvents));
        const QSize hint = view.sizeHint();
        view.setPointSize(22);
        QVERIFY(view.sizeHint().width() >= 2 * hint.width() - 2);
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

        // High plateau: the area under it is tinted by the gradient, strongest near the top.
        const Params area{{0, 10, 10, 10, 0}, tint, false, true, false, false, std::nullopt, 2};
        const QImage filled = renderChart(area, ratio);
        const QColor high = at(filled, 56.25, 14.25);
        const QColor low = at(filled, 56.25, 30.25);
        QVERIFY2(high.red() < low.red() && low.red() < 255 && high.red() > 200, describe(high) + ' ' + describe(low));
        QCOMPARE(at(filled, 2, 20), QColor(Qt::white)); // left of the first sample

        // The grid darkens its lines, on the pixel grid (a cached layer copied) and off it (the
        // same layer drawn as vectors, as while a row scales in).
        const Params gridded{{0, 10}, tint, false, false, true, false, std::nullopt, 2};
        for (const qreal o : {0.0, 0.3}) {
            const QImage grid = renderChart(gridded, ratio, QRectF(o, o, 112, 42));
            QVERIFY(at(grid, 84 + o, 20 + o).red() < at(grid, 90 + o, 20 + o).red());
            QVERIFY(at(grid, 50 + o, 14 + o).red() < at(grid, 50 + o, 20 + o).red());
        }
    }

    void fewerThanTwoValuesDrawNoLine()
    {
        // One value with a baseline at it: only the dashed line along the bottom inset remains,
        // 4 on and 3 off from x = 6, in the tint at 0.34.
        const QColor tint = Palette::red();
        const Params single{{5}, tint, false, true, false, true, 5.0, 2};
        const QImage image = renderChart(single, 2);
        const QColor dash = overWhite(tint, 0.34);
        QVERIFY2(near(at(image, 7.75, 33.75), dash), describe(at(image, 7.75, 33.75)));
        QCOMPARE(at(image, 11.75, 34.25), QColor(Qt::white));
        QVERIFY(near(at(image, 14.75, 34.25), dash));
        QCOMPARE(at(image, 56, 20), QColor(Qt::white));

        // Without the baseline nothing at all is drawn.
        const QImage blank = renderChart(Params{{5}, tint, false, true, false, false, 5.0, 2}, 2);
        QImage white(blank.size(), blank.format());
        white.setDevicePixelRatio(2);
        white.fill(Qt::white);
        QCOMPARE(blank, white);
    }
};

QTEST_MAIN(TestViewKit)
#include "tst_viewkit.moc"
