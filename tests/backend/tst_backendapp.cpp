// The app's HTTP client against the real zentrow-backend executable, which in turn talks to a
// fake exchange on loopback: what the app sends, the backend understands, and the other way round.
#include "BackendProcess.h"
#include "FakeExchange.h"
#include "RawHttpClient.h"
#include "services/MarketDataServiceError.h"
#include "services/ZentrowAPIMarketDataService.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <QCoroTask>

#include <csignal>

using namespace std::chrono_literals;

namespace {

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
    ~BackendProcess() { stop(m_process); }

    // The URL it announced once listening; empty if it never did.
    QUrl waitForUrl()
    {
        static const QRegularExpression kListening(QStringLiteral("listening on (http://\\S+)\\s"));
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

    void appReadsTheBackend()
    {
        FakeExchange exchange;
        exchange.pairs.append({QStringLiteral("CAFEUSDT"), QStringLiteral("CAFE")});
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

        const Result<QList<TokenSummary>> quotes =
            await(service.refreshWatchlist({QStringLiteral("btc"), QStringLiteral("Eth"), QStringLiteral("nope")}));
        QVERIFY(quotes.ok());
        QCOMPARE(quotes.value().size(), 2);
        const TokenSummary& btc = quotes.value().at(0);
        QCOMPARE(btc.id, QString("BTC"));
        QCOMPARE(btc.name, QString("Bitcoin"));
        QCOMPARE(btc.price, 75456.36);
        QCOMPARE(btc.change24h, -2.05);
        QCOMPARE(btc.trend7d, QList<double>({71000, 72200, 73650, 74120, 75900, 76320, 75456.36}));
        QCOMPARE(btc.rank, std::nullopt);
        const TokenSummary& eth = quotes.value().at(1);
        QCOMPARE(eth.id, QString("ETH"));
        // The --names table replaces the built-in one, and ETH is not in it.
        QCOMPARE(eth.name, QString("ETH"));
    }

    void appSeesBackendFailures()
    {
        FakeExchange exchange;
        exchange.failingStatus = 503;
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
        QCOMPARE(exchange.allCalls(), 1);
    }

    void stopsCleanlyOnSignals_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void stopsCleanlyOnSignals()
    {
        QFETCH(int, signalNumber);
        FakeExchange exchange;
        BackendProcess backend(
            {"--port", "0", "--upstream", exchange.baseUrl().toString(), "--upstream-timeout", "60"});
        const QUrl url = backend.waitForUrl();
        QVERIFY(url.isValid());

        RawClient searching(url);
        searching.get("/api/search?q=btc");
        QCOMPARE(searching.status(), 200); // now idle on keep-alive
        // Tickers never come, so a quotes request is still waiting when the signal arrives.
        exchange.hangs = true;
        RawClient waiting(url);
        waiting.get("/api/quotes?ids=BTC");
        QTRY_COMPARE(exchange.allCalls(), 2);

        QElapsedTimer stopping;
        stopping.start();
        QCOMPARE(::kill(static_cast<pid_t>(backend.process().processId()), signalNumber), 0);
        // The waiting request is answered (the exchange is given up on), then everything closes.
        QCOMPARE(waiting.status(), 503);
        QVERIFY(waitForExit(backend.process(), 5000));
        QVERIFY2(stopping.elapsed() < 3000, qPrintable(QString::number(stopping.elapsed())));
        QTRY_VERIFY(searching.isClosed());
        const QByteArray errors = backend.errors();
        QCOMPARE(backend.process().exitStatus(), QProcess::NormalExit);
        QVERIFY2(backend.process().exitCode() == 0, errors.constData());
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
        QVERIFY(errors.contains("stopping"));
    }

    void refusesNewClientsAtTheDescriptorLimit()
    {
        FakeExchange exchange;
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

QTEST_GUILESS_MAIN(TestBackendApp)
#include "tst_backendapp.moc"
