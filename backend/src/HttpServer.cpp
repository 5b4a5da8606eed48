#include "HttpServer.h"

#include <QTcpSocket>

namespace {

constexpr int kListenBacklog = 511;

} // namespace

HttpServer::HttpServer(HttpHandler handler, const HttpLimits& limits, QObject* parent)
    : QObject(parent)
    , m_handler(std::make_shared<const HttpHandler>(std::move(handler)))
    , m_limits(limits)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::acceptConnections);
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::connectionAccepted);
    connect(&m_timeouts, &QTimer::timeout, this, &HttpServer::checkTimeouts);
    m_server.setListenBacklogSize(kListenBacklog);
    m_timeouts.setInterval(std::chrono::seconds(1));
}

HttpServer::~HttpServer()
{
    m_server.close();
    // Connections are children; they must not report their closing into a half-destroyed server.
    for (HttpConnection* connection : std::as_const(m_connections)) {
        connection->disconnect(this);
    }
}

bool HttpServer::listen(const QHostAddress& address, quint16 port)
{
    if (!m_server.listen(address, port)) {
        return false;
    }
    m_timeouts.start();
    return true;
}

bool HttpServer::adoptListeningSocket(qintptr descriptor)
{
    if (!m_server.setSocketDescriptor(descriptor)) {
        return false;
    }
    m_timeouts.start();
    return true;
}

void HttpServer::acceptConnections()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_connections.size() >= m_limits.maxConnections) {
            refuse(socket);
            continue;
        }
        auto* connection = new HttpConnection(socket, m_handler, m_limits, this);
        m_connections.insert(connection);
        connect(connection, &HttpConnection::closed, this, [this](HttpConnection* closed) {
            m_connections.remove(closed);
            closed->deleteLater();
        });
    }
}

void HttpServer::refuse(QTcpSocket* socket)
{
    // Said before closing so that a client can tell "busy" from "down".
    HttpResponse response = HttpResponse::error(503, QStringLiteral("too many connections"));
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->write("HTTP/1.1 503 Service Unavailable\r\nContent-Type: " + response.contentType +
                  "\r\nContent-Length: " + QByteArray::number(response.body.size()) +
                  "\r\nCache-Control: no-store\r\nRetry-After: 1\r\nConnection: close\r\n\r\n" + response.body);
    socket->disconnectFromHost();
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
