// The app's HTTP client against the real zentrow-backend executable, which in turn talks to a
// fake exchange on loopback: what the app sends, the backend understands, and the other way round.
#include "RawHttpClient.h"
#include "services/MarketDataServiceError.h"
#include "services/ZentrowAPIMarketDataService.h"
#include "testlib/LoopbackHttpServer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <QCoroTask>

#include <csignal>

using namespace std::chrono_literals;
using Reply = LoopbackHttpServer::Reply;

namespace {

QByteArray exchangeInfo()
{
    QJsonArray symbols;
    for (const char* base : {"BTC", "ETH", "BCH", "CAFE"}) {
        symbols.append(QJsonObject{{"symbol", QString::fromLatin1(base) + "USDT"},
                                   {"status", "TRADING"},
                                   {"baseAsset", base},
                                   {"quoteAsset", "USDT"},
                                   {"isSpotTradingAllowed", true}});
    }
    return QJsonDocument(QJsonObject{{"timezone", "UTC"}, {"symbols", symbols}}).toJson();
}

Reply exchangeAnswer(const LoopbackHttpServer::Request& request)
{
    if (request.target.startsWith("/api/v3/exchangeInfo")) {
        return Reply::json(exchangeInfo());
    }
    if (request.target.startsWith("/api/v3/ticker/24hr")) {
        return Reply::json(R"([{"symbol":"BTCUSDT","priceChangePercent":"-2.050","lastPrice":"75456.36000000"},
                               {"symbol":"ETHUSDT","priceChangePercent":"1.250","lastPrice":"3012.50000000"}])");
    }
    if (request.target.startsWith("/api/v3/klines")) {
        return Reply::json(R"([[1,"1","1","1","71000.00",1,2,"1",1,"1","1","0"],
                               [2,"1","1","1","72200.00",1,2,"1",1,"1","1","0"],
                               [3,"1","1","1","75456.36",1,2,"1",1,"1","1","0"]])");
    }
    return Reply::json(R"({"code":-1121,"msg":"Invalid symbol."})", 400);
}

// Waits for a task on a running event loop.
template <typename T> T await(QCoro::Task<T>&& task)
{
    std::optional<T> result;
    [](QCoro::Task<T> running, std::optional<T>& slot) -> QCoro::Task<> {
        slot.emplace(co_await running);
    }(std::move(task), result);
    (void)QTest::qWaitFor([&result] { return result.has_value(); }, 20'000);
    return result.value_or(T{});
}

// zentrow-backend as a child process on a free port, in front of `exchange`.
class BackendProcess {
public:
    // `descriptorLimit` > 0 starts it with RLIMIT_NOFILE lowered to that.
    explicit BackendProcess(const QStringList& arguments, int descriptorLimit = 0)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // In the sanitizer build, leaks found at exit fail the process (and so the test).
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=1"));
        m_process.setProcessEnvironment(environment);
        if (descriptorLimit > 0) {
            m_process.setProgram(QStringLiteral("/bin/sh"));
            m_process.setArguments(
                QStringList{QStringLiteral("-c"),
                            QStringLiteral("ulimit -n %1 && exec \"$0\" \"$@\"").arg(descriptorLimit),
                            QStringLiteral(ZENTROW_BACKEND_PATH)} +
                arguments);
        } else {
            m_process.setProgram(QStringLiteral(ZENTROW_BACKEND_PATH));
            m_process.setArguments(arguments);
        }
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
    }
    ~BackendProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }

    // The URL it announced once listening; empty if it never did.
    QUrl waitForUrl()
    {
        static const QRegularExpression kListening(QStringLiteral("listening on (http://\\S+)"));
        QRegularExpressionMatch match;
        (void)QTest::qWaitFor(
            [&] {
                m_output.append(m_process.readAllStandardOutput());
                match = kListening.match(QString::fromUtf8(m_output));
                return match.hasMatch() || m_process.state() == QProcess::NotRunning;
            },
            10'000);
        return match.hasMatch() ? QUrl(match.captured(1)) : QUrl();
    }

    // waitForFinished() alone says false for a process whose end an event loop has already seen.
    bool waitForExit(int timeoutMs)
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
    }

    QProcess& process() { return m_process; }
    // Everything written to stderr so far.
    QByteArray errors()
    {
        m_errors.append(m_process.readAllStandardError());
        return m_errors;
    }

private:
    QProcess m_process;
    QByteArray m_output;
    QByteArray m_errors;
};

} // namespace

class TestBackendApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void appReadsTheBackend();
    void appSeesBackendFailures();
    void executableReportsAMissingNamesFile();
    void stopsCleanlyOnSignals_data();
    void stopsCleanlyOnSignals();
    void refusesNewClientsAtTheDescriptorLimit();

private:
    QTemporaryDir m_dir;
    QString m_namesFile;
};

void TestBackendApp::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_namesFile = m_dir.filePath("names.json");
    QFile names(m_namesFile);
    QVERIFY(names.open(QIODevice::WriteOnly));
    names.write(R"({"assets": [{"id": "BTC", "name": "Bitcoin", "logoUrl": "https://img.example/btc.png"},
                                {"id": "BCH", "name": "Bitcoin Cash"},
                                {"id": "CAFE", "name": "Café Crème"}]})");
}

void TestBackendApp::appReadsTheBackend()
{
    LoopbackHttpServer exchange;
    exchange.setHandler(exchangeAnswer);
    BackendProcess backend({"--port", "0", "--upstream", exchange.baseUrl().toString(), "--names", m_namesFile});
    const QUrl url = backend.waitForUrl();
    QVERIFY2(url.isValid(), backend.process().readAllStandardError().constData());
    QCOMPARE(url.host(), QString("127.0.0.1"));

    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    ZentrowAPIMarketDataService service(url, &network, std::make_shared<MockMarketDataService>(), 10s);

    // A space and non-ASCII letters, escaped once by the app, decoded once by the backend. The
    // built-in catalogue knows no such token, so the answer is the backend's.
    QList<TokenSummary> found = await(service.search(QStringLiteral("  CAFÉ crè ")));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().id, QString("CAFE"));
    QCOMPARE(found.first().name, QString("Café Crème"));
    QCOMPARE(found.first().iconSeed, QString("cafe"));
    QVERIFY(found.first().trend7d.isEmpty());

    found = await(service.search(QStringLiteral("bitcoin")));
    QCOMPARE(found.size(), 2);
    QCOMPARE(found.at(0).id, QString("BTC"));
    QCOMPARE(found.at(0).logoURL, QUrl("https://img.example/btc.png"));
    QCOMPARE(found.at(1).id, QString("BCH"));
    QCOMPARE(found.at(1).logoURL, std::nullopt);
    found = await(service.search(QStringLiteral("bitcoin cash")));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().name, QString("Bitcoin Cash"));

    const Result<QList<TokenSummary>> quotes =
        await(service.refreshWatchlist({QStringLiteral("btc"), QStringLiteral("Eth"), QStringLiteral("nope")}));
    QVERIFY(quotes.ok());
    QCOMPARE(quotes.value().size(), 2);
    const TokenSummary& btc = quotes.value().at(0);
    QCOMPARE(btc.id, QString("BTC"));
    QCOMPARE(btc.name, QString("Bitcoin"));
    QCOMPARE(btc.price, 75456.36);
    QCOMPARE(btc.change24h, -2.05);
    QCOMPARE(btc.trend7d, QList<double>({71000, 72200, 75456.36}));
    QCOMPARE(btc.rank, std::nullopt);
    const TokenSummary& eth = quotes.value().at(1);
    QCOMPARE(eth.id, QString("ETH"));
    // The --names table replaces the built-in one, and ETH is not in it.
    QCOMPARE(eth.name, QString("ETH"));
}

void TestBackendApp::appSeesBackendFailures()
{
    LoopbackHttpServer exchange;
    exchange.setHandler(
        [](const LoopbackHttpServer::Request&) { return Reply::json(R"({"code":-1,"msg":"down"})", 503); });
    BackendProcess backend({"--port", "0", "--upstream", exchange.baseUrl().toString()});
    const QUrl url = backend.waitForUrl();
    QVERIFY(url.isValid());

    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    ZentrowAPIMarketDataService service(url, &network, std::make_shared<MockMarketDataService>(), 10s);

    // Quotes fail with the backend's status; searches fall back to the built-in catalogue.
    const Result<QList<TokenSummary>> quotes = await(service.refreshWatchlist({QStringLiteral("BTC")}));
    QVERIFY(!quotes.ok());
    QCOMPARE(quotes.error(), Error(MarketDataServiceError::httpStatus(503)));
    const QList<TokenSummary> found = await(service.search(QStringLiteral("btc")));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().rank, std::optional<qint64>(1));
    QCOMPARE(exchange.requests().size(), 1);
}

void TestBackendApp::executableReportsAMissingNamesFile()
{
    // Usage errors and a taken port are covered with the activation tests.
    BackendProcess names({"--port", "0", "--names", m_dir.filePath("missing.json")});
    QVERIFY(names.process().waitForFinished(10'000));
    QCOMPARE(names.process().exitCode(), 1);
    QVERIFY(names.process().readAllStandardError().contains("missing.json"));
}

void TestBackendApp::stopsCleanlyOnSignals_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TestBackendApp::stopsCleanlyOnSignals()
{
    QFETCH(int, signalNumber);
    // Tickers never come, so a quotes request is still waiting when the signal arrives.
    LoopbackHttpServer exchange;
    exchange.setHandler([](const LoopbackHttpServer::Request& request) {
        return request.target.startsWith("/api/v3/ticker") ? Reply::never() : exchangeAnswer(request);
    });
    BackendProcess backend({"--port", "0", "--upstream", exchange.baseUrl().toString(), "--upstream-timeout", "60"});
    const QUrl url = backend.waitForUrl();
    QVERIFY(url.isValid());

    RawClient searching(url);
    searching.get("/api/search?q=btc");
    QCOMPARE(searching.status(), 200); // now idle on keep-alive
    RawClient waiting(url);
    waiting.get("/api/quotes?ids=BTC");
    QTRY_COMPARE(exchange.requests().size(), 2);

    QElapsedTimer stopping;
    stopping.start();
    QCOMPARE(::kill(static_cast<pid_t>(backend.process().processId()), signalNumber), 0);
    // The waiting request is answered (the exchange is given up on), then everything closes.
    QCOMPARE(waiting.status(), 503);
    QVERIFY(backend.waitForExit(5000));
    QVERIFY2(stopping.elapsed() < 3000, qPrintable(QString::number(stopping.elapsed())));
    QTRY_VERIFY(searching.isClosed());
    const QByteArray errors = backend.errors();
    QCOMPARE(backend.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(backend.process().exitCode() == 0, errors.constData());
    QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    QVERIFY(errors.contains("stopping"));
}

void TestBackendApp::refusesNewClientsAtTheDescriptorLimit()
{
    LoopbackHttpServer exchange;
    exchange.setHandler(exchangeAnswer);
    BackendProcess backend({"--port", "0", "--upstream", exchange.baseUrl().toString()}, 40);
    const QUrl url = backend.waitForUrl();
    QVERIFY2(url.isValid(), backend.errors().constData());
    RawClient regular(url);
    regular.get("/api/quotes?ids=BTC");
    QCOMPARE(regular.status(), 200);

    // More silent clients than the process has descriptors for.
    std::vector<std::unique_ptr<RawClient>> crowd;
    for (int i = 0; i < 60; ++i) {
        crowd.push_back(std::make_unique<RawClient>(url));
    }
    QTRY_VERIFY2(std::any_of(crowd.begin(), crowd.end(), [](const auto& client) { return client->isClosed(); }),
                 backend.errors().constData());

    // Newcomers hear "busy" (or see the door close) at once instead of waiting in the backlog...
    for (int i = 0; i < 3; ++i) {
        RawClient late(url);
        late.get("/api/quotes?ids=BTC");
        const int status = late.status(5000);
        QVERIFY2(status == 503 || (status == 0 && late.isClosed()), qPrintable(QString::number(status)));
    }
    // ...while those already in are served on, and the log says so once.
    regular.get("/api/quotes?ids=BTC");
    QCOMPARE(regular.status(), 200);
    QTRY_COMPARE(backend.errors().count("out of file descriptors"), 1);
}

QTEST_GUILESS_MAIN(TestBackendApp)
#include "tst_backendapp.moc"
