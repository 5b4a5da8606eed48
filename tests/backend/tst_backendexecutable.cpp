// The zentrow-backend executable. Started the way systemd starts it for zentrow-backend.socket
// (the listening socket at descriptor 3 with LISTEN_FDS and LISTEN_PID, quitting once nobody uses
// it), and in front of a fake exchange on loopback with the app's HTTP client talking to it: what
// the app sends, the backend understands, and the other way round.
#include "BackendProcess.h"
#include "FakeExchange.h"
#include "HttpServer.h"
#include "RawHttpClient.h"
#include "SocketActivation.h"
#include "services/ZentrowAPIMarketDataService.h"

#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>

#include <QCoroTask>

#include <csignal>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
// Starts the backend with `descriptor` as its descriptor 3. LISTEN_PID must name the backend
// itself, which only a shell that then execs it knows: `$$` before `exec`.
void startActivated(QProcess& process, int descriptor, const QStringList& arguments, const QByteArray& fdCount = "1",
                    bool pidMatches = true)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LISTEN_FDS"), QString::fromLatin1(fdCount));
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([descriptor] {
        // dup2 clears close-on-exec on the copy, which is what hands it over.
        if (descriptor >= 0)
            ::dup2(descriptor, SocketActivation::kFirstDescriptor);
    });
    const QString pid = pidMatches ? QStringLiteral("$$") : QStringLiteral("1");
    process.setProgram(QStringLiteral("/bin/sh"));
    process.setArguments(QStringList{QStringLiteral("-c"), QStringLiteral("LISTEN_PID=%1 exec \"$0\" \"$@\"").arg(pid),
                                     QStringLiteral(ZENTROW_BACKEND_PATH)} +
                         arguments);
    process.start();
}

// A --names table, in place of the built-in one.
const QByteArray kNames = R"({"assets": [{"id": "BTC", "name": "Bitcoin", "logoUrl": "https://img.example/btc.png"},
                                        {"id": "BCH", "name": "Bitcoin Cash"},
                                        {"id": "CAFE", "name": "Café Crème"}]})";

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
        // Through a shell that execs it, so the process id is the backend's.
        const QString limit = descriptorLimit > 0 ? QStringLiteral("ulimit -n %1 && ").arg(descriptorLimit) : QString();
        m_process.start(QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"), limit + "exec \"$0\" \"$@\"",
                                                               QStringLiteral(ZENTROW_BACKEND_PATH)} +
                                                       arguments);
    }
    ~BackendProcess() { stop(m_process); }

    // The URL it announced once listening; empty if it never did.
    QUrl waitForUrl()
    {
        static const QRegularExpression kListening(QStringLiteral("listening on (http://\\S+) "));
        return QUrl(kListening.match(QString::fromUtf8(waitForOutput(m_process, " (upstream "))).captured(1));
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
    QByteArray m_errors;
};

} // namespace

class TestBackendExecutable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void appReadsTheBackend()
    {
        FakeExchange exchange;
        exchange.pairs.append({QStringLiteral("CAFEUSDT"), QStringLiteral("CAFE")});
        QTemporaryFile names;
        QVERIFY(names.open() && names.write(kNames) == kNames.size() && names.flush());
        BackendProcess backend({"--port", "0", "--upstream", exchange.baseUrl().toString(), "--names", names.fileName(),
                                "--upstream-timeout", "60"});
        const QUrl url = backend.waitForUrl();
        QVERIFY2(url.isValid(), backend.process().readAllStandardError().constData());
        QCOMPARE(url.host(), QString("127.0.0.1"));

        QNetworkAccessManager network;
        network.setProxy(QNetworkProxy::NoProxy);
        ZentrowAPIMarketDataService service(url, &network, std::make_shared<MockMarketDataService>(), 10s);

        // A space and non-ASCII letters, escaped once by the app, decoded once by the backend. The
        // built-in catalogue knows no such token, so the answer is the backend's.
        QList<TokenSummary> found = QCoro::waitFor(service.search(QStringLiteral("  CAFÉ crè ")));
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first().name, QString("Café Crème"));
        // The --names table's logos reach the app.
        found = QCoro::waitFor(service.search(QStringLiteral("bitcoin")));
        QCOMPARE(found.size(), 2);
        QCOMPARE(found.at(0).logoURL, QUrl("https://img.example/btc.png"));
        QCOMPARE(found.at(1).logoURL, std::nullopt);

        const Result<QList<TokenSummary>> quotes = QCoro::waitFor(
            service.refreshWatchlist({QStringLiteral("btc"), QStringLiteral("Eth"), QStringLiteral("nope")}));
        QVERIFY(quotes.ok());
        QCOMPARE(quotes.value().size(), 2);
        const TokenSummary& btc = quotes.value().at(0);
        QCOMPARE(btc.price, 75456.36);
        QCOMPARE(btc.change24h, -2.05);
        QCOMPARE(btc.trend7d, QList<double>({71000, 72200, 73650, 74120, 75900, 76320, 75456.36}));
        QVERIFY(std::tuple(btc.high24h, btc.low24h, btc.quoteVolume24h, btc.priceChange24h) ==
                std::tuple(77410.0, 74850.12, 1523456789.12, -1579.32));
        QCOMPARE(btc.trend7dFine, QList<double>({74000.5, 74800.25, 75456.36}));
        const TokenSummary& eth = quotes.value().at(1);
        QCOMPARE(eth.id, QString("ETH"));
        // The exchange gave no 24-hour window for it: nothing stands in.
        QVERIFY(!eth.high24h && !eth.low24h && !eth.quoteVolume24h && !eth.priceChange24h);
        // The --names table replaces the built-in one, and ETH is not in it.
        QCOMPARE(eth.name, QString("ETH"));

        // SIGTERM, as systemd stops it (SIGINT takes the same path), with one client idle on
        // keep-alive and one waiting for tickers that never come.
        RawClient searching(url);
        QCOMPARE(searching.getStatus("/api/search?q=btc"), 200); // now idle on keep-alive
        const qsizetype callsBefore = exchange.allCalls();
        exchange.hangs = true;
        RawClient waiting(url);
        waiting.get("/api/quotes?ids=SOL");
        QTRY_COMPARE(exchange.allCalls(), callsBefore + 1);

        QCOMPARE(::kill(static_cast<pid_t>(backend.process().processId()), SIGTERM), 0);
        // The waiting request is answered (the exchange is given up on), then everything closes.
        QCOMPARE(waiting.status(), 503);
        QVERIFY(waitForExit(backend.process(), 5000));
        QTRY_VERIFY(searching.isClosed());
        const QByteArray errors = backend.errors();
        QCOMPARE(backend.process().exitStatus(), QProcess::NormalExit);
        QVERIFY2(backend.process().exitCode() == 0, errors.constData());
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    void refusesNewClientsAtTheDescriptorLimit()
    {
        FakeExchange exchange;
        BackendProcess backend({"--port", "0", "--upstream", exchange.baseUrl().toString()}, 40);
        const QUrl url = backend.waitForUrl();
        QVERIFY2(url.isValid(), backend.errors().constData());
        RawClient regular(url);
        QCOMPARE(regular.getStatus("/api/quotes?ids=BTC"), 200);

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
        QCOMPARE(regular.getStatus("/api/quotes?ids=BTC"), 200);
        QTRY_COMPARE(backend.errors().count("out of file descriptors"), 1);
    }

    void servesUnderSystemdSocketActivate()
    {
        // systemd's own tool for trying socket activation: it listens, and starts the program with
        // the socket once the first client connects.
        const QString activate = QStandardPaths::findExecutable(QStringLiteral("systemd-socket-activate"));
        if (activate.isEmpty())
            QSKIP("systemd-socket-activate is not installed (Debian package systemd)");
        // The tool takes a port number, not a socket: a port found free may be taken by another
        // process (tests run in parallel) before the tool binds it. Then another one is tried.
        quint16 port = 0;
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        QByteArray output;
        for (int attempt = 0; attempt < 5; ++attempt) {
            port = LoopbackHttpServer::unusedPort();
            // --port would pick another port; the socket from systemd wins.
            tool.start(activate, {"-l", QStringLiteral("127.0.0.1:%1").arg(port), ZENTROW_BACKEND_PATH, "--port", "0",
                                  "--upstream", "http://127.0.0.1:9", "--exit-when-idle", "1"});
            output = waitForOutput(tool, "Listening on");
            if (!output.contains("Address already in use")) {
                break;
            }
            QVERIFY(waitForExit(tool, 10'000));
        }
        QVERIFY2(output.contains("Listening on"), output.constData());
        {
            RawClient client(port); // a blank search, which the backend answers without the exchange
            QCOMPARE(client.getStatus("/api/search?q="), 200);
        }
        output += waitForOutput(tool, "socket from systemd");
        QVERIFY2(output.contains(
                     QStringLiteral("listening on http://127.0.0.1:%1 (socket from systemd)").arg(port).toLatin1()),
                 output.constData());
        // Quiet for a second, the backend quits, and the tool with it.
        QVERIFY(waitForExit(tool, 10'000));
        QCOMPARE(tool.exitCode(), 0);
    }

    void theSocketOutlivesTheBackendAndQueuesTheNextClient()
    {
        // Serving on the socket and quitting when idle are systemd-socket-activate's case above.
        // Listening on 127.0.0.1 with no event loop of ours accepting, as systemd holds it: clients
        // wait in its queue.
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        listener.pauseAccepting();
        const int descriptor = int(listener.socketDescriptor());
        QProcess backend;
        startActivated(backend, descriptor, {"--exit-when-idle", "1", "--upstream", "http://127.0.0.1:9"});
        QVERIFY(backend.waitForFinished(10'000));
        QCOMPARE(backend.exitCode(), 0);

        // A client that comes later waits in the socket's queue for the next start instead of being
        // refused; a second start serves it.
        QTcpSocket early;
        early.connectToHost(QStringLiteral("127.0.0.1"), listener.serverPort());
        QVERIFY(early.waitForConnected(5000));
        early.write("GET /api/search?q= HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        QProcess next;
        startActivated(next, descriptor, {"--upstream", "http://127.0.0.1:9"});
        QVERIFY(early.waitForReadyRead(10'000));
        QVERIFY(early.readAll().startsWith("HTTP/1.1 200 OK"));
        stop(next);
    }

    void rejectsWhatIsNotOneListeningSocket()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        listener.pauseAccepting();
        // A connected (not listening) socket is just as wrong.
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, peer.serverPort());
        QVERIFY(client.waitForConnected(5000));
        const std::tuple<int, QByteArray, QByteArray> cases[] = {
            {int(listener.socketDescriptor()), "2", "LISTEN_FDS=2"},
            {file.handle(), "1", "not a socket"},
            {int(client.socketDescriptor()), "1", "not a listening stream socket"}};
        for (const auto& [descriptor, count, complaint] : cases) {
            QProcess backend;
            startActivated(backend, descriptor, {}, count);
            QVERIFY(backend.waitForFinished(10'000));
            QCOMPARE(backend.exitCode(), 1);
            QVERIFY2(backend.readAllStandardError().contains(complaint), complaint.constData());
        }
    }

    void ignoresVariablesMeantForAnotherProcess()
    {
        QProcess backend;
        startActivated(backend, -1, {"--port", "0", "--upstream", "http://127.0.0.1:9"}, "1", false);
        const QByteArray output = waitForOutput(backend, "listening on");
        QVERIFY2(output.contains("listening on http://127.0.0.1:"), output + backend.readAllStandardError());
        QVERIFY(!output.contains("systemd"));
        stop(backend);
    }

    void idleExitWaitsForOpenConnections()
    {
        HttpServer server([](HttpRequest) -> QCoro::Task<HttpResponse> { co_return HttpResponse::error(404, {}); },
                          HttpLimits{});
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        IdleExit idleExit(server, 300ms);
        QSignalSpy idle(&idleExit, &IdleExit::idle);

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.port());
        QTRY_COMPARE(server.connectionCount(), 1);
        // Several quiet periods pass while a client stays connected.
        QVERIFY(!idle.wait(1200));

        client.disconnectFromHost();
        QTRY_COMPARE(server.connectionCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(idle.count(), 1, 5000);
    }

    void exitsWithAClearMessage()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        const QString port = QString::number(holder.serverPort());
        // Arguments, and a pattern for what stderr says.
        const std::pair<QStringList, QString> cases[] = {
            {{"--port", "0", "--names", "/nonexistent/names.json"}, "/nonexistent/names\\.json"},
            {{"--port", port}, "^zentrow-backend: port " + port + " on 127\\.0\\.0\\.1 is already in use\\n$"}};
        for (const auto& [arguments, pattern] : cases) {
            QProcess backend;
            backend.start(QStringLiteral(ZENTROW_BACKEND_PATH), arguments);
            QVERIFY(backend.waitForFinished(10'000));
            QCOMPARE(backend.exitCode(), 1);
            const QString text = QString::fromUtf8(backend.readAllStandardError());
            QVERIFY2(QRegularExpression(pattern).match(text).hasMatch(), qPrintable(text));
        }
    }
};

QTEST_GUILESS_MAIN(TestBackendExecutable)
#include "tst_backendexecutable.moc"
