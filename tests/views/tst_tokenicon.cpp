#include "Pixels.h"
#include "testlib/LoopbackHttpServer.h"
#include "views/ImageLoader.h"
#include "views/SpringAnimation.h"
#include "views/TokenIconView.h"

#include <QApplication>
#include <QBuffer>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Reply = LoopbackHttpServer::Reply;
using namespace Pixels;

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

} // namespace

class TestTokenIcon : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { SpringAnimation::setAnimationsEnabled(false); }

    void init()
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

    void cleanup()
    {
        m_loader.reset();
        m_network.reset();
        m_server.reset();
    }

    void monogramIsTheFirstStoredCharacter_data()
    {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("monogram");
        QTest::newRow("upper") << "BTC" << QStringLiteral("B");
        QTest::newRow("lower keeps its case") << "btc" << QStringLiteral("b");
        QTest::newRow("empty") << "" << QStringLiteral("");
        QTest::newRow("combining accent") << QString::fromUtf8("e\u0301TH") << QString::fromUtf8("e\u0301");
        QTest::newRow("surrogate pair") << QString::fromUtf8("\U0001F436DOGE") << QString::fromUtf8("\U0001F436");
        QTest::newRow("flag") << QString::fromUtf8("\U0001F1FA\U0001F1F8D")
                              << QString::fromUtf8("\U0001F1FA\U0001F1F8");
    }

    void monogramIsTheFirstStoredCharacter()
    {
        QFETCH(QString, symbol);
        QFETCH(QString, monogram);
        QCOMPARE(TokenIconView::fallbackMonogram(symbol), monogram);
    }

    void badgeSitsOnAWhiteRing_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("2x") << 2.0;
    }

    void badgeSitsOnAWhiteRing()
    {
        QFETCH(qreal, ratio);
        TokenIconView icon(token("btc"), 40);
        const QImage image = render(icon, ratio);

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
        const QImage plain = render(blank, ratio);
        int light = 0;
        for (int y = int(14 * ratio); y < int(26 * ratio); ++y)
            for (int x = int(14 * ratio); x < int(26 * ratio); ++x)
                light += plain.pixelColor(x, y).green() > 245 ? 1 : 0;
        QCOMPARE(light, 0);
    }

    void loadedLogoReplacesTheBadge_data() { badgeSitsOnAWhiteRing_data(); }

    void loadedLogoReplacesTheBadge()
    {
        QFETCH(qreal, ratio);
        // Two icons of one logo, as in the list and the search results: one request.
        TokenIconView first(token("BTC", url("/logo.png")), 52, *m_loader);
        TokenIconView second(token("BTC", url("/logo.png")), 40, *m_loader);
        QVERIFY(!first.hasLogo());
        QVERIFY(near(at(render(first, ratio), 16, 16), QColor(255, 160, 0), 12)); // still the badge
        QTRY_VERIFY(first.hasLogo() && second.hasLogo());
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(first.logoOpacity(), 1.0);

        const QImage image = render(first, ratio);
        // Filled and cropped: red on the left half of the circle, blue on the right.
        QVERIFY2(near(at(image, 18, 26), Qt::red, 4), describe(at(image, 18, 26)));
        QVERIFY2(near(at(image, 34, 26), Qt::blue, 4), describe(at(image, 34, 26)));
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

    void failedLogoKeepsTheBadge()
    {
        TokenIconView icon(token("AVAX", url("/missing.png")), 40, *m_loader);
        const QImage before = render(icon, 2);
        QTRY_COMPARE(m_server->requests().size(), 1);
        QTRY_COMPARE(m_loader->downloadsInFlight(), 0);
        QCoreApplication::processEvents();
        QVERIFY(!icon.hasLogo());
        QCOMPARE(render(icon, 2), before);
    }

    void iconDestroyedWhileLoadingIsLeftAlone()
    {
        auto icon = std::make_unique<TokenIconView>(token("LINK", url("/logo-slow.png")), 40, *m_loader);
        QTRY_COMPARE(m_server->requests().size(), 1);
        icon.reset();
        QTRY_COMPARE(m_loader->downloadsInFlight(), 0);
        // The answer still lands in the cache for the next icon.
        TokenIconView next(token("LINK", url("/logo-slow.png")), 40, *m_loader);
        QVERIFY(next.hasLogo());
    }

private:
    QUrl url(const char* path) const { return m_server->baseUrl().resolved(QUrl(QString::fromLatin1(path))); }

    std::unique_ptr<LoopbackHttpServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<ImageLoader> m_loader;
};

QTEST_MAIN(TestTokenIcon)
#include "tst_tokenicon.moc"
