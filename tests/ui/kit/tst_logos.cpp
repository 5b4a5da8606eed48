// Logos over HTTP: the image loader on its own, and the token icons that show what it loads.
#include "testlib/LoopbackHttpServer.h"
#include "testlib/Pixels.h"
#include "ui/kit/ImageLoader.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/kit/TokenIconView.h"

#include <QBuffer>
#include <QHash>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Reply = LoopbackHttpServer::Reply;
using namespace Pixels;

namespace {

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Left half red, right half blue: filling a square crops the outer quarters away.
QByteArray halfAndHalfPng()
{
    QImage image(64, 32, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(32, 0, 32, 32, Qt::blue);
    return png(image);
}

TokenSummary token(const QString& symbol, std::optional<QUrl> logo = std::nullopt)
{
    TokenSummary t;
    t.id = symbol.toUpper();
    t.symbol = symbol;
    t.name = symbol;
    t.logoURL = std::move(logo);
    return t;
}

// A valid header announcing 20,000 × 20,000 pixels (1.6 GB decoded), with a token amount of image
// data behind it.
const QByteArray kHugeImageHeader = QByteArray("P6\n20000 20000\n255\n") + QByteArray(64, '\0');

Reply image(QByteArray body)
{
    Reply reply;
    reply.headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "image/png"));
    reply.body = std::move(body);
    return reply;
}

} // namespace

class TestLogos : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { SpringAnimation::setAnimationsEnabled(false); }

    void init()
    {
        m_server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(m_server->isListening());
        // Answered at once: a download is still in flight until the event loop runs, and a delay
        // near the loader's 400 ms limit would race it on a busy machine.
        Reply slow = image(halfAndHalfPng());
        slow.delay = 300ms;
        Reply missing;
        missing.status = 404;
        const QHash<QByteArray, Reply> replies{{"/logo.png", image(halfAndHalfPng())},
                                               {"/logo-slow.png", slow},
                                               {"/garbage.png", image("definitely not a picture")},
                                               {"/hung.png", Reply::never()},
                                               {"/huge.png", image(kHugeImageHeader)},
                                               {"/large-body.png", image(QByteArray(600 * 1024, 'x'))},
                                               {"/truncated.png", Reply::truncated(halfAndHalfPng().left(40), 400)}};
        m_server->setHandler([replies, missing](const LoopbackHttpServer::Request& request) {
            return replies.value(request.target, missing);
        });
        m_network = std::make_unique<QNetworkAccessManager>();
        ImageLoader::Limits limits;
        limits.timeout = 400ms;
        limits.maxBodyBytes = 512 * 1024;
        m_loader = std::make_unique<ImageLoader>(m_network.get(), limits);
        m_iconLoader = std::make_unique<ImageLoader>(m_network.get());
    }

    void cleanup()
    {
        m_iconLoader.reset();
        m_loader.reset();
        m_network.reset();
        m_server.reset();
    }

    void failuresEndInANullImageWithoutRetrying_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("404") << QByteArray("/missing.png");
        QTest::newRow("garbage bytes") << QByteArray("/garbage.png");
        QTest::newRow("no answer (timeout)") << QByteArray("/hung.png");
        QTest::newRow("20000 x 20000 pixels") << QByteArray("/huge.png");
        QTest::newRow("body over the limit") << QByteArray("/large-body.png");
        QTest::newRow("truncated body") << QByteArray("/truncated.png");
    }

    void failuresEndInANullImageWithoutRetrying()
    {
        QFETCH(QByteArray, path);
        QObject context;
        std::optional<QImage> answer;
        const QUrl target = url(path.constData());
        QVERIFY(m_loader->load(target, &context, [&](const QImage& image) { answer = image; }));
        QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 5000);
        QVERIFY(answer->isNull());
        QVERIFY(m_loader->cachedImage(target).isNull());
        QCOMPARE(requestsFor(path), 1);

        // A broken logo is not fetched again on the next repaint.
        answer.reset();
        QVERIFY(m_loader->load(target, &context, [&](const QImage& image) { answer = image; }));
        QTRY_VERIFY(answer.has_value());
        QVERIFY(answer->isNull());
        QCOMPARE(requestsFor(path), 1);
    }

    void onlyHttpUrlsAreFetched_data()
    {
        QTest::addColumn<QUrl>("target");
        QTest::newRow("file") << QUrl("file:///usr/share/pixmaps/debian-logo.png");
        QTest::newRow("data") << QUrl("data:image/png;base64,iVBORw0KGgo=");
        QTest::newRow("ftp") << QUrl("ftp://127.0.0.1/logo.png");
        QTest::newRow("relative") << QUrl("logo.png");
        QTest::newRow("no host") << QUrl("http:///logo.png");
        QTest::newRow("empty") << QUrl();
    }

    void onlyHttpUrlsAreFetched()
    {
        QFETCH(QUrl, target);
        QObject context;
        bool called = false;
        QVERIFY(!m_loader->load(target, &context, [&](const QImage&) { called = true; }));
        QCoreApplication::processEvents();
        QVERIFY(!called);
        QVERIFY(m_server->requests().isEmpty());
        QVERIFY(ImageLoader::isFetchable(QUrl("HTTPS://example.org/a.png")));
    }

    void answersSkipDestroyedContexts()
    {
        // A waiter that is gone by the time the answer comes is skipped; the others still get it.
        auto gone = std::make_unique<QObject>();
        QObject alive;
        bool goneCalled = false;
        bool aliveCalled = false;
        const QUrl logo = url("/logo.png");
        m_loader->load(logo, gone.get(), [&](const QImage&) { goneCalled = true; });
        m_loader->load(logo, &alive, [&](const QImage&) { aliveCalled = true; });
        gone.reset();
        QTRY_VERIFY(aliveCalled);
        QVERIFY(!goneCalled);

        // Cached answers come from the event loop too, never inside load(), so they see the context gone.
        gone = std::make_unique<QObject>();
        m_loader->load(logo, gone.get(), [&](const QImage&) { goneCalled = true; });
        gone.reset();
        QCoreApplication::processEvents();
        QVERIFY(!goneCalled);

        // The network manager may go first: its replies die with it, and the waiters hear of it.
        {
            auto network = std::make_unique<QNetworkAccessManager>();
            ImageLoader loader(network.get());
            std::optional<QImage> answer;
            loader.load(url("/hung.png"), &alive, [&](const QImage& image) { answer = image; });
            QTRY_COMPARE(requestsFor("/hung.png"), 1);
            network.reset();
            QTRY_VERIFY(answer.has_value());
            QVERIFY(answer->isNull());
        }
        m_server->clearRequests();

        // The loader itself may go while a download runs; its connection closes and nobody is called
        // back. (Once the server has the request: a reply dropped before that may leave the network
        // manager an idle connection to keep for later requests.)
        bool orphanCalled = false;
        m_loader->load(url("/hung.png"), &alive, [&](const QImage&) { orphanCalled = true; });
        QTRY_COMPARE(requestsFor("/hung.png"), 1);
        m_loader.reset();
        QTRY_COMPARE(m_server->openConnections(), 0);
        QVERIFY(!orphanCalled);
    }

    void monogramIsTheFirstStoredCharacter_data()
    {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("monogram");
        QTest::newRow("lower keeps its case") << "btc" << QStringLiteral("b");
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

    void monogramIsDrawnOnTheBadge_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("2x") << 2.0;
    }

    void monogramIsDrawnOnTheBadge()
    {
        QFETCH(qreal, ratio);
        TokenIconView icon(token("btc"), 40);
        const QImage image = render(icon, ratio);

        // Outside the disc: untouched.
        QCOMPARE(at(image, 0.5, 0.5), QColor(Qt::white));
        // The monogram: white strokes inside the badge. An empty symbol has a plain grey badge.
        const auto whiteInside = [ratio](const QImage& rendered) {
            int white = 0;
            for (int y = int(14 * ratio); y < int(26 * ratio); ++y)
                for (int x = int(14 * ratio); x < int(26 * ratio); ++x)
                    white += rendered.pixelColor(x, y).green() > 245 ? 1 : 0;
            return white;
        };
        QVERIFY2(whiteInside(image) > 10 * ratio * ratio, QByteArray::number(whiteInside(image)));
        TokenIconView blank(token(""), 40);
        QCOMPARE(whiteInside(render(blank, ratio)), 0);
    }

    void loadedLogoReplacesTheBadge_data() { monogramIsDrawnOnTheBadge_data(); }

    void loadedLogoReplacesTheBadge()
    {
        QFETCH(qreal, ratio);
        // Two icons of one logo, as in the list and the search results: one request.
        TokenIconView first(token("BTC", url("/logo.png")), 52, *m_iconLoader);
        TokenIconView second(token("BTC", url("/logo.png")), 40, *m_iconLoader);
        QVERIFY(near(at(render(first, ratio), 16, 16), QColor(255, 160, 0), 12)); // still the badge
        QTRY_VERIFY(showsLogo(first) && showsLogo(second));
        QCOMPARE(m_server->requests().size(), 1);

        const QImage image = render(first, ratio);
        // Filled and cropped: red on the left half of the circle, blue on the right.
        QVERIFY2(near(at(image, 18, 26), Qt::red, 4), describe(at(image, 18, 26)));
        QVERIFY2(near(at(image, 34, 26), Qt::blue, 4), describe(at(image, 34, 26)));

        // A third icon finds the logo in memory and shows it at once.
        TokenIconView third(token("BTC", url("/logo.png")), 40, *m_iconLoader);
        QVERIFY(showsLogo(third));
        QCOMPARE(m_server->requests().size(), 1);
    }

    // A failed logo keeps the badge; an icon gone while its logo loads is left alone, and the
    // answer still lands in the cache for the next icon.
    void failedOrOrphanedLogos()
    {
        TokenIconView icon(token("AVAX", url("/missing.png")), 40, *m_iconLoader);
        const QImage before = render(icon, 2);
        auto gone = std::make_unique<TokenIconView>(token("LINK", url("/logo-slow.png")), 40, *m_iconLoader);
        QTRY_COMPARE(m_server->requests().size(), 2);
        gone.reset();
        QTRY_VERIFY(!m_iconLoader->cachedImage(url("/logo-slow.png")).isNull());
        // Waits behind the icon for the same answer.
        std::optional<QImage> failed;
        m_iconLoader->load(url("/missing.png"), &icon, [&](const QImage& image) { failed = image; });
        QTRY_VERIFY(failed.has_value());
        QCOMPARE(render(icon, 2), before);
        TokenIconView next(token("LINK", url("/logo-slow.png")), 40, *m_iconLoader);
        QVERIFY(showsLogo(next));
    }

private:
    int requestsFor(const QByteArray& target) const
    {
        const QList<LoopbackHttpServer::Request> requests = m_server->requests();
        return int(std::count_if(requests.begin(), requests.end(),
                                 [&](const LoopbackHttpServer::Request& r) { return r.target == target; }));
    }

    // The half-red logo's left half where the badge would be orange.
    static bool showsLogo(TokenIconView& icon)
    {
        const qreal size = icon.iconSize();
        return near(at(render(icon, 1), size * 0.35, size * 0.5), Qt::red, 4);
    }

    QUrl url(const char* path) const { return m_server->baseUrl().resolved(QUrl(QString::fromLatin1(path))); }

    std::unique_ptr<LoopbackHttpServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<ImageLoader> m_loader;     // short limits, for the loader's own cases
    std::unique_ptr<ImageLoader> m_iconLoader; // the shipped limits, for the icons
};

QTEST_MAIN(TestLogos)
#include "tst_logos.moc"
