#include "testlib/LoopbackHttpServer.h"
#include "views/ImageLoader.h"
#include "views/Palette.h"
#include "views/SpringAnimation.h"
#include "views/TokenIconView.h"

#include <QApplication>
#include <QBuffer>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Reply = LoopbackHttpServer::Reply;

namespace {

TokenSummary token(const QString& symbol, std::optional<QUrl> logo = std::nullopt)
{
    TokenSummary t;
    t.id = symbol.toUpper();
    t.symbol = symbol;
    t.name = symbol;
    t.logoURL = std::move(logo);
    return t;
}

// Left half red, right half blue: filling a square crops the outer quarters away.
QByteArray halfAndHalfPng()
{
    QImage image(64, 32, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(32, 0, 32, 32, Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage grab(QWidget& widget, qreal ratio)
{
    QImage image(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren); // as inside a row: no window background
    return image;
}

QColor at(const QImage& image, qreal x, qreal y)
{
    const qreal r = image.devicePixelRatio();
    return image.pixelColor(int(x * r), int(y * r));
}

bool near(const QColor& a, const QColor& b, int tolerance = 4)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

QByteArray describe(const QColor& c)
{
    return QByteArray::number(c.red()) + ',' + QByteArray::number(c.green()) + ',' + QByteArray::number(c.blue());
}

} // namespace

class TestTokenIcon : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void paletteFollowsTheUpperCasedSymbol_data();
    void paletteFollowsTheUpperCasedSymbol();
    void monogramIsTheFirstStoredCharacter_data();
    void monogramIsTheFirstStoredCharacter();
    void geometryScalesWithTheSize_data();
    void geometryScalesWithTheSize();
    void badgeSitsOnAWhiteRing_data();
    void badgeSitsOnAWhiteRing();
    void loadedLogoReplacesTheBadge_data();
    void loadedLogoReplacesTheBadge();
    void logoFadesInAlongTheSpring();
    void iconsWithoutAnHttpLogoNeverLoad_data();
    void iconsWithoutAnHttpLogoNeverLoad();
    void failedLogoKeepsTheBadge();
    void iconDestroyedWhileLoadingIsLeftAlone();

private:
    QUrl url(const char* path) const { return m_server->baseUrl().resolved(QUrl(QString::fromLatin1(path))); }

    std::unique_ptr<LoopbackHttpServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<ImageLoader> m_loader;
};

void TestTokenIcon::initTestCase()
{
    SpringAnimation::setAnimationsEnabled(false);
}

void TestTokenIcon::init()
{
    m_server = std::make_unique<LoopbackHttpServer>();
    QVERIFY(m_server->isListening());
    m_server->setHandler([](const LoopbackHttpServer::Request& request) {
        Reply reply;
        if (request.target.startsWith("/logo")) {
            reply.headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "image/png"));
            reply.body = halfAndHalfPng();
            reply.delay = request.target == "/logo-slow.png" ? 300ms : 20ms;
        } else {
            reply.status = 404;
        }
        return reply;
    });
    m_network = std::make_unique<QNetworkAccessManager>();
    m_loader = std::make_unique<ImageLoader>(m_network.get());
}

void TestTokenIcon::cleanup()
{
    SpringAnimation::setAnimationsEnabled(false);
    m_loader.reset();
    m_network.reset();
    m_server.reset();
}

void TestTokenIcon::paletteFollowsTheUpperCasedSymbol_data()
{
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QColor>("start");
    QTest::addColumn<QColor>("end");
    using namespace Palette;
    QTest::newRow("btc") << "btc" << orange() << yellow();
    QTest::newRow("ETH") << "ETH" << gray(0.9) << black(0.6);
    QTest::newRow("link") << "link" << blue() << cyan();
    QTest::newRow("other") << "PEPE" << gray(0.7) << gray(0.45);
    QTest::newRow("prefix only") << "BTCB" << gray(0.7) << gray(0.45);
    QTest::newRow("empty") << "" << gray(0.7) << gray(0.45);
}

void TestTokenIcon::paletteFollowsTheUpperCasedSymbol()
{
    QFETCH(QString, symbol);
    QFETCH(QColor, start);
    QFETCH(QColor, end);
    const TokenIconView::BadgePalette palette = TokenIconView::palette(symbol);
    QCOMPARE(palette.start, start);
    QCOMPARE(palette.end, end);
}

void TestTokenIcon::monogramIsTheFirstStoredCharacter_data()
{
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QString>("monogram");
    QTest::newRow("upper") << "BTC"
                           << "B";
    QTest::newRow("lower keeps its case") << "btc"
                                          << "b";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("combining accent") << QString::fromUtf8("e\u0301TH") << QString::fromUtf8("e\u0301");
    QTest::newRow("surrogate pair") << QString::fromUtf8("\U0001F436DOGE") << QString::fromUtf8("\U0001F436");
    QTest::newRow("flag") << QString::fromUtf8("\U0001F1FA\U0001F1F8D") << QString::fromUtf8("\U0001F1FA\U0001F1F8");
}

void TestTokenIcon::monogramIsTheFirstStoredCharacter()
{
    QFETCH(QString, symbol);
    QFETCH(QString, monogram);
    QCOMPARE(TokenIconView::fallbackMonogram(symbol), monogram);
}

void TestTokenIcon::geometryScalesWithTheSize_data()
{
    QTest::addColumn<qreal>("size");
    QTest::addColumn<qreal>("inset");
    QTest::newRow("40") << 40.0 << 5.6;
    QTest::newRow("52") << 52.0 << 7.28;
}

void TestTokenIcon::geometryScalesWithTheSize()
{
    QFETCH(qreal, size);
    QFETCH(qreal, inset);
    TokenIconView icon(token("BTC"), size);
    QCOMPARE(icon.size(), QSize(int(size), int(size)));
    QCOMPARE(icon.maximumSize(), icon.minimumSize());

    // The prepared logo is an icon-sized layer in device pixels, filled only inside the circle.
    QImage wide(64, 32, QImage::Format_ARGB32);
    wide.fill(Qt::red);
    const QImage prepared = TokenIconView::prepareLogo(wide, size, 2);
    QCOMPARE(prepared.size(), QSize(int(size * 2), int(size * 2)));
    QCOMPARE(prepared.devicePixelRatio(), 2.0);
    const int centre = int(size);
    QCOMPARE(prepared.pixelColor(centre, centre), QColor(Qt::red));
    QCOMPARE(prepared.pixelColor(int(inset * 2) + 2, int(inset * 2) + 2).alpha(), 0);
    QCOMPARE(prepared.pixelColor(centre, int(inset * 2) - 2).alpha(), 0);
}

void TestTokenIcon::badgeSitsOnAWhiteRing_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("1x") << 1.0;
    QTest::newRow("2x") << 2.0;
}

void TestTokenIcon::badgeSitsOnAWhiteRing()
{
    QFETCH(qreal, ratio);
    TokenIconView icon(token("btc"), 40);
    const QImage image = grab(icon, ratio);

    // Outside the disc: untouched. The outline: black at 0.18 over white.
    QCOMPARE(at(image, 0.5, 0.5), QColor(Qt::white));
    const QColor outline = at(image, 20, 0.6);
    QVERIFY2(outline.red() < 235 && outline.red() > 190, describe(outline));
    // The white ring between the outline and the badge, all around.
    for (const QPointF& p : {QPointF(20, 3.5), QPointF(3.5, 20), QPointF(36.5, 20), QPointF(20, 36.5)})
        QVERIFY2(at(image, p.x(), p.y()) == QColor(Qt::white), describe(at(image, p.x(), p.y())));
    // The badge: orange at its top-left, turning yellow towards its bottom-right.
    const QColor topLeft = at(image, 12, 12);
    const QColor bottomRight = at(image, 28, 28);
    QVERIFY2(near(topLeft, QColor(255, 161, 0), 6), describe(topLeft));
    QVERIFY2(near(bottomRight, QColor(255, 191, 0), 6), describe(bottomRight));
    // The monogram: white strokes inside the badge.
    int whiteInside = 0;
    for (int y = int(14 * ratio); y < int(26 * ratio); ++y)
        for (int x = int(14 * ratio); x < int(26 * ratio); ++x)
            whiteInside += image.pixelColor(x, y).green() > 245 ? 1 : 0;
    QVERIFY2(whiteInside > 10 * ratio * ratio, QByteArray::number(whiteInside));

    // An empty symbol has a plain grey badge.
    TokenIconView blank(token(""), 40);
    const QImage plain = grab(blank, ratio);
    int light = 0;
    for (int y = int(14 * ratio); y < int(26 * ratio); ++y)
        for (int x = int(14 * ratio); x < int(26 * ratio); ++x)
            light += plain.pixelColor(x, y).green() > 245 ? 1 : 0;
    QCOMPARE(light, 0);
}

void TestTokenIcon::loadedLogoReplacesTheBadge_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("1x") << 1.0;
    QTest::newRow("2x") << 2.0;
}

void TestTokenIcon::loadedLogoReplacesTheBadge()
{
    QFETCH(qreal, ratio);
    // Two icons of one logo, as in the list and the search results: one request.
    TokenIconView first(token("BTC", url("/logo.png")), 52, *m_loader);
    TokenIconView second(token("BTC", url("/logo.png")), 40, *m_loader);
    QVERIFY(!first.hasLogo());
    QVERIFY(near(at(grab(first, ratio), 16, 16), QColor(255, 160, 0), 12)); // still the badge
    QTRY_VERIFY(first.hasLogo() && second.hasLogo());
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(first.logoOpacity(), 1.0);

    const QImage image = grab(first, ratio);
    // Filled and cropped: red on the left half of the circle, blue on the right.
    QVERIFY2(near(at(image, 18, 26), Qt::red), describe(at(image, 18, 26)));
    QVERIFY2(near(at(image, 34, 26), Qt::blue), describe(at(image, 34, 26)));
    // Clipped to the circle: the corners of its square stay on the white disc.
    QCOMPARE(at(image, 9.5, 9.5), QColor(Qt::white));
    QCOMPARE(at(image, 42.5, 42.5), QColor(Qt::white));
    // The outline stays.
    QVERIFY(at(image, 26, 0.6).red() < 235);

    // A third icon finds the logo in memory and shows it at once.
    TokenIconView third(token("BTC", url("/logo.png")), 40, *m_loader);
    QVERIFY(third.hasLogo());
    QCOMPARE(third.logoOpacity(), 1.0);
    QCOMPARE(m_server->requests().size(), 1);
}

void TestTokenIcon::logoFadesInAlongTheSpring()
{
    SpringAnimation::setAnimationsEnabled(true);
    TokenIconView icon(token("SOL", url("/logo.png")), 40, *m_loader);
    auto* fade = icon.findChild<SpringAnimation*>(QStringLiteral("logoFade"));
    QVERIFY(fade);
    QCOMPARE(fade->spring().response, 0.2);
    QCOMPARE(fade->spring().dampingFraction, 1.0);
    QSignalSpy steps(fade, &SpringAnimation::valueChanged);
    QTRY_COMPARE(icon.logoOpacity(), 1.0);
    QVERIFY(steps.size() > 2);
    for (const auto& step : std::as_const(steps))
        QVERIFY(step.at(0).toReal() > 0 && step.at(0).toReal() <= 1.0); // no overshoot
}

void TestTokenIcon::iconsWithoutAnHttpLogoNeverLoad_data()
{
    QTest::addColumn<std::optional<QUrl>>("logo");
    QTest::newRow("no logo") << std::optional<QUrl>();
    QTest::newRow("file") << std::optional<QUrl>(QUrl("file:///etc/hostname"));
    QTest::newRow("data") << std::optional<QUrl>(QUrl("data:image/png;base64,iVBORw0KGgo="));
}

void TestTokenIcon::iconsWithoutAnHttpLogoNeverLoad()
{
    QFETCH(std::optional<QUrl>, logo);
    TokenIconView icon(token("ETH", logo), 40, *m_loader);
    QCOMPARE(m_loader->downloadsInFlight(), 0);
    QCoreApplication::processEvents();
    QVERIFY(!icon.hasLogo());
    QVERIFY(m_server->requests().isEmpty());
}

void TestTokenIcon::failedLogoKeepsTheBadge()
{
    TokenIconView icon(token("AVAX", url("/missing.png")), 40, *m_loader);
    const QImage before = grab(icon, 2);
    QTRY_COMPARE(m_server->requests().size(), 1);
    QTRY_COMPARE(m_loader->downloadsInFlight(), 0);
    QCoreApplication::processEvents();
    QVERIFY(!icon.hasLogo());
    QCOMPARE(grab(icon, 2), before);
}

void TestTokenIcon::iconDestroyedWhileLoadingIsLeftAlone()
{
    auto icon = std::make_unique<TokenIconView>(token("LINK", url("/logo-slow.png")), 40, *m_loader);
    QTRY_COMPARE(m_server->requests().size(), 1);
    icon.reset();
    QTRY_COMPARE(m_loader->downloadsInFlight(), 0);
    // The answer still lands in the cache for the next icon.
    TokenIconView next(token("LINK", url("/logo-slow.png")), 40, *m_loader);
    QVERIFY(next.hasLogo());
}

QTEST_MAIN(TestTokenIcon)
#include "tst_tokenicon.moc"
