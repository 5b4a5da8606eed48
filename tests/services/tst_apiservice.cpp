#include "services/ZentrowAPIMarketDataService.h"
#include "testlib/FakeMarketDataService.h"
#include "testlib/LoopbackHttpServer.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTest>

// Expected records name only the fields they set; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using Reply = LoopbackHttpServer::Reply;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(LoopbackHttpServer::Reply)
Q_DECLARE_METATYPE(Error::Domain)

namespace {

constexpr QLatin1StringView kBitcoinQuote(
    R"({"id": "BTC", "symbol": "BTC", "name": "Bitcoin", "price": 75456.36, "change24h": -2.05,
        "trend7d": [71000, 72200, 73650, 74120, 75900, 76320, 75456]})");

// Returns at once, remembering how each wait was asked for, so fallback searches cost nothing
// and a test can see whether the caller's cancellation reached the fallback.
class RecordingSleeper final : public Sleeper {
public:
    QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) override
    {
        durations.append(duration);
        stoppedTokens.append(stop.stop_requested());
        co_return;
    }

    QList<std::chrono::milliseconds> durations;
    QList<bool> stoppedTokens;
};

// A call's outcome once it has one. The slot is shared with the running call, so a test that
// gives up early leaves nothing behind that the call could write into.
template <typename T> using Pending = std::shared_ptr<std::optional<T>>;

template <typename T> QCoro::Task<> deliver(QCoro::Task<T> task, Pending<T> slot)
{
    slot->emplace(co_await task);
}

template <typename T> Pending<T> start(QCoro::Task<T>&& task)
{
    auto pending = std::make_shared<std::optional<T>>();
    deliver(std::move(task), pending);
    return pending;
}

const QByteArray kSearchAnswer = R"({"data": [{"id": "eth", "symbol": "eth", "name": "Ethereum", "logoUrl": null,
                                                "rank": 2},
                                               {"id": "eth", "symbol": "Straße", "name": "  lower name  ",
                                                "logoUrl": "https://cdn.example/eth.png"}], "total": 2})";

QByteArray dataOf(QLatin1StringView items)
{
    return QByteArray(R"({"data": [)") + QByteArray(items.data(), items.size()) + "]}";
}

// A service in front of a loopback server; `baseURL`, when given, points elsewhere, and
// `basePath` puts the API below a path of the server.
struct Fixture {
    explicit Fixture(std::chrono::milliseconds timeout = 5s, QUrl baseURL = {}, const QString& basePath = {})
        : service(baseURL.isEmpty() ? server.baseUrl().resolved(QUrl(basePath)) : baseURL, &session,
                  std::make_shared<MockMarketDataService>(sleeper), timeout)
    {
        session.setProxy(QNetworkProxy::NoProxy);
    }

    LoopbackHttpServer server;
    QNetworkAccessManager session;
    std::shared_ptr<RecordingSleeper> sleeper = std::make_shared<RecordingSleeper>();
    ZentrowAPIMarketDataService service;
};

} // namespace

class TestZentrowAPIMarketDataService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sendsExactRequests_data()
    {
        QTest::addColumn<QString>("basePath");
        QTest::addColumn<bool>("isSearch");
        QTest::addColumn<QStringList>("input");
        QTest::addColumn<QByteArray>("target");

        QTest::newRow("search") << "" << true << QStringList{"eth"} << QByteArray("/api/search?q=eth");
        QTest::newRow("search trimmed") << "" << true << QStringList{"  eth "} << QByteArray("/api/search?q=eth");
        QTest::newRow("search space escaped once")
            << "" << true << QStringList{"bit coin"} << QByteArray("/api/search?q=bit%20coin");
        QTest::newRow("search non-ASCII as UTF-8")
            << "" << true << QStringList{"Éther 以太"} << QByteArray("/api/search?q=%C3%89ther%20%E4%BB%A5%E5%A4%AA");
        QTest::newRow("search delimiters") << "" << true << QStringList{"a+b&q=c#d%e/f?g,h"}
                                           << QByteArray("/api/search?q=a%2Bb%26q%3Dc%23d%25e%2Ff%3Fg%2Ch");
        QTest::newRow("quotes") << "" << false << QStringList{"btc", "", "Eth"}
                                << QByteArray("/api/quotes?ids=BTC,ETH");
        QTest::newRow("quotes keep duplicates")
            << "" << false << QStringList{"sol", "SOL"} << QByteArray("/api/quotes?ids=SOL,SOL");
        QTest::newRow("quotes untrimmed, escaped")
            << "" << false << QStringList{" a&ids=b"} << QByteArray("/api/quotes?ids=%20A%26IDS%3DB");
        QTest::newRow("base path") << "/v1" << false << QStringList{"btc"} << QByteArray("/v1/api/quotes?ids=BTC");
        QTest::newRow("base path, trailing slash")
            << "/v1/" << true << QStringList{"eth"} << QByteArray("/v1/api/search?q=eth");
        // No target: answered at once, without a turn of the event loop, and nothing is sent.
        QTest::newRow("blank search") << "" << true << QStringList{"\n\t "} << QByteArray();
        QTest::newRow("null search") << "" << true << QStringList{QString()} << QByteArray();
        QTest::newRow("no quotes") << "" << false << QStringList{} << QByteArray();
        QTest::newRow("blank quotes") << "" << false << QStringList{"", ""} << QByteArray();
    }

    void sendsExactRequests()
    {
        QFETCH(QString, basePath);
        QFETCH(bool, isSearch);
        QFETCH(QStringList, input);
        QFETCH(QByteArray, target);

        Fixture f(5s, {}, basePath);
        f.server.setHandler([](const LoopbackHttpServer::Request&) { return Reply::json(R"({"data": []})"); });

        // An empty list is an answer in its own right: no fallback results.
        if (isSearch) {
            const auto pending = start(f.service.search(input.value(0)));
            QCOMPARE(pending->has_value(), target.isEmpty());
            QTRY_VERIFY(pending->has_value());
            QVERIFY(pending->value().isEmpty());
        } else {
            const auto pending = start(f.service.refreshWatchlist(input));
            QCOMPARE(pending->has_value(), target.isEmpty());
            QTRY_VERIFY(pending->has_value());
            QVERIFY(pending->value().ok() && pending->value().value().isEmpty());
        }
        QVERIFY(f.sleeper->durations.isEmpty());
        QCoreApplication::processEvents();
        const QList<LoopbackHttpServer::Request> requests = f.server.requests();
        QCOMPARE(requests.size(), target.isEmpty() ? 0 : 1);
        if (target.isEmpty()) {
            return;
        }
        QCOMPARE(requests.first().requestLine, "GET " + target + " HTTP/1.1");
        QVERIFY(requests.first().body.isEmpty());
        // Only what Qt itself sends with every GET; the service adds no header of its own.
        const QList<QByteArray> qtHeaders{"host", "connection", "accept-encoding", "accept-language", "user-agent"};
        for (const auto& [name, value] : requests.first().headers) {
            QVERIFY2(qtHeaders.contains(name.toLower()), name.constData());
        }
    }

    void mapsAnswers()
    {
        Fixture f;
        f.server.setHandler([](const LoopbackHttpServer::Request& request) {
            if (request.target.startsWith("/api/search")) {
                return Reply::json(kSearchAnswer);
            }
            // The redirect's own body must not end up in front of the answer.
            if (request.target.startsWith("/api/quotes")) {
                Reply moved = Reply::json(R"({"data": []})", 302);
                moved.addHeader("Location", "/v2/quotes");
                return moved;
            }
            // ETH was asked for but is missing; SOL was not asked for but is there.
            return Reply::json(dataOf(kBitcoinQuote).chopped(2) + R"(, {"id": "sol", "symbol": "sol", "name": "Solana",
                                         "price": 85.71, "change24h": 0, "trend7d": [], "high24h": 88.5,
                                         "low24h": null, "quoteVolume24h": 1.5e8, "priceChange24h": -0.25,
                                         "trend7dFine": [84, 85.5, 85.71], "quotedAt": 1700000000123}]})");
        });
        const auto pending = start(f.service.refreshWatchlist({"btc", "eth"}));
        QTRY_VERIFY(pending->has_value());
        QVERIFY(pending->value().ok());
        const QList<TokenSummary>& tokens = pending->value().value();
        QCOMPARE(FakeMarketDataService::ids(tokens), (QStringList{"BTC", "SOL"}));
        QCOMPARE(f.server.requests().size(), 2);

        TokenSummary bitcoin = TokenSummary::fallbackCatalog().first();
        bitcoin.rank.reset();
        QCOMPARE(tokens.at(0), bitcoin);
        // The optional 24-hour figures: absent above (an older backend), present or null here.
        const TokenSummary solana{.id = "SOL",
                                  .symbol = "SOL",
                                  .name = "Solana",
                                  .price = 85.71,
                                  .iconSeed = "sol",
                                  .high24h = 88.5,
                                  .quoteVolume24h = 1.5e8,
                                  .priceChange24h = -0.25,
                                  .trend7dFine = {84, 85.5, 85.71},
                                  .quotedAt = 1700000000123};
        QCOMPARE(tokens.at(1), solana);

        const auto search = start(f.service.search(QStringLiteral("eth")));
        QTRY_VERIFY(search->has_value());
        const TokenSummary ethereum{.id = "ETH", .symbol = "ETH", .name = "Ethereum", .iconSeed = "eth"};
        // Full Unicode upper-casing of the symbol; the name as sent.
        const TokenSummary second{.id = "ETH",
                                  .symbol = "STRASSE",
                                  .name = "  lower name  ",
                                  .iconSeed = "straße",
                                  .logoURL = QUrl("https://cdn.example/eth.png")};
        // Order kept, duplicates kept, unknown members ignored; no fallback involved.
        QCOMPARE(search->value(), (QList<TokenSummary>{ethereum, second}));
        QVERIFY(f.sleeper->durations.isEmpty());
    }

    void decodesStrictly_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("failingMember"); // named first in the failure reason, when not empty

        const QByteArray head = R"({"data": [{"id": "BTC", "symbol": "BTC", "name": "Bitcoin", )";
        const auto quote = [&head](const char* numbers) { return head + numbers + "}]}"; };

        QTest::newRow("price as string") << quote(R"("price": "75456.36", "change24h": 0, "trend7d": [])")
                                         << "data[0].price";
        QTest::newRow("change missing") << quote(R"("price": 1, "trend7d": [])") << "data[0].change24h";
        QTest::newRow("trend missing") << quote(R"("price": 1, "change24h": 0)") << "data[0].trend7d";
        QTest::newRow("trend with string")
            << quote(R"("price": 1, "change24h": 0, "trend7d": [1, "2"])") << "data[0].trend7d[1]";
        QTest::newRow("trend -1e400") << quote(R"("price": 1, "change24h": 0, "trend7d": [-1e400])") << "";
        QTest::newRow("second item, id as number")
            << QByteArray(
                   R"({"data": [{"id": "A", "symbol": "A", "name": "A", "price": 1, "change24h": 0, "trend7d": []},
                                       {"id": 1, "symbol": "B", "name": "B", "price": 1, "change24h": 0, "trend7d": []}]})")
            << "data[1].id";
        QTest::newRow("high24h as string")
            << quote(R"("price": 1, "change24h": 0, "trend7d": [], "high24h": "2")") << "data[0].high24h";
        QTest::newRow("quotedAt not integral")
            << quote(R"("price": 1, "change24h": 0, "trend7d": [], "quotedAt": 1.5)") << "data[0].quotedAt";
        QTest::newRow("trend7dFine not an array")
            << quote(R"("price": 1, "change24h": 0, "trend7d": [], "trend7dFine": 3)") << "data[0].trend7dFine";
        QTest::newRow("logoUrl as number")
            << quote(R"("price": 1, "change24h": 0, "trend7d": [], "logoUrl": 3)") << "data[0].logoUrl";
        QTest::newRow("item not an object") << QByteArray(R"({"data": ["BTC"]})") << "data[0]";
        QTest::newRow("data not an array") << QByteArray(R"({"data": {}})") << "data";
        QTest::newRow("top level array") << QByteArray(R"([{"data": []}])") << "";
        QTest::newRow("empty body") << QByteArray() << "";
        QTest::newRow("deeply nested") << QByteArray(5000, '[') + QByteArray(5000, ']') << "";
        QTest::newRow("invalid UTF-8") << QByteArray("{\"data\": [{\"id\": \"\xFF\xFE\"}]}") << "";
    }

    void decodesStrictly()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, failingMember);

        const Result<QList<TokenSummary>> tokens = ZentrowAPIMarketDataService::decodeQuotes(body);
        QVERIFY(!tokens.ok());
        QCOMPARE(tokens.error().domain(), Error::Domain::Decoding);
        QVERIFY(!tokens.error().localizedDescription().isEmpty());
        const QString reason = tokens.error().localizedFailureReason().value_or(QString());
        QVERIFY(!reason.isEmpty());
        if (!failingMember.isEmpty()) {
            QVERIFY2(reason.startsWith(failingMember + QLatin1Char(':')), qPrintable(reason));
        }
    }

    void failures_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("elsewhere"); // "refused": nobody listens; "files": a folder answers
        QTest::addColumn<Error::Domain>("domain");
        QTest::addColumn<qint64>("code");
        QTest::addColumn<QString>("description"); // empty: any non-empty text

        const QByteArray quote = dataOf(kBitcoinQuote);
        const QString tooLarge = QStringLiteral("The server's answer is larger than 16 MiB and was not read.");
        const auto transport = Error::Domain::Transport;
        const auto decoding = Error::Domain::Decoding;

        QTest::newRow("not HTTP") << Reply::raw("SSH-2.0-OpenSSH\r\n\r\n") << "" << transport
                                  << qint64(QNetworkReply::RemoteHostClosedError) << QString();
        QTest::newRow("not over HTTP") << Reply() << "files" << Error::Domain::MarketDataService << qint64(0)
                                       << QStringLiteral("无效的服务器响应。");
        QTest::newRow("connection refused")
            << Reply() << "refused" << transport << qint64(QNetworkReply::ConnectionRefusedError) << QString();
        QTest::newRow("no answer in time") << Reply::never() << "" << transport << qint64(QNetworkReply::TimeoutError)
                                           << QStringLiteral("The server did not answer in time.");
        QTest::newRow("closed without answer") << Reply::closeWithoutAnswer() << "" << transport
                                               << qint64(QNetworkReply::RemoteHostClosedError) << QString();
        QTest::newRow("status 503") << Reply::json(quote, 503) << "" << Error::Domain::MarketDataService << qint64(503)
                                    << QStringLiteral("服务器返回了异常状态码：503。");
        Reply statusWithoutEnd = Reply::truncated("{", 1000);
        statusWithoutEnd.status = 404;
        statusWithoutEnd.mode = Reply::Mode::TruncatedBody;
        QTest::newRow("status 404, body never read") << statusWithoutEnd << "" << Error::Domain::MarketDataService
                                                     << qint64(404) << QStringLiteral("服务器返回了异常状态码：404。");
        QTest::newRow("not JSON") << Reply::json("<html>busy</html>") << "" << decoding << qint64(0) << QString();
        QTest::newRow("truncated body") << Reply::truncated(quote.left(40), quote.size()) << "" << transport
                                        << qint64(QNetworkReply::RemoteHostClosedError) << QString();

        const QByteArray huge(ZentrowAPIMarketDataService::kMaximumBodySize + 1, ' ');
        QTest::newRow("over 16 MiB") << Reply::json(huge) << "" << transport
                                     << qint64(QNetworkReply::UnknownContentError) << tooLarge;
        // Far more than the limit: the client must not stall once its buffers are full.
        Reply undeclared = Reply::json(huge + huge + huge + quote);
        undeclared.sendsContentLength = false;
        QTest::newRow("over 16 MiB, length undeclared")
            << undeclared << "" << transport << qint64(QNetworkReply::UnknownContentError) << tooLarge;
        // Refused on the header alone: the body never comes, yet the call ends before any timeout.
        QTest::newRow("over 16 MiB announced")
            << Reply::truncated("{", ZentrowAPIMarketDataService::kMaximumBodySize + 1) << "" << transport
            << qint64(QNetworkReply::UnknownContentError) << tooLarge;
    }

    void failures()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, elsewhere);
        QFETCH(Error::Domain, domain);
        QFETCH(qint64, code);
        QFETCH(QString, description);

        // Short enough for the silent backend, long enough for the large bodies under a sanitizer.
        const auto timeout = reply.mode == Reply::Mode::NeverAnswer ? 300ms : 20s;
        QUrl base;
        QTemporaryDir root;
        if (elsewhere == "refused") {
            base = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(LoopbackHttpServer::unusedPort()));
        } else if (elsewhere == "files") {
            // The manager answers without HTTP: the files exist and are valid answers.
            QVERIFY(QDir(root.path()).mkpath(QStringLiteral("api")));
            for (const char* name : {"api/quotes", "api/search"}) {
                QFile file(root.filePath(QLatin1String(name)));
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(dataOf(kBitcoinQuote)) > 0);
            }
            base = QUrl::fromLocalFile(root.path());
        }
        Fixture f(timeout, base);
        f.server.setHandler([reply](const LoopbackHttpServer::Request&) { return reply; });

        const auto quotes = start(f.service.refreshWatchlist({"btc"}));
        QTRY_VERIFY_WITH_TIMEOUT(quotes->has_value(), 30000);
        QVERIFY(!quotes->value().ok());
        const Error& error = quotes->value().error();
        QCOMPARE(error.domain(), domain);
        QCOMPARE(error.code(), code);
        if (description.isEmpty()) {
            QVERIFY(!error.localizedDescription().isEmpty());
        } else {
            QCOMPARE(error.localizedDescription(), description);
        }
        if (domain == Error::Domain::Decoding) {
            QVERIFY(error.localizedFailureReason().has_value());
        }

        // The same failure on a search is answered from the catalogue, with the caller's text,
        // and without the catalogue's sample prices, which are not the market's.
        const auto search = start(f.service.search(QStringLiteral(" bit ")));
        QTRY_VERIFY_WITH_TIMEOUT(search->has_value(), 30000);
        QCOMPARE(FakeMarketDataService::ids(search->value()), QStringList{"BTC"});
        const TokenSummary& found = search->value().first();
        QVERIFY(found.price == 0 && found.change24h == 0 && found.trend7d.isEmpty());
        QCOMPARE(f.sleeper->durations, QList<std::chrono::milliseconds>{MockMarketDataService::kSearchDelay});
        // Qt sends a request again once when the connection closes before any answer.
        QVERIFY(!elsewhere.isEmpty() ? f.server.requests().isEmpty() : f.server.requests().size() >= 2);
    }

    void cancellationAbortsTheRequest()
    {
        Fixture f;
        f.server.setHandler([](const LoopbackHttpServer::Request&) { return Reply::never(); });

        std::stop_source searchStop;
        std::stop_source quotesStop;
        const auto search = start(f.service.search(QStringLiteral("COIN"), searchStop.get_token()));
        const auto quotes = start(f.service.refreshWatchlist({"BTC"}, quotesStop.get_token()));
        QTRY_COMPARE(f.server.openConnections(), 2);
        QTRY_COMPARE(f.server.requests().size(), 2);

        searchStop.request_stop();
        quotesStop.request_stop();
        // Nothing of the calls runs inside request_stop(); they end on a later turn of the loop.
        QVERIFY(!search->has_value() && !quotes->has_value());

        QTRY_VERIFY(search->has_value() && quotes->has_value());
        // The catalogue matched the names whatever their case.
        QCOMPARE(FakeMarketDataService::ids(search->value()), (QStringList{"BTC", "DOGE"}));
        // The fallback got the stopped token, which cuts its wait short.
        QCOMPARE(f.sleeper->stoppedTokens, QList<bool>{true});
        QVERIFY(!quotes->value().ok());
        QCOMPARE(quotes->value().error().domain(), Error::Domain::Transport);
        QCOMPARE(quotes->value().error().code(), qint64(QNetworkReply::OperationCanceledError));
        // The aborted requests closed their connections.
        QTRY_COMPARE(f.server.openConnections(), 0);

        // Already stopped: nothing is sent at all.
        const auto late = start(f.service.refreshWatchlist({"BTC"}, quotesStop.get_token()));
        QTRY_VERIFY(late->has_value());
        QCOMPARE(late->value().error().code(), qint64(QNetworkReply::OperationCanceledError));
        QCOMPARE(f.server.requests().size(), 2);
    }

    void serviceOrSessionMayGoAwayMidFlight()
    {
        LoopbackHttpServer server;
        server.setHandler([](const LoopbackHttpServer::Request& request) {
            Reply reply =
                request.target.startsWith("/api/quotes") ? Reply::json(dataOf(kBitcoinQuote)) : Reply::json("{}", 500);
            reply.delay = 100ms;
            return reply;
        });
        auto session = std::make_unique<QNetworkAccessManager>();
        session->setProxy(QNetworkProxy::NoProxy);
        auto sleeper = std::make_shared<RecordingSleeper>();
        auto service = std::make_shared<ZentrowAPIMarketDataService>(server.baseUrl(), session.get(),
                                                                     std::make_shared<MockMarketDataService>(sleeper));

        // The service goes first: its calls still finish, the search through the fallback.
        const auto quotes = start(service->refreshWatchlist({"BTC"}));
        const auto search = start(service->search(QStringLiteral("sol")));
        QTRY_COMPARE(server.requests().size(), 2);
        service.reset();
        QTRY_VERIFY(quotes->has_value() && search->has_value());
        QVERIFY(quotes->value().ok());
        QCOMPARE(FakeMarketDataService::ids(quotes->value().value()), QStringList{"BTC"});
        QCOMPARE(FakeMarketDataService::ids(search->value()), QStringList{"SOL"});

        // The session goes while calls wait on it: transport errors, a fallback search, and later
        // calls that fail cleanly.
        server.setHandler([](const LoopbackHttpServer::Request&) { return Reply::never(); });
        ZentrowAPIMarketDataService orphan(server.baseUrl(), session.get(),
                                           std::make_shared<MockMarketDataService>(sleeper));
        const auto stuck = start(orphan.refreshWatchlist({"BTC"}));
        const auto stuckSearch = start(orphan.search(QStringLiteral("ada")));
        QTRY_COMPARE(server.requests().size(), 4);
        session.reset();
        QTRY_VERIFY(stuck->has_value() && stuckSearch->has_value());
        QVERIFY(!stuck->value().ok());
        QCOMPARE(stuck->value().error().domain(), Error::Domain::Transport);
        QCOMPARE(FakeMarketDataService::ids(stuckSearch->value()), QStringList{"ADA"});
        const auto after = start(orphan.refreshWatchlist({"BTC"}));
        QTRY_VERIFY(after->has_value());
        QCOMPARE(after->value().error().domain(), Error::Domain::Transport);
    }
};

QTEST_GUILESS_MAIN(TestZentrowAPIMarketDataService)
#include "tst_apiservice.moc"
