#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <utility>

class QTcpSocket;

// A tiny HTTP/1.1 responder on 127.0.0.1 (a random free port) for tests of HTTP clients.
//
// Every connection carries exactly one request: each answer says "Connection: close" and the
// server closes the socket after sending it (keep-alive is never offered, so a client opens a
// new connection per request). Requests are read across partial packets, and any number of
// connections may be open at once. Main thread only; the event loop must run (QTRY_*).
class LoopbackHttpServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;                                // "GET"
        QByteArray target;                                // "/api/search?q=eth", exactly as sent
        QByteArray requestLine;                           // "GET /api/search?q=eth HTTP/1.1"
        QList<std::pair<QByteArray, QByteArray>> headers; // in order, names as sent
        QByteArray body;

        // The first header of that name (compared case-insensitively), or a null array.
        QByteArray header(const QByteArray& name) const;
    };

    struct Reply {
        enum class Mode {
            Answer,             // status line, headers and body
            NeverAnswer,        // keep the connection open and say nothing
            CloseWithoutAnswer, // close the connection without a byte
            TruncatedBody,      // declare declaredLength bytes, send body, then close
            Raw,                // send body as it is (no status line, no headers), then close
        };

        int status = 200;
        QList<std::pair<QByteArray, QByteArray>> headers; // added to Content-Length and Connection
        QByteArray body;
        std::chrono::milliseconds delay{0}; // before anything is sent (or the close)
        Mode mode = Mode::Answer;
        qint64 declaredLength = -1;                // TruncatedBody: the Content-Length to announce
        bool sendsContentLength = true;            // false: the body ends when the connection closes
        std::chrono::milliseconds byteInterval{0}; // > 0: the head at once, then one body byte per interval

        void addHeader(const QByteArray& name, const QByteArray& value) { headers.append({name, value}); }

        static Reply json(QByteArray body, int status = 200);
        static Reply never();
        static Reply closeWithoutAnswer();
        static Reply truncated(QByteArray body, qint64 declaredLength);
        static Reply raw(QByteArray bytes);
    };

    using Handler = std::function<Reply(const Request&)>;

    // Starts listening at once; isListening() says whether that worked.
    explicit LoopbackHttpServer(QObject* parent = nullptr);
    ~LoopbackHttpServer() override;

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    // "http://127.0.0.1:<port>", no path.
    QUrl baseUrl() const;

    // Answers every later request; the default answers 404 with an empty body.
    void setHandler(Handler handler);
    QList<Request> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // Connections accepted and not yet closed by either side.
    int openConnections() const;

    // A port on 127.0.0.1 on which nobody listens (it was free a moment ago).
    static quint16 unusedPort();

private:
    void acceptConnections();
    void readFrom(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Reply& reply);

    QTcpServer m_server;
    Handler m_handler;
    QList<Request> m_requests;
    QHash<QTcpSocket*, QByteArray> m_pending; // bytes of a request not complete yet
    QList<QPointer<QTcpSocket>> m_sockets;
};
