// The backend's HTTP side, byte for byte: framing, keep-alive, pipelining, limits, and what it
// says to requests it will not serve. Also its command line.
#include "Backend.h"
#include "CommandLine.h"
#include "HttpServer.h"
#include "RawHttpClient.h"
#include "testlib/LoopbackHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTest>

#include <QCoroTimer>

#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

QByteArray get(const QByteArray& target, const QByteArray& extra = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

// Echoes the request; "/slow" answers after 300 ms.
struct EchoServer {
    explicit EchoServer(const HttpLimits& limits = {})
        : server(std::make_unique<HttpServer>([this](HttpRequest request) { return answer(this, std::move(request)); },
                                              limits))
    {
        server->listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return server->port(); }

    static QCoro::Task<HttpResponse> answer(EchoServer* self, HttpRequest request)
    {
        ++self->started;
        // Only counters are touched after resuming; the test keeps this object alive until done.
        int* finished = &self->finished;
        if (request.path == "/slow") {
            co_await QCoro::sleepFor(300ms);
        }
        ++*finished;
        co_return HttpResponse::json(200, request.method + ' ' + request.target);
    }

    int started = 0;
    int finished = 0;
    std::unique_ptr<HttpServer> server;
};

} // namespace

class TestBackendHttp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // Hundreds of connections, both ends in this process.
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &limit), 0);
        limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 4096));
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }

    void keepsAliveAndAnswersPipelinedRequestsInOrder()
    {
        EchoServer echo;
        RawClient client(echo.port());
        // The slow one first: later answers wait for it.
        client.send(get("/slow?1") + get("/fast?2") + "HEAD /head?3 HTTP/1.1\r\nHost: x\r\n\r\n");
        QList<RawResponse> responses = client.read(3, {false, false, true});
        QCOMPARE(responses.size(), 3);
        QCOMPARE(responses.at(0).body, QByteArray("GET /slow?1"));
        QCOMPARE(responses.at(1).body, QByteArray("GET /fast?2"));
        QCOMPARE(responses.at(2).statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(responses.at(2).header("Content-Length"), QByteArray("12"));
        QVERIFY(!responses.at(0).header("Date").isEmpty());
        QVERIFY(responses.at(0).header("Connection").isEmpty());

        // Split into single bytes, with bare LF line ends, still one request.
        const QByteArray request = "GET /bytes HTTP/1.1\nHost: x\n\n";
        for (const char byte : request) {
            client.sendAlone(QByteArray(1, byte));
        }
        QCOMPARE(client.readOne().body, QByteArray("GET /bytes"));
        QVERIFY(client.isOpen());

        // A body is read (and dropped) before the next request starts, however it arrives.
        client.sendAlone("POST /body HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhel");
        client.send("lo" + get("/after"));
        responses = client.read(2);
        QCOMPARE(responses.size(), 2);
        QCOMPARE(responses.at(0).body, QByteArray("POST /body"));
        QCOMPARE(responses.at(1).body, QByteArray("GET /after"));

        // Connection: close, and HTTP/1.0 without keep-alive, end the connection after the answer.
        QCOMPARE(client.ask(get("/last", "Connection: close\r\n")).header("Connection"), QByteArray("close"));
        QVERIFY(client.waitForClose());
        RawClient old(echo.port());
        QCOMPARE(old.ask("GET /old HTTP/1.0\r\n\r\n").statusLine, QByteArray("HTTP/1.0 200 OK"));
        QVERIFY(old.waitForClose());
        RawClient kept(echo.port());
        QCOMPARE(kept.ask("GET /old HTTP/1.0\r\nConnection: keep-alive\r\n\r\n").header("Connection"),
                 QByteArray("keep-alive"));
        QCOMPARE(kept.ask("GET /again HTTP/1.0\r\nConnection: keep-alive\r\n\r\n").body, QByteArray("GET /again"));
    }

    void refusesMalformedRequests_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");

        QTest::newRow("garbage") << QByteArray("HELLO\r\n\r\n") << 400;
        QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\nHost: x\r\n\r\n") << 400;
        QTest::newRow("absolute target") << QByteArray("GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n") << 400;
        QTest::newRow("raw UTF-8 in target")
            << QByteArray("GET /api/search?q=\xc3\xa9 HTTP/1.1\r\nHost: x\r\n\r\n") << 400;
        QTest::newRow("no Host") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("two Hosts") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n") << 400;
        QTest::newRow("folded header") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n folded\r\n\r\n") << 400;
        QTest::newRow("space before colon") << QByteArray("GET / HTTP/1.1\r\nHost : x\r\n\r\n") << 400;
        QTest::newRow("bad length") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 1x\r\n\r\n") << 400;
        QTest::newRow("conflicting lengths")
            << QByteArray("GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab") << 400;
        QTest::newRow("chunked") << QByteArray(
                                        "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
                                 << 501;
        QTest::newRow("HTTP/2") << QByteArray("GET / HTTP/2.0\r\nHost: x\r\n\r\n") << 505;
        QTest::newRow("large body") << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 999999\r\n\r\n")
                                    << 413;
        QTest::newRow("large head") << get("/", "X-Filler: " + QByteArray(20'000, 'a') + "\r\n") << 431;
        QTest::newRow("endless head") << QByteArray("GET / HTTP/1.1\r\nX-Filler: " + QByteArray(40'000, 'a')) << 431;
    }

    void refusesMalformedRequests()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        EchoServer echo;
        RawClient client(echo.port());
        const RawResponse response = client.ask(bytes);
        QCOMPARE(response.status, status);
        QCOMPARE(QJsonDocument::fromJson(response.body).object().value("error").toObject().value("status").toInt(),
                 status);
        QCOMPARE(response.header("Connection"), QByteArray("close"));
        QVERIFY(client.waitForClose());
        QCOMPARE(echo.started, 0);

        // The server is none the worse for it.
        RawClient next(echo.port());
        QCOMPARE(next.ask(get("/fine")).status, 200);
    }

    void boundsConnectionsAndStalledClients()
    {
        EchoServer echo({.maxConnections = 2, .headTimeout = 200ms, .idleTimeout = 200ms});

        // Two clients at work fill the server: a third is refused, and told so.
        RawClient first(echo.port());
        first.send(get("/slow"));
        QTRY_COMPARE(echo.started, 1);
        RawClient second(echo.port());
        second.send(get("/slow"));
        QTRY_COMPARE(echo.started, 2);
        RawClient third(echo.port());
        const RawResponse refused = third.readOne();
        QCOMPARE(refused.status, 503);
        QCOMPARE(refused.header("Retry-After"), QByteArray("1"));
        QVERIFY(third.waitForClose());
        QCOMPARE(first.readOne().status, 200);
        QCOMPARE(second.readOne().status, 200);

        // Idle, they make room: a newcomer takes the place of the one that has been quiet longest.
        RawClient fourth(echo.port());
        QCOMPARE(fourth.ask(get("/welcome")).status, 200);
        QVERIFY(first.waitForClose());
        QVERIFY(second.isOpen());

        // Connections that stay quiet are let go.
        QVERIFY(second.waitForClose());
        QVERIFY(fourth.waitForClose());
        QTRY_COMPARE(echo.server->connectionCount(), 0);
    }

    void closesTricklingClientsOnTime()
    {
        EchoServer echo({.headTimeout = 300ms, .idleTimeout = 60s});

        // Blank lines, or a head that grows a byte at a time, do not put off the head timeout.
        RawClient blankLines(echo.port());
        RawClient partialHead(echo.port());
        partialHead.send("GET /x HTTP/1.1\r\nHost: x\r\nX-Slow: ");
        QTimer trickle;
        QObject::connect(&trickle, &QTimer::timeout, [&] {
            blankLines.send("\r\n");
            partialHead.send("a");
        });
        trickle.start(100ms);
        QCOMPARE(blankLines.readOne().status, 408);
        QCOMPARE(partialHead.readOne().status, 408);
        QVERIFY(blankLines.waitForClose());
        QVERIFY(partialHead.waitForClose());
        trickle.stop();

        // Blank lines before a request that does arrive in time are still fine.
        RawClient polite(echo.port());
        QCOMPARE(polite.ask("\r\n\r\n" + get("/after-blank-lines")).body, QByteArray("GET /after-blank-lines"));
        QCOMPARE(echo.started, 1);
    }

    void keepsPlacesForOtherClients()
    {
        EchoServer echo; // the shipped limits: 512 places, 128 per client address
        // One process opens 600 connections and trickles blank lines on all of them.
        std::vector<std::unique_ptr<RawClient>> hogs;
        for (int i = 0; i < 600; ++i) {
            hogs.push_back(std::make_unique<RawClient>(echo.port()));
            hogs.back()->send("\r\n");
        }
        QTRY_COMPARE(echo.server->connectionCount(), 128);

        // Another address still finds room...
        RawClient neighbour(echo.port(), QHostAddress("127.0.0.2"));
        QCOMPARE(neighbour.ask(get("/neighbour")).body, QByteArray("GET /neighbour"));
        // ...and so does a client from the hogs' own address, in place of the quietest of them.
        RawClient local(echo.port());
        QCOMPARE(local.ask(get("/local")).body, QByteArray("GET /local"));
        QCOMPARE(echo.server->connectionCount(), 128 + 1);
    }

    void survivesClientsAndServerGoingAway()
    {
        auto echo = std::make_unique<EchoServer>();
        {
            RawClient leaving(echo->port());
            leaving.send(get("/slow"));
            QTRY_COMPARE(echo->started, 1);
        }
        // The answer comes back to a connection that is gone.
        QTRY_COMPARE(echo->finished, 1);

        // And to a server that is gone.
        RawClient client(echo->port());
        client.send(get("/slow"));
        QTRY_COMPARE(echo->started, 2);
        echo->server.reset();
        QVERIFY(client.waitForClose());
        QTRY_COMPARE(echo->finished, 2);
    }

    void checksApiRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");

        const QByteArray ids200 = QByteArray("A,").repeated(199) + "A";
        const QByteArray text100 = QByteArray("%C3%A9").repeated(100);

        // Accepted, then the exchange (unreachable here) is asked.
        QTest::newRow("100 characters") << get("/api/search?q=" + text100) << 503;
        QTest::newRow("200 ids") << get("/api/quotes?ids=" + ids200) << 503;
        QTest::newRow("HEAD") << QByteArray("HEAD /api/quotes?ids=BTC HTTP/1.1\r\nHost: x\r\n\r\n") << 503;

        QTest::newRow("101 characters") << get("/api/search?q=" + text100 + "x") << 400;
        QTest::newRow("201 ids") << get("/api/quotes?ids=" + ids200 + ",B") << 400;
        QTest::newRow("no ids") << get("/api/quotes?q=BTC") << 400;
        QTest::newRow("two q") << get("/api/search?q=a&q=b") << 400;
        QTest::newRow("bad escape") << get("/api/search?q=%ZZ") << 400;
        QTest::newRow("cut escape") << get("/api/quotes?ids=BTC%2") << 400;
        QTest::newRow("cut UTF-8") << get("/api/search?q=%E4%B8") << 400;
        QTest::newRow("overlong UTF-8") << get("/api/search?q=%C0%AF") << 400;
        QTest::newRow("surrogate") << get("/api/search?q=%ED%A0%80") << 400;
        QTest::newRow("bad name") << get("/api/search?q=btc&%FF=1") << 400;

        QTest::newRow("other path") << get("/api/prices?ids=BTC") << 404;
        QTest::newRow("trailing slash") << get("/api/search/?q=btc") << 404;
        QTest::newRow("letter case") << get("/API/search?q=btc") << 404;
        QTest::newRow("POST") << QByteArray(
                                     "POST /api/quotes?ids=BTC HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}")
                              << 405;
    }

    void checksApiRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);

        BackendSettings settings;
        settings.port = 0;
        settings.upstream = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(LoopbackHttpServer::unusedPort()));
        Backend backend(settings);
        QString problem;
        QVERIFY2(backend.start(&problem), qPrintable(problem));

        RawClient client(backend.port());
        const bool isHead = request.startsWith("HEAD");
        client.send(request);
        const RawResponse response = client.readOne(isHead);
        QCOMPARE(response.status, status);
        QVERIFY(response.header("Content-Type").startsWith("application/json"));
        QCOMPARE(response.header("Cache-Control"), QByteArray("no-store"));
        if (!isHead) {
            const QJsonObject error = QJsonDocument::fromJson(response.body).object().value("error").toObject();
            QCOMPARE(error.value("status").toInt(), status);
            QVERIFY(!error.value("message").toString().isEmpty());
        }
        if (status == 405) {
            QCOMPARE(response.header("Allow"), QByteArray("GET, HEAD"));
        }
        // A refused request leaves the connection usable; a blank query needs no exchange.
        QCOMPARE(client.ask(get("/api/search?q=+%20")).status, 200);
    }

    void readsTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode"); // -1: runs

        QTest::newRow("defaults") << QStringList{} << -1;
        QTest::newRow("all flags")
            << QString("--address ::1 --port 0 --upstream http://127.0.0.1:9/v3 --catalogue-ttl 7200 "
                       "--price-ttl 30 --trend-ttl 600 --stale-for 0 --retry-delay 2 "
                       "--upstream-timeout 3 --max-connections 8 --max-connections-per-address 2")
                   .split(' ')
            << -1;
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("unknown flag") << QStringList{"--verbose"} << 2;
        QTest::newRow("stray argument") << QStringList{"8737"} << 2;
        QTest::newRow("host name") << QStringList{"--address", "localhost"} << 2;
        QTest::newRow("port too high") << QStringList{"--port", "65536"} << 2;
        QTest::newRow("ftp upstream") << QStringList{"--upstream", "ftp://example.org"} << 2;
        QTest::newRow("relative upstream") << QStringList{"--upstream", "/api"} << 2;
        QTest::newRow("upstream with query") << QStringList{"--upstream", "https://example.org/?a=1"} << 2;
        QTest::newRow("zero lifetime") << QStringList{"--price-ttl", "0"} << 2;
        QTest::newRow("negative stale") << QStringList{"--stale-for", "-1"} << 2;
        QTest::newRow("fractional") << QStringList{"--trend-ttl", "1.5"} << 2;
        QTest::newRow("bad idle time") << QStringList{"--exit-when-idle", "soon"} << 2;
        QTest::newRow("no connections") << QStringList{"--max-connections", "0"} << 2;
        QTest::newRow("more per address than in all")
            << QStringList{"--max-connections", "8", "--max-connections-per-address", "9"} << 2;
    }

    void readsTheCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const auto parsed = parseCommandLine(QStringList{"zentrow-backend"} + arguments);
        if (exitCode >= 0) {
            const auto* exit = std::get_if<CommandLineExit>(&parsed);
            QVERIFY(exit);
            QCOMPARE(exit->exitCode, exitCode);
            QVERIFY(exit->text.contains(exitCode == 0 ? "--upstream" : "--help"));
            return;
        }
        const auto* settings = std::get_if<BackendSettings>(&parsed);
        QVERIFY(settings);
        // Every flag reaches its setting.
        if (!arguments.isEmpty()) {
            const BackendSettings& s = *settings;
            QVERIFY(std::tuple(s.address, s.port, s.upstream, s.maxConnections, s.maxConnectionsPerAddress) ==
                    std::tuple(QHostAddress(QHostAddress::LocalHostIPv6), 0, QUrl("http://127.0.0.1:9/v3"), 8, 2));
            QVERIFY(std::tuple(s.catalogueTtl, s.priceTtl, s.trendTtl, s.staleFor, s.retryDelay, s.upstreamTimeout) ==
                    std::tuple(7200s, 30s, 600s, 0s, 2s, 3000ms));
        }
    }
};

QTEST_GUILESS_MAIN(TestBackendHttp)
#include "tst_backendhttp.moc"
