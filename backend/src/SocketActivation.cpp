#include "SocketActivation.h"

#include "HttpServer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace SocketActivation {

namespace {

bool isWholeNumber(const QByteArray& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

Outcome takeListeningSocket()
{
    const QByteArray pidText = qgetenv("LISTEN_PID");
    const QByteArray countText = qgetenv("LISTEN_FDS");
    qunsetenv("LISTEN_PID");
    qunsetenv("LISTEN_FDS");
    qunsetenv("LISTEN_FDNAMES");
    if (pidText.isEmpty() && countText.isEmpty()) {
        return NotActivated{};
    }
    // Variables meant for another process (a parent that was activated and then started us)
    // are not ours to act on.
    if (!isWholeNumber(pidText) || pidText.toLongLong() != static_cast<qlonglong>(::getpid())) {
        return NotActivated{};
    }
    if (!isWholeNumber(countText) || countText.toInt() != 1) {
        return Problem{QStringLiteral("expected one socket from systemd (LISTEN_FDS=1), got LISTEN_FDS=%1")
                           .arg(QString::fromLatin1(countText))};
    }
    const int descriptor = kFirstDescriptor;
    int type = 0;
    int listening = 0;
    socklen_t length = sizeof(type);
    if (::getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &type, &length) != 0) {
        return Problem{QStringLiteral("descriptor %1 from systemd is not a socket: %2")
                           .arg(descriptor)
                           .arg(QString::fromLocal8Bit(std::strerror(errno)))};
    }
    length = sizeof(listening);
    if (type != SOCK_STREAM || ::getsockopt(descriptor, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 ||
        listening == 0) {
        return Problem{QStringLiteral("descriptor %1 from systemd is not a listening stream socket "
                                      "(the socket unit needs ListenStream= and Accept=no)")
                           .arg(descriptor)};
    }
    // Processes we start must not inherit the listener.
    ::fcntl(descriptor, F_SETFD, ::fcntl(descriptor, F_GETFD) | FD_CLOEXEC);
    return Inherited{descriptor};
}

} // namespace SocketActivation

IdleExit::IdleExit(HttpServer& server, std::chrono::milliseconds quietPeriod, QObject* parent)
    : QObject(parent)
    , m_server(server)
    , m_quietPeriod(quietPeriod)
{
    m_sinceBusy.start();
    connect(&server, &HttpServer::connectionAccepted, this, [this] { m_sinceBusy.restart(); });
    connect(&m_poll, &QTimer::timeout, this, &IdleExit::check);
    m_poll.start(std::clamp(quietPeriod, std::chrono::milliseconds(1), std::chrono::milliseconds(1000)));
}

void IdleExit::check()
{
    if (m_server.connectionCount() > 0) {
        m_sinceBusy.restart();
        return;
    }
    if (std::chrono::milliseconds(m_sinceBusy.elapsed()) >= m_quietPeriod) {
        m_poll.stop();
        Q_EMIT idle();
    }
}
