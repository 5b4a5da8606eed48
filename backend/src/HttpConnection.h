#pragma once

#include "Clock.h"
#include "HttpLimits.h"
#include "HttpRequest.h"
#include "HttpResponse.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

using HttpHandler = std::function<QCoro::Task<HttpResponse>(HttpRequest)>;

// One client connection: HTTP/1.1 with keep-alive and pipelining (answers in request order,
// one request handled at a time), HTTP/1.0 closing after each answer unless asked to keep alive.
// Emits closed() once; the owner deletes it then.
class HttpConnection : public QObject {
    Q_OBJECT
public:
    // Takes ownership of the connected socket.
    HttpConnection(QTcpSocket* socket, std::shared_ptr<const HttpHandler> handler, const HttpLimits& limits,
                   QObject* parent = nullptr);
    ~HttpConnection() override;

    // Called about once a second by the server with the monotonic time.
    void checkTimeouts(SteadyTime now);

    const QHostAddress& peerAddress() const { return m_peer; }
    // Neither a request in progress nor an answer on its way out (or closing anyway): closing it
    // costs the client at most a reconnect. Such connections give way when the server is full.
    bool isEvictable() const;
    bool isClosing() const { return m_closing; }
    // Since when it has been doing nothing useful (opened, or last answered).
    SteadyTime quietSince() const { return m_lastActivity; }
    bool hasBeenAnswered() const { return m_answered > 0; }
    // Closes at once, sending nothing.
    void evict();
    // Takes no further request: closes now if idle, else right after the answer in progress.
    void drain();

Q_SIGNALS:
    void closed(HttpConnection* connection);

private:
    struct Exchange {
        bool isHead = false;
        bool keepAlive = true;
        int minorVersion = 1;
        QByteArray ifNoneMatch;
    };
    enum class Parse { Incomplete, Taken, Refused };

    void readSocket();
    void processRequests();
    Parse takeRequest(HttpRequest& request, Exchange& exchange);
    void refuse(int status, const QString& message);
    void respond(const Exchange& exchange, HttpResponse response);
    void close();
    void finishClosing();

    static QCoro::Task<> serve(QPointer<HttpConnection> self, std::shared_ptr<const HttpHandler> handler,
                               HttpRequest request, Exchange exchange);

    QTcpSocket* m_socket;
    std::shared_ptr<const HttpHandler> m_handler;
    HttpLimits m_limits;
    QByteArray m_buffer;
    bool m_busy = false;       // a handler is working on a request
    bool m_processing = false; // inside processRequests()
    bool m_closing = false;
    bool m_closed = false;
    bool m_draining = false;
    QHostAddress m_peer;
    qint64 m_answered = 0;
    SteadyTime m_lastActivity; // opened, or the last answer written; bytes read do not count
    // First byte (blank lines included) of a request head not yet complete. Only a complete
    // request clears it, so no trickle of bytes can put off the head timeout.
    std::optional<SteadyTime> m_requestStarted;
    std::optional<SteadyTime> m_closeStarted;
};
