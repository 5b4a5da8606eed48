// The drawing kit the views are made of: colours, fonts, shapes, springs, glyphs, cached layers,
// and the trend sparkline.
#include "Pixels.h"
#include "views/GlyphView.h"
#include "views/Glyphs.h"
#include "views/LayerCache.h"
#include "views/Palette.h"
#include "views/Shapes.h"
#include "views/Spring.h"
#include "views/SpringAnimation.h"
#include "views/TrendSparklineView.h"
#include "views/Typography.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QSignalSpy>
#include <QTest>
#include <QTextLayout>

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

QImage renderChart(const Params& params, qreal ratio)
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
        const QFont semibold = Typography::font(12, Weight::Semibold);
        QVERIFY(semibold.weight() >= QFont::Medium && semibold.weight() < QFont::Bold);
        // Fractional sizes round to whole pixels and report the factor back to the exact size.
        const QFont monogram = Typography::font(12.4, Weight::Bold);
        QCOMPARE(monogram.pixelSize(), 12);
        QCOMPARE(Typography::exactScale(monogram, 12.4), 12.4 / 12);
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
        const QStringList styles = QFontDatabase::styles(unified);
        if (styles.contains(QStringLiteral("Medium"), Qt::CaseInsensitive)) {
            QCOMPARE(QFontInfo(semibold).styleName(), QStringLiteral("Medium"));
        }
    }

    void continuousRoundedRectStaysInsideItsRect()
    {
        const QRectF rect(10, 20, 112, 42);
        const QPainterPath path = Shapes::continuousRoundedRect(rect, 10);
        QCOMPARE(path.boundingRect(), rect);
        QVERIFY(path.contains(rect.center()));
        // The edges are straight between the corners' reach: mid-edge points lie on the outline.
        QVERIFY(path.contains(QPointF(rect.center().x(), rect.top() + 0.01)));
        QVERIFY(path.contains(QPointF(rect.left() + 0.01, rect.center().y())));
        // On the diagonal the corner is about as deep as a circular one (2.93 for radius 10)...
        QVERIFY(!path.contains(rect.bottomRight() - QPointF(2.5, 2.5)));
        QVERIFY(path.contains(rect.bottomRight() - QPointF(3.5, 3.5)));
        // ...but it starts bending earlier: where a circular corner meets the edge, it has left it,
        // and it leaves the edge 1.5287 radii from the corner.
        QVERIFY(!path.contains(rect.topRight() + QPointF(-10, 0.03)));
        QVERIFY(path.contains(QPointF(rect.left() + 15.4, rect.top() + 0.001)));

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
        QCOMPARE(animation.target(), 10.0);
        QCOMPARE(animation.state(), QAbstractAnimation::Running);
        QVERIFY(animation.duration() > 100 && animation.duration() < 1000);
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

    void glyphsAreNamedCentredAndScaled()
    {
        const QStringList names{
            "plus",         "ellipsis",           "exclamationmark.triangle.fill", "chevron.up",
            "chevron.down", "bitcoinsign.circle", "arrow.uturn.backward",          "magnifyingglass",
            "xmark.circle"};
        for (const QString& name : names) {
            const std::optional<Glyphs::Glyph> glyph = Glyphs::fromName(name);
            QVERIFY2(glyph, qPrintable(name));
            QCOMPARE(Glyphs::name(*glyph), name);

            const QPainterPath path = Glyphs::path(*glyph, 17, Weight::Regular);
            QVERIFY2(!path.isEmpty(), qPrintable(name));
            // Centred, and about the point size, never beyond it by much.
            const QRectF box = path.boundingRect();
            QVERIFY2(qAbs(box.center().x()) < 1e-6 && qAbs(box.center().y()) < 1e-6, qPrintable(name));
            QVERIFY2(box.width() > 17 * 0.3 && box.width() < 17 * 1.1 && box.height() < 17 * 1.1, qPrintable(name));
        }
        QVERIFY(!Glyphs::fromName(u"star.fill"));

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
        QVERIFY(hint.width() >= 8 && hint.width() <= 11 && hint.height() >= 4 && hint.height() <= 8);
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
        QCOMPARE(first.devicePixelRatio(), 2.0);
        QCOMPARE(first.pixelColor(10, 10).alpha(), 128);
        QCOMPARE(first.pixelColor(0, 0).alpha(), 0);

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
        QCOMPARE(target.pixelColor(20, 20).red(), 127);
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
        QTest::newRow("flat, sub-cent") << QList<double>{7e-6, 7e-6} << QList<QPointF>{{8, 34}, {104, 34}};
        // A token priced in millionths still shows its swing.
        QTest::newRow("sub-cent") << QList<double>{2e-6, 4e-6, 0, 3e-6}
                                  << QList<QPointF>{{8, 21}, {40, 8}, {72, 34}, {104, 14.5}};
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
        renderChart(nothing, 1);
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
        QCOMPARE(chartPart, renderChart(params, 1));
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
        const qreal sampleY = 14.25;
        const qreal opacityThere = 0.26 + (0.02 - 0.26) * sampleY / 42;
        QVERIFY2(near(at(filled, 56.25, sampleY), overWhite(tint, opacityThere)), describe(at(filled, 56.25, sampleY)));
        const qreal lowerY = 30.25;
        QVERIFY(near(at(filled, 56.25, lowerY), overWhite(tint, 0.26 + (0.02 - 0.26) * lowerY / 42)));
        QCOMPARE(at(filled, 2, 20), QColor(Qt::white)); // left of the first sample

        // Background and grid: black at 0.035 inside the rounded box, corners untouched; the grid
        // darkens its lines.
        const Params framed{{0, 10}, tint, true, false, true, false, std::nullopt, 2};
        const QImage boxed = renderChart(framed, ratio);
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
        const QImage image = renderChart(single, 2);
        const QColor dash = overWhite(tint, 0.34);
        QVERIFY2(near(at(image, 7.75, 33.75), dash), describe(at(image, 7.75, 33.75)));
        QVERIFY(near(at(image, 7.75, 34.25), dash));
        QCOMPARE(at(image, 11.75, 34.25), QColor(Qt::white));
        QVERIFY(near(at(image, 14.75, 34.25), dash));
        QCOMPARE(at(image, 56, 20), QColor(Qt::white));
        QCOMPARE(at(image, 56, 30), QColor(Qt::white));

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
