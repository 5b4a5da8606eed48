#include "views/GlyphView.h"
#include "views/Glyphs.h"
#include "views/LayerCache.h"
#include "views/Palette.h"
#include "views/Shapes.h"
#include "views/Spring.h"
#include "views/SpringAnimation.h"
#include "views/Typography.h"

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

#include <cmath>
#include <limits>

using Typography::Weight;

class TestViewKit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void colorsClampAndCombineOpacity()
    {
        // Out-of-range and NaN inputs clamp instead of tripping QColor's range warnings.
        QCOMPARE(Palette::rgb(2, -1, std::numeric_limits<double>::quiet_NaN(), 7).rgba(), qRgba(255, 0, 0, 255));

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
        QCOMPARE(Typography::font(std::numeric_limits<double>::quiet_NaN()).pixelSize(), 1);

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
        QVERIFY(
            Shapes::continuousRoundedRect(pill, std::numeric_limits<double>::quiet_NaN()).contains(QPointF(0.1, 0.1)));
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
        QCOMPARE((Spring{0.2, 1.0}.settlingTime(std::numeric_limits<double>::quiet_NaN(), 0, 0.001)), 0.0);
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
};

QTEST_MAIN(TestViewKit)
#include "tst_viewkit.moc"
