#include "HttpServer.h"

#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kListenBacklog = 511;
// A quiet spell this long ends a shortage of descriptors as far as the log is concerned.
constexpr std::chrono::seconds kDescriptorShortageQuiet{60};

QByteArray busyAnswer()
{
    const HttpResponse response = HttpResponse::error(503, QStringLiteral("too many connections"));
    // Said before closing so that a client can tell "busy" from "down".
    return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: " + response.contentType +
           "\r\nContent-Length: " + QByteArray::number(response.body.size()) +
           "\r\nCache-Control: no-store\r\nRetry-After: 1\r\nConnection: close\r\n\r\n" + response.body;
}

int openSpareDescriptor()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// Eviction order: connections closing anyway, then ones that never completed a request
// (tricklers, or a client that connected and said nothing), then idle keep-alive ones; the
// longest quiet first within each.
bool evictsBefore(const HttpConnection* a, const HttpConnection* b)
{
    const auto rank = [](const HttpConnection* connection) {
        return connection->isClosing() ? 0 : connection->hasBeenAnswered() ? 2 : 1;
    };
    if (rank(a) != rank(b)) {
        return rank(a) < rank(b);
    }
    return a->quietSince() < b->quietSince();
}

} // namespace

HttpServer::HttpServer(HttpHandler handler, const HttpLimits& limits, QObject* parent)
    : QObject(parent)
    , m_handler(std::make_shared<const HttpHandler>(std::move(handler)))
    , m_limits(limits)
    , m_spareDescriptor(openSpareDescriptor())
{
    connect(&m_timeouts, &QTimer::timeout, this, &HttpServer::checkTimeouts);
    m_server.setListenBacklogSize(kListenBacklog);
    m_timeouts.setInterval(std::chrono::seconds(1));
    m_resumeAccepting.setSingleShot(true);
    m_resumeAccepting.setInterval(std::chrono::milliseconds(100));
    connect(&m_resumeAccepting, &QTimer::timeout, this, [this] {
        if (m_acceptNotifier) {
            m_acceptNotifier->setEnabled(true);
            acceptConnections();
        }
    });
}

HttpServer::~HttpServer()
{
    m_acceptNotifier.reset();
    m_server.close();
    // Connections are children; they must not report their closing into a half-destroyed server.
    for (HttpConnection* connection : std::as_const(m_connections)) {
        connection->disconnect(this);
    }
    if (m_spareDescriptor >= 0) {
        ::close(m_spareDescriptor);
    }
}

bool HttpServer::listen(const QHostAddress& address, quint16 port)
{
    if (!m_server.listen(address, port)) {
        return false;
    }
    startAccepting();
    return true;
}

void HttpServer::startAccepting()
{
    m_server.pauseAccepting();
    m_acceptNotifier = std::make_unique<QSocketNotifier>(m_server.socketDescriptor(), QSocketNotifier::Read);
    connect(m_acceptNotifier.get(), &QSocketNotifier::activated, this, &HttpServer::acceptConnections);
    m_timeouts.start();
}

void HttpServer::stop()
{
    m_acceptNotifier.reset();
    m_server.close();
    m_resumeAccepting.stop();
    // Copied: an idle connection reports its closing right away.
    const QList<HttpConnection*> connections = m_connections.values();
    for (HttpConnection* connection : connections) {
        if (m_connections.contains(connection)) {
            connection->drain();
        }
    }
}

void HttpServer::abortAll()
{
    const QList<HttpConnection*> connections = m_connections.values();
    for (HttpConnection* connection : connections) {
        if (m_connections.contains(connection)) {
            connection->evict();
        }
    }
}

bool HttpServer::adoptListeningSocket(qintptr descriptor)
{
    if (!m_server.setSocketDescriptor(descriptor)) {
        return false;
    }
    startAccepting();
    return true;
}

void HttpServer::acceptConnections()
{
    const int listener = static_cast<int>(m_server.socketDescriptor());
    while (m_acceptNotifier) {
        const int descriptor = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0) {
            auto* socket = new QTcpSocket(this);
            if (socket->setSocketDescriptor(descriptor)) {
                admit(socket);
            } else {
                ::close(descriptor);
                delete socket;
            }
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED) {
            continue;
        }
        if (errno == EMFILE || errno == ENFILE) {
            if (refuseAtDescriptorLimit()) {
                return;
            }
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return;
        } else {
            qWarning("zentrow-backend: accepting a connection failed: %s", std::strerror(errno));
        }
        // Nothing to be done right now: look again shortly rather than spin.
        m_acceptNotifier->setEnabled(false);
        m_resumeAccepting.start();
        return;
    }
}

void HttpServer::admit(QTcpSocket* socket)
{
    const QHostAddress peer = socket->peerAddress();
    const QList<HttpConnection*> fromPeer = m_byAddress.value(peer);
    if (fromPeer.size() >= m_limits.maxConnectionsPerAddress && !evictOne(fromPeer)) {
        refuse(socket);
        return;
    }
    if (m_connections.size() >= m_limits.maxConnections && !evictOne(m_connections.values())) {
        refuse(socket);
        return;
    }
    auto* connection = new HttpConnection(socket, m_handler, m_limits, this);
    m_connections.insert(connection);
    Q_EMIT connectionAccepted();
    m_byAddress[peer].append(connection);
    connect(connection, &HttpConnection::closed, this, [this](HttpConnection* closed) {
        m_connections.remove(closed);
        const auto same = m_byAddress.find(closed->peerAddress());
        if (same != m_byAddress.end()) {
            same->removeOne(closed);
            if (same->isEmpty()) {
                m_byAddress.erase(same);
            }
        }
        closed->deleteLater();
    });
}

bool HttpServer::evictOne(const QList<HttpConnection*>& candidates)
{
    HttpConnection* victim = nullptr;
    for (HttpConnection* connection : candidates) {
        if (connection->isEvictable() && (!victim || evictsBefore(connection, victim))) {
            victim = connection;
        }
    }
    if (!victim) {
        return false;
    }
    victim->evict(); // reports its closing at once, which frees its place
    return true;
}

void HttpServer::refuse(QTcpSocket* socket)
{
    static const QByteArray answer = busyAnswer();
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(answer);
    socket->disconnectFromHost();
}

bool HttpServer::refuseAtDescriptorLimit()
{
    const SteadyTime now = std::chrono::steady_clock::now();
    if (!m_lastDescriptorRefusal || now - *m_lastDescriptorRefusal > kDescriptorShortageQuiet) {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        qWarning("zentrow-backend: out of file descriptors (limit %llu) with %d clients connected; refusing new "
                 "clients until some leave",
                 static_cast<unsigned long long>(limit.rlim_cur), connectionCount());
    }
    m_lastDescriptorRefusal = now;

    // The spare descriptor makes room for one accept at a time: each waiting client is told
    // "busy" and closed instead of waiting in the backlog for a place that may never come.
    static const QByteArray answer = busyAnswer();
    const int listener = static_cast<int>(m_server.socketDescriptor());
    bool drained = false;
    while (m_spareDescriptor >= 0) {
        ::close(m_spareDescriptor);
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        const int acceptError = errno;
        if (client >= 0) {
            // Reading what the client sent first avoids a reset that could swallow the answer.
            char discard[4096];
            (void)::recv(client, discard, sizeof discard, 0);
            (void)::send(client, answer.constData(), static_cast<size_t>(answer.size()), MSG_NOSIGNAL);
            ::shutdown(client, SHUT_WR);
            ::close(client);
        }
        m_spareDescriptor = openSpareDescriptor();
        if (client < 0) {
            drained = acceptError == EAGAIN || acceptError == EWOULDBLOCK;
            break;
        }
    }
    return drained;
}

void HttpServer::checkTimeouts()
{
    const SteadyTime now = std::chrono::steady_clock::now();
    // Copied: a connection that times out may report its closing right away.
    const QList<HttpConnection*> connections = m_connections.values();
    for (HttpConnection* connection : connections) {
        if (m_connections.contains(connection)) {
            connection->checkTimeouts(now);
        }
    }
}
