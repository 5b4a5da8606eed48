#include "LoopbackHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Far more than any test sends; a client that never ends its header block is cut off.
constexpr qsizetype kMaximumHeaderSize = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    static const QHash<int, QByteArray> phrases{
        {200, "OK"},          {204, "No Content"}, {301, "Moved Permanently"},     {302, "Found"},
        {400, "Bad Request"}, {404, "Not Found"},  {500, "Internal Server Error"}, {503, "Service Unavailable"}};
    return phrases.value(status, "Status");
}

// Parses one complete header block (without its final empty line) into a request.
LoopbackHttpServer::Request parseHead(const QByteArray& head)
{
    LoopbackHttpServer::Request request;
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (i == 0) {
            request.requestLine = line;
            const QList<QByteArray> parts = line.split(' ');
            request.method = parts.value(0);
            request.target = parts.value(1);
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0) {
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
    }
    return request;
}

} // namespace

QByteArray LoopbackHttpServer::Request::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::json(QByteArray body, int status)
{
    Reply reply;
    reply.status = status;
    reply.addHeader("Content-Type", "application/json");
    reply.body = std::move(body);
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::never()
{
    Reply reply;
    reply.mode = Mode::NeverAnswer;
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::closeWithoutAnswer()
{
    Reply reply;
    reply.mode = Mode::CloseWithoutAnswer;
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::truncated(QByteArray body, qint64 declaredLength)
{
    Reply reply = json(std::move(body));
    reply.mode = Mode::TruncatedBody;
    reply.declaredLength = declaredLength;
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::raw(QByteArray bytes)
{
    Reply reply;
    reply.mode = Mode::Raw;
    reply.body = std::move(bytes);
    return reply;
}

LoopbackHttpServer::LoopbackHttpServer(QObject* parent)
    : QObject(parent)
    , m_handler([](const Request&) { return Reply::json(QByteArray(), 404); })
{
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::acceptConnections);
    m_server.listen(QHostAddress::LocalHost, 0);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    m_server.close();
    // Sockets would otherwise report their close into a half-destroyed server.
    for (const QPointer<QTcpSocket>& socket : std::as_const(m_sockets)) {
        if (socket) {
            socket->disconnect(this);
            socket->abort();
            delete socket.data();
        }
    }
}

QUrl LoopbackHttpServer::baseUrl() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port());
    return url;
}

void LoopbackHttpServer::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

int LoopbackHttpServer::openConnections() const
{
    int count = 0;
    for (const QPointer<QTcpSocket>& socket : m_sockets) {
        if (socket && socket->state() == QAbstractSocket::ConnectedState) {
            ++count;
        }
    }
    return count;
}

quint16 LoopbackHttpServer::unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void LoopbackHttpServer::acceptConnections()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_sockets.removeAll(QPointer<QTcpSocket>());
        m_sockets.append(socket);
        m_pending.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
        // Bytes may have arrived before the connection was picked up.
        readFrom(socket);
    }
}

void LoopbackHttpServer::readFrom(QTcpSocket* socket)
{
    const auto pending = m_pending.find(socket);
    if (pending == m_pending.end()) {
        // Already answered (or answering): later bytes on this connection are ignored.
        socket->readAll();
        return;
    }
    pending->append(socket->readAll());
    const qsizetype headEnd = pending->indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (pending->size() > kMaximumHeaderSize) {
            m_pending.erase(pending);
            socket->abort();
        }
        return;
    }
    Request request = parseHead(pending->left(headEnd));
    const qint64 bodyLength = request.header("Content-Length").toLongLong();
    const qsizetype bodyStart = headEnd + 4;
    if (pending->size() - bodyStart < bodyLength) {
        return;
    }
    request.body = pending->mid(bodyStart, bodyLength);
    m_pending.erase(pending);
    m_requests.append(request);

    const Reply reply = m_handler(request);
    if (reply.delay.count() > 0) {
        QTimer::singleShot(reply.delay, socket, [this, socket, reply] { answer(socket, reply); });
    } else {
        answer(socket, reply);
    }
}

void LoopbackHttpServer::answer(QTcpSocket* socket, const Reply& reply)
{
    switch (reply.mode) {
    case Reply::Mode::NeverAnswer:
        return;
    case Reply::Mode::CloseWithoutAnswer:
        socket->disconnectFromHost();
        return;
    case Reply::Mode::Raw:
        socket->write(reply.body);
        socket->disconnectFromHost();
        return;
    case Reply::Mode::Answer:
    case Reply::Mode::TruncatedBody:
        break;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    if (reply.mode == Reply::Mode::TruncatedBody) {
        head += "Content-Length: " + QByteArray::number(reply.declaredLength) + "\r\n";
    } else if (reply.sendsContentLength) {
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    }
    for (const auto& [name, value] : reply.headers) {
        head += name + ": " + value + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    if (reply.byteInterval.count() > 0) {
        auto* timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket, timer, body = reply.body, sent = qsizetype(0)]() mutable {
            if (sent < body.size()) {
                socket->write(body.mid(sent++, 1));
            } else {
                timer->stop();
                socket->disconnectFromHost();
            }
        });
        timer->start(reply.byteInterval);
        return;
    }
    socket->write(reply.body);
    // Closes once everything written has gone out.
    socket->disconnectFromHost();
}
