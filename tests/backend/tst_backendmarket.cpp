// The backend against a fake exchange: how the exchange's answers become the app's records,
// how often the exchange is asked, and what clients see when it fails.
#include "Backend.h"
#include "FakeExchange.h"
#include "RawHttpClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTest>

using namespace std::chrono_literals;
using Reply = LoopbackHttpServer::Reply;

namespace {

// An answer as the network manager hands it over.
struct Answer : RawResponse {
    QJsonArray data() const { return QJsonDocument::fromJson(body).object().value("data").toArray(); }
    QJsonObject first() const { return data().at(0).toObject(); } // of an answer for one id
    QStringList ids() const
    {
        QStringList found;
        for (const QJsonValue& item : data()) {
            found.append(item.toObject().value("id").toString());
        }
        return found;
    }
    int maxAge() const
    {
        const QByteArray control = header("Cache-Control");
        const qsizetype at = control.indexOf("max-age=");
        if (at < 0) {
            return -1;
        }
        const qsizetype end = control.indexOf(',', at);
        return control.mid(at + 8, end < 0 ? -1 : end - at - 8).toInt();
    }
};

// The backend in this process, on a clock the test moves, in front of a fake exchange.
class Harness {
public:
    explicit Harness(const std::function<void(BackendSettings&)>& adjust = {})
    {
        BackendSettings settings;
        settings.port = 0;
        settings.upstream = exchange.baseUrl();
        settings.upstreamTimeout = 5s;
        if (adjust) {
            adjust(settings);
        }
        backend = std::make_unique<Backend>(settings, [this] { return now; });
        QString problem;
        started = backend->start(&problem);
        network.setProxy(QNetworkProxy::NoProxy);
    }

    QNetworkReply* start(const QByteArray& target, const QList<std::pair<QByteArray, QByteArray>>& headers = {})
    {
        QNetworkRequest request(QUrl::fromEncoded(backend->url().toEncoded() + target, QUrl::StrictMode));
        for (const auto& [name, value] : headers) {
            request.setRawHeader(name, value);
        }
        return network.get(request);
    }

    static Answer finish(QNetworkReply* reply)
    {
        Answer answer;
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 10'000)) {
            reply->abort();
        }
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.body = reply->readAll();
        answer.headers = reply->rawHeaderPairs();
        reply->deleteLater();
        return answer;
    }

    Answer get(const QByteArray& target, const QList<std::pair<QByteArray, QByteArray>>& headers = {})
    {
        return finish(start(target, headers));
    }

    FakeExchange exchange;
    SteadyTime now = SteadyTime(1000h);
    std::unique_ptr<Backend> backend;
    bool started = false;
    QNetworkAccessManager network;
};

} // namespace

class TestBackendMarket : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mapsExchangeAnswersToTheAppRecords()
    {
        Harness harness;
        QVERIFY(harness.started);

        const Answer quotes = harness.get("/api/quotes?ids=btc,ETH,NOPE,BTC,ZKJ,LUNA");
        QCOMPARE(quotes.status, 200);
        QCOMPARE(quotes.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
        // Unknown, halted and repeated ids are left out; the rest keep the order asked for. The
        // exchange's own 24-hour figures come where its ticker has them, and only there; outside the
        // name table an asset goes by its ticker; tiny prices keep their digits. The time varies.
        const QByteArray trends = R"("trend7d":[71000,72200,73650,74120,75900,76320,75456.36],)"
                                  R"("trend7dFine":[74000.5,74800.25,75456.36]})";
        QCOMPARE(QString::fromUtf8(quotes.body).replace(QRegularExpression(R"("quotedAt":\d+,)"), "T,"),
                 QString::fromUtf8(R"({"data":[{"id":"BTC","symbol":"BTC","name":"Bitcoin","price":75456.36,)"
                                   R"("change24h":-2.05,"high24h":77410,"low24h":74850.12,"quoteVolume24h":)"
                                   R"(1523456789.12,"priceChange24h":-1579.32,T,)" +
                                   trends +
                                   R"(,{"id":"ETH","symbol":"ETH","name":"Ethereum","price":3012.5,)"
                                   R"("change24h":1.25,T,)" +
                                   trends +
                                   R"(,{"id":"ZKJ","symbol":"ZKJ","name":"ZKJ","price":1.234e-05,)"
                                   R"("change24h":12,T,)" +
                                   trends + "]}"));

        // One batch of tickers (the 24-hour figures come with it, at no extra call), a daily and a
        // four-hourly kline series per token, exactly as documented.
        QCOMPARE(harness.exchange.targets("/api/v3/ticker/24hr"),
                 QList<QByteArray>{"/api/v3/ticker/24hr?symbols=%5B%22BTCUSDT%22,%22ETHUSDT%22,%22ZKJUSDT%22%5D"});
        QList<QByteArray> klines = harness.exchange.targets("/api/v3/klines");
        std::sort(klines.begin(), klines.end());
        QCOMPARE(klines, QList<QByteArray>({"/api/v3/klines?symbol=BTCUSDT&interval=1d&limit=7",
                                            "/api/v3/klines?symbol=BTCUSDT&interval=4h&limit=42",
                                            "/api/v3/klines?symbol=ETHUSDT&interval=1d&limit=7",
                                            "/api/v3/klines?symbol=ETHUSDT&interval=4h&limit=42",
                                            "/api/v3/klines?symbol=ZKJUSDT&interval=1d&limit=7",
                                            "/api/v3/klines?symbol=ZKJUSDT&interval=4h&limit=42"}));
        QCOMPARE(harness.exchange.allCalls(), 1 + 1 + 6);

        const Answer search = harness.get("/api/search?q=eth");
        QCOMPARE(search.status, 200);
        QCOMPARE(search.body, QByteArray(R"({"data":[{"id":"ETH","symbol":"ETH","name":"Ethereum"}]})"));
        QCOMPARE(harness.get("/api/quotes?ids=,,").body, QByteArray(R"({"data":[]})"));
        QCOMPARE(harness.get("/api/quotes?ids=NOPE").body, QByteArray(R"({"data":[]})"));

        // A token listed without a ticker is left out; a broken kline series costs only the trend,
        // and such an answer is not for caches.
        Harness sparse;
        sparse.exchange.tickers.remove("SOLUSDT");
        sparse.exchange.closes = {"1.0", "not a number"};
        const Answer partial = sparse.get("/api/quotes?ids=SOL,ETH");
        QCOMPARE(partial.status, 200);
        QCOMPARE(partial.ids(), QStringList{"ETH"});
        QCOMPARE(partial.first().value("trend7d").toArray(), QJsonArray());
        QVERIFY(!partial.first().contains("trend7dFine"));
        QCOMPARE(partial.maxAge(), 0);
    }

    void searchesSymbolsAndNames()
    {
        Harness harness;
        for (int i = 0; i < 60; ++i) {
            const QString base = QStringLiteral("BIT%1").arg(i, 2, 10, QLatin1Char('0'));
            harness.exchange.pairs.append({base + "USDT", base});
        }

        // Symbol prefixes first (well-known assets ahead), then names; never more than 50.
        const Answer answer = harness.get("/api/search?q=bit");
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.data().size(), 50);
        QCOMPARE(answer.ids().first(), QString("BIT00"));
        QCOMPARE(harness.get("/api/search?q=BITCOIN").ids(), QStringList({"BTC", "BCH"}));
        QCOMPARE(harness.get("/api/search?q=bitcoin%20cash").ids(), QStringList{"BCH"});
        // The exact symbol outranks longer symbols and names that merely contain it.
        QCOMPARE(harness.get("/api/search?q=eth").ids(), QStringList{"ETH"});
        QCOMPARE(harness.get("/api/search?q=%20%20%20").body, QByteArray(R"({"data":[]})"));
        QCOMPARE(harness.get("/api/search?q=luna").body, QByteArray(R"({"data":[]})"));
        QCOMPARE(harness.exchange.calls("/api/v3/exchangeInfo"), 1);
    }

    void coalescesAndCachesExchangeCalls()
    {
        Harness harness;
        harness.exchange.delay = 200ms;

        // Twenty clients at once, cold cache: one call per kind of data.
        QList<QNetworkReply*> replies;
        for (int i = 0; i < 20; ++i) {
            replies.append(harness.start(i % 2 ? "/api/quotes?ids=BTC,ETH" : "/api/quotes?ids=ETH,BTC"));
        }
        replies.append(harness.start("/api/search?q=btc"));
        for (QNetworkReply* reply : replies) {
            QCOMPARE(Harness::finish(reply).status, 200);
        }
        QCOMPARE(harness.exchange.calls("/api/v3/exchangeInfo"), 1);
        QCOMPARE(harness.exchange.calls("/api/v3/ticker/24hr"), 1);
        QCOMPARE(harness.exchange.calls("/api/v3/klines"), 4);

        // Within the lifetimes nothing more is asked, whatever the clients do.
        harness.exchange.delay = 0ms;
        harness.now += 14s;
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(harness.get("/api/quotes?ids=ETH").status, 200);
            QCOMPARE(harness.get("/api/search?q=e").status, 200);
        }
        QCOMPARE(harness.exchange.allCalls(), 6);

        // A token nobody asked for yet costs one batch, which takes along the half-spent others.
        QCOMPARE(harness.get("/api/quotes?ids=SOL").ids(), QStringList{"SOL"});
        const QByteArray batch = harness.exchange.targets("/api/v3/ticker/24hr").last();
        QVERIFY2(batch.count("USDT") == 3 && batch.contains("BTCUSDT") && batch.contains("ETHUSDT") &&
                     batch.contains("SOLUSDT"),
                 batch.constData());
        QCOMPARE(harness.exchange.calls("/api/v3/klines"), 6);
        // ...so the first clients' next refresh finds everything fresh.
        harness.now += 2s;
        QCOMPARE(harness.get("/api/quotes?ids=BTC,ETH").status, 200);
        QCOMPARE(harness.exchange.calls("/api/v3/ticker/24hr"), 2);
    }

    void refreshesWhenDataExpire()
    {
        Harness harness([](BackendSettings& settings) { settings.priceTtl = 15s; });
        QCOMPARE(harness.get("/api/quotes?ids=BTC").maxAge(), 15);
        harness.now += 5s;
        Answer answer = harness.get("/api/quotes?ids=BTC");
        QCOMPARE(harness.get("/api/search?q=btc").maxAge(), 3595);

        // Fresh answers tell caches in front how long the data may stand in after their lifetime.
        QCOMPARE(answer.header("Cache-Control"),
                 QByteArray("public, max-age=10, stale-while-revalidate=600, stale-if-error=600"));

        // Past its lifetime the last price answers at once, while one refresh for everybody runs
        // behind it: the answers are all in before the (slow) exchange has said a word.
        harness.exchange.tickers["BTCUSDT"] = {"76000.00000000", "-1.000"};
        harness.exchange.delay = 1s;
        harness.now += 10s;
        QList<QNetworkReply*> replies;
        for (int i = 0; i < 5; ++i) {
            replies.append(harness.start("/api/quotes?ids=BTC"));
        }
        for (QNetworkReply* reply : replies) {
            answer = Harness::finish(reply);
            QCOMPARE(answer.first().value("price").toDouble(), 75456.36);
            QCOMPARE(answer.header("Cache-Control"), QByteArray("public, max-age=0, stale-if-error=600"));
        }
        QCOMPARE(harness.exchange.openConnections(), 1);
        QTRY_COMPARE(harness.exchange.openConnections(), 0);
        harness.exchange.delay = 0ms;
        answer = harness.get("/api/quotes?ids=BTC");
        QCOMPARE(answer.first().value("price").toDouble(), 76000.0);
        QCOMPARE(answer.maxAge(), 15);
        QCOMPARE(harness.exchange.calls("/api/v3/ticker/24hr"), 2);
        QCOMPARE(harness.exchange.calls("/api/v3/klines"), 2);

        // Trends and the catalogue last an hour. The answer may come from the old data while the
        // refresh runs behind it, so the calls are awaited, not counted at once.
        harness.now += 3600s;
        QCOMPARE(harness.get("/api/quotes?ids=BTC").status, 200);
        QTRY_COMPARE(harness.exchange.calls("/api/v3/exchangeInfo"), 2);
        QTRY_COMPARE(harness.exchange.calls("/api/v3/ticker/24hr"), 3);
        QTRY_COMPARE(harness.exchange.calls("/api/v3/klines"), 4);
    }

    void servesStaleDataThenUnavailable()
    {
        Harness harness([](BackendSettings& settings) {
            settings.staleFor = 600s;
            settings.retryDelay = 5s;
        });
        const qint64 quotedAt = harness.get("/api/quotes?ids=BTC").first().value("quotedAt").toInteger();
        QVERIFY(quotedAt > 0);
        harness.exchange.failingStatus = 500;

        // Past its lifetime, the last good price stands in, not to be reused without asking, and the
        // exchange is left alone between retries. It keeps the time it was quoted at.
        harness.now += 16s;
        Answer answer = harness.get("/api/quotes?ids=BTC");
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.first().value("price").toDouble(), 75456.36);
        QCOMPARE(answer.first().value("quotedAt").toInteger(), quotedAt);
        QCOMPARE(answer.header("Cache-Control"), QByteArray("public, max-age=0, stale-if-error=599"));
        QTRY_COMPARE(harness.exchange.calls("/api/v3/ticker/24hr"), 2);
        QTRY_COMPARE(harness.exchange.openConnections(), 0);
        QCOMPARE(harness.get("/api/quotes?ids=BTC").status, 200); // the failed refresh has been taken in
        const qsizetype callsAfterFailure = harness.exchange.allCalls();
        harness.now += 4s;
        QCOMPARE(harness.get("/api/quotes?ids=BTC").status, 200);
        QCOMPARE(harness.exchange.allCalls(), callsAfterFailure);
        harness.now += 2s;
        QCOMPARE(harness.get("/api/quotes?ids=BTC").status, 200);
        QTRY_COMPARE(harness.exchange.calls("/api/v3/ticker/24hr"), 3);

        // Beyond the stale bound: 503, never cached (its JSON reason is the HTTP test's).
        harness.now += 600s;
        answer = harness.get("/api/quotes?ids=BTC");
        QCOMPARE(answer.status, 503);
        QCOMPARE(answer.header("Cache-Control"), QByteArray("no-store"));
        QVERIFY(!answer.header("Retry-After").isEmpty());
        // Searches still work from the catalogue, which lives longer.
        QCOMPARE(harness.get("/api/search?q=btc").status, 200);

        // Once the exchange answers again, so do we.
        harness.exchange.failingStatus = 0;
        harness.now += 5s;
        answer = harness.get("/api/quotes?ids=BTC");
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.maxAge(), 15);

        // With nothing cached, a failing exchange means 503 for both routes.
        Harness cold;
        cold.exchange.failingStatus = 502;
        QCOMPARE(cold.get("/api/search?q=btc").status, 503);
        QCOMPARE(cold.get("/api/quotes?ids=BTC").status, 503);
        QCOMPARE(cold.exchange.allCalls(), 1);

        // An exchange that never answers, or trickles its answer a byte at a time, costs a client
        // the upstream timeout, no more, and the call is given up.
        for (const bool trickles : {false, true}) {
            Harness slow([](BackendSettings& settings) { settings.upstreamTimeout = 300ms; });
            slow.exchange.hangs = !trickles;
            slow.exchange.trickle = trickles ? 100ms : 0ms;
            QCOMPARE(slow.get("/api/quotes?ids=BTC").status, 503);
            QTRY_COMPARE(slow.exchange.openConnections(), 0);
        }
    }

    void honoursTheExchangesBackOff()
    {
        Harness harness([](BackendSettings& settings) { settings.retryDelay = 1s; });
        harness.exchange.failingStatus = 429;
        harness.exchange.failingHeaders = {{"Retry-After", "120"}};
        QCOMPARE(harness.get("/api/quotes?ids=BTC").status, 503);
        QCOMPARE(harness.exchange.allCalls(), 1);

        // Told to wait two minutes, we do, however often clients ask.
        harness.exchange.failingStatus = 0;
        for (int i = 0; i < 5; ++i) {
            harness.now += 20s;
            QCOMPARE(harness.get("/api/quotes?ids=BTC").status, 503);
        }
        QCOMPARE(harness.exchange.allCalls(), 1);
        harness.now += 25s;
        QCOMPARE(harness.get("/api/quotes?ids=BTC").status, 200);
    }

    void validatesWithEntityTags()
    {
        Harness harness;
        const Answer first = harness.get("/api/quotes?ids=BTC,ETH");
        const QByteArray tag = first.header("ETag");
        QVERIFY(tag.startsWith('"') && tag.endsWith('"') && tag.size() > 2);

        Answer answer = harness.get("/api/quotes?ids=BTC,ETH", {{"If-None-Match", tag}});
        QCOMPARE(answer.status, 304);
        QVERIFY(answer.body.isEmpty());
        QCOMPARE(answer.header("ETag"), tag);
        QVERIFY(answer.maxAge() > 0);
        QCOMPARE(harness.get("/api/quotes?ids=BTC,ETH", {{"If-None-Match", "\"other\", W/" + tag}}).status, 304);
        QCOMPARE(harness.get("/api/quotes?ids=BTC,ETH", {{"If-None-Match", "*"}}).status, 304);
        QCOMPARE(harness.get("/api/quotes?ids=BTC,ETH", {{"If-None-Match", "\"other\""}}).status, 200);
        // Same data, same tag; another answer, another tag.
        QCOMPARE(harness.get("/api/quotes?ids=BTC,ETH").header("ETag"), tag);
        QVERIFY(harness.get("/api/quotes?ids=ETH,BTC").header("ETag") != tag);

        // Data past their lifetime are the same data: the tag still holds until the refresh is in.
        harness.exchange.tickers["BTCUSDT"] = {"1.00000000", "0.000"};
        harness.now += 15s;
        answer = harness.get("/api/quotes?ids=BTC,ETH", {{"If-None-Match", tag}});
        QCOMPARE(answer.status, 304);
        QCOMPARE(answer.maxAge(), 0);
        QTRY_COMPARE(harness.get("/api/quotes?ids=BTC,ETH", {{"If-None-Match", tag}}).status, 200);
        QVERIFY(harness.get("/api/quotes?ids=BTC,ETH").header("ETag") != tag);

        const Answer search = harness.get("/api/search?q=btc");
        QCOMPARE(harness.get("/api/search?q=btc", {{"If-None-Match", search.header("ETag")}}).status, 304);
    }
};

QTEST_GUILESS_MAIN(TestBackendMarket)
#include "tst_backendmarket.moc"
