#pragma once

#include "HttpConnection.h"
#include "HttpLimits.h"

#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QTcpServer>
#include <QTimer>

#include <memory>

// A small HTTP/1.1 server on QTcpServer: keep-alive, pipelining, bounded heads, bodies and
// connection count, and timeouts for clients that stall. Single-threaded; the handler runs on
// the event loop and may suspend.
class HttpServer : public QObject {
    Q_OBJECT
public:
    HttpServer(HttpHandler handler, const HttpLimits& limits, QObject* parent = nullptr);
    ~HttpServer() override;

    bool listen(const QHostAddress& address, quint16 port);
    // Serves on a socket that is already listening (one handed over by systemd).
    bool adoptListeningSocket(qintptr descriptor);
    QString errorString() const { return m_server.errorString(); }
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    QAbstractSocket::SocketError serverError() const { return m_server.serverError(); }

Q_SIGNALS:
    void connectionAccepted();

private:
    void acceptConnections();
    void refuse(QTcpSocket* socket);
    void checkTimeouts();

    QTcpServer m_server;
    std::shared_ptr<const HttpHandler> m_handler;
    HttpLimits m_limits;
    QSet<HttpConnection*> m_connections;
    QTimer m_timeouts;
};
