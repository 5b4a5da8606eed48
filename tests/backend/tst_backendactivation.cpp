// zentrow-backend started the way systemd starts it for zentrow-backend.socket: the listening
// socket at descriptor 3 with LISTEN_FDS and LISTEN_PID, and quitting once nobody uses it.
#include "BackendProcess.h"
#include "HttpServer.h"
#include "SocketActivation.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A listening socket on 127.0.0.1 that no event loop of ours accepts on, as systemd holds it.
class RawListener {
public:
    RawListener()
    {
        m_descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_descriptor < 0 || ::bind(m_descriptor, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_descriptor, 16) != 0 ||
            ::getsockname(m_descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        m_port = ntohs(address.sin_port);
    }
    ~RawListener()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    int descriptor() const { return m_descriptor; }
    quint16 port() const { return m_port; }

private:
    int m_descriptor = -1;
    quint16 m_port = 0;
};

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

// The first line of a blank search, which the backend answers without the exchange.
QByteArray statusLine(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET /api/search?q= HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (!answer.contains("\r\n") && socket.waitForReadyRead(5000))
        answer.append(socket.readAll());
    return answer.left(answer.indexOf("\r\n"));
}

} // namespace

class TestBackendActivation : public QObject {
    Q_OBJECT
private Q_SLOTS:
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
            {
                QTcpServer probe;
                QVERIFY(probe.listen(QHostAddress::LocalHost));
                port = probe.serverPort();
            }
            tool.start(activate, {"-l", QStringLiteral("127.0.0.1:%1").arg(port), ZENTROW_BACKEND_PATH, "--upstream",
                                  "http://127.0.0.1:9", "--exit-when-idle", "1"});
            output = waitForOutput(tool, "Listening on");
            if (!output.contains("Address already in use")) {
                break;
            }
            QVERIFY(waitForExit(tool, 10'000));
        }
        QVERIFY2(output.contains("Listening on"), output.constData());
        QCOMPARE(statusLine(port), QByteArray("HTTP/1.1 200 OK"));
        output += waitForOutput(tool, "socket from systemd");
        QVERIFY2(output.contains(
                     QStringLiteral("listening on http://127.0.0.1:%1 (socket from systemd)").arg(port).toLatin1()),
                 output.constData());
        // Quiet for a second, the backend quits, and the tool with it.
        QVERIFY(waitForExit(tool, 10'000));
        QCOMPARE(tool.exitCode(), 0);
    }

    void servesOnTheSocketFromSystemdUntilIdle()
    {
        RawListener listener;
        QVERIFY(listener.port() != 0);
        QProcess backend;
        // --port would pick another port; the socket from systemd wins.
        startActivated(backend, listener.descriptor(),
                       {"--port", "0", "--exit-when-idle", "1", "--upstream", "http://127.0.0.1:9"});
        const QByteArray output = waitForOutput(backend, "listening on");
        QVERIFY2(output.contains(QStringLiteral("listening on http://127.0.0.1:%1 (socket from systemd)")
                                     .arg(listener.port())
                                     .toLatin1()),
                 output + backend.readAllStandardError());
        QCOMPARE(statusLine(listener.port()), QByteArray("HTTP/1.1 200 OK"));
        QVERIFY(backend.waitForFinished(10'000));
        QCOMPARE(backend.exitStatus(), QProcess::NormalExit);
        QCOMPARE(backend.exitCode(), 0);

        // The socket outlives the backend, so a client that comes later waits in its queue for the
        // next start instead of being refused; a second start serves it.
        QTcpSocket early;
        early.connectToHost(QStringLiteral("127.0.0.1"), listener.port());
        QVERIFY(early.waitForConnected(5000));
        early.write("GET /api/search?q= HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        QProcess next;
        startActivated(next, listener.descriptor(), {"--upstream", "http://127.0.0.1:9"});
        QVERIFY(early.waitForReadyRead(10'000));
        QVERIFY(early.readAll().startsWith("HTTP/1.1 200 OK"));
        stop(next);
    }

    void rejectsWhatIsNotOneListeningSocket()
    {
        RawListener listener;
        QProcess two;
        startActivated(two, listener.descriptor(), {}, "2");
        QVERIFY(two.waitForFinished(10'000));
        QCOMPARE(two.exitCode(), 1);
        QVERIFY(two.readAllStandardError().contains("LISTEN_FDS=2"));

        QTemporaryFile file;
        QVERIFY(file.open());
        QProcess notSocket;
        startActivated(notSocket, file.handle(), {});
        QVERIFY(notSocket.waitForFinished(10'000));
        QCOMPARE(notSocket.exitCode(), 1);
        QVERIFY(notSocket.readAllStandardError().contains("not a socket"));

        // A connected (not listening) socket is just as wrong.
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, peer.serverPort());
        QVERIFY(client.waitForConnected(5000));
        QProcess connected;
        startActivated(connected, int(client.socketDescriptor()), {});
        QVERIFY(connected.waitForFinished(10'000));
        QCOMPARE(connected.exitCode(), 1);
        QVERIFY(connected.readAllStandardError().contains("not a listening stream socket"));
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

    void exitsWithAClearMessage_data()
    {
        QTest::addColumn<QStringList>("arguments"); // %1: a port that is taken
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("pattern"); // on stdout for exit code 0, else on stderr

        QTest::newRow("version") << QStringList{"--version"} << 0 << "^zentrow-backend \\d+\\.\\d+\\.\\d+\\n$";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--exit-when-idle <s>";
        QTest::newRow("bad idle time") << QStringList{"--exit-when-idle", "soon"} << 2 << "--exit-when-idle";
        QTest::newRow("missing names file")
            << QStringList{"--port", "0", "--names", "/nonexistent/names.json"} << 1 << "/nonexistent/names\\.json";
        QTest::newRow("taken port, in one line")
            << QStringList{"--port", "%1"} << 1 << "^zentrow-backend: port %1 on 127\\.0\\.0\\.1 is already in use\\n$";
    }

    void exitsWithAClearMessage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, pattern);
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        const QString port = QString::number(holder.serverPort());
        arguments.replaceInStrings(QStringLiteral("%1"), port);
        QProcess backend;
        backend.start(QStringLiteral(ZENTROW_BACKEND_PATH), arguments);
        QVERIFY(backend.waitForFinished(10'000));
        QCOMPARE(backend.exitCode(), exitCode);
        const QString text =
            QString::fromUtf8(exitCode == 0 ? backend.readAllStandardOutput() : backend.readAllStandardError());
        QVERIFY2(QRegularExpression(pattern.replace(QStringLiteral("%1"), port)).match(text).hasMatch(),
                 qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestBackendActivation)
#include "tst_backendactivation.moc"
