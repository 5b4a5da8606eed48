#pragma once

#include "HttpConnection.h"
#include "HttpLimits.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <memory>

// A small HTTP/1.1 server on QTcpServer: keep-alive, pipelining, bounded heads, bodies and
// connection count, and timeouts for clients that stall. Single-threaded; the handler runs on
// the event loop and may suspend.
//
// When it is full (in all, or for one client address) a new connection takes the place of the
// connection that has been doing nothing for longest, so that idle or trickling clients cannot
// lock out one that has a request to make; only when every connection is at work is the
// newcomer refused with 503. At the process's file descriptor limit new clients are refused at
// once while the existing ones are served on.
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

    // Stops listening and lets every connection finish the answer in progress, then close.
    void stop();
    // Drops every connection at once.
    void abortAll();

Q_SIGNALS:
    void connectionAccepted();

private:
    // Accepting is done here rather than by QTcpServer, which (Qt 6.4) can take running out of
    // descriptors for a passing condition and spin on it. Call once the server listens.
    void startAccepting();
    void acceptConnections();
    void admit(QTcpSocket* socket);
    // Makes room for one more connection among `candidates`; false when all are at work.
    bool evictOne(const QList<HttpConnection*>& candidates);
    void refuse(QTcpSocket* socket);
    // Accept-and-refuse everything waiting; false when even the spare descriptor is gone.
    bool refuseAtDescriptorLimit();
    void checkTimeouts();

    QTcpServer m_server;
    std::shared_ptr<const HttpHandler> m_handler;
    HttpLimits m_limits;
    QSet<HttpConnection*> m_connections;
    QHash<QHostAddress, QList<HttpConnection*>> m_byAddress;
    QTimer m_timeouts;
    std::unique_ptr<QSocketNotifier> m_acceptNotifier;
    QTimer m_resumeAccepting;
    int m_spareDescriptor = -1; // given up to accept-and-refuse at the descriptor limit
    std::optional<SteadyTime> m_lastDescriptorRefusal;
};
