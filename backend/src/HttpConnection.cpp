#include "HttpConnection.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

// Socket bytes Qt may hold for us while a request is being answered; beyond it the kernel's
// window fills and the client waits (TCP flow control does the rest).
constexpr qint64 kSocketReadBuffer = 64 * 1024;

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

// Visible ASCII without "#": what a client may put in an origin-form target.
bool isTargetText(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7f && c != '#'; });
}

bool hasConnectionOption(const QByteArray& value, QByteArrayView option)
{
    for (const QByteArray& item : value.split(',')) {
        if (QByteArrayView(item).trimmed().compare(option, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// End of the head (index just past its empty line) and where that empty line starts, accepting
// bare LF line ends as RFC 9112 allows.
std::optional<std::pair<qsizetype, qsizetype>> findHeadEnd(const QByteArray& buffer)
{
    qsizetype from = 0;
    while (true) {
        const qsizetype newline = buffer.indexOf('\n', from);
        if (newline < 0) {
            return std::nullopt;
        }
        if (newline + 1 < buffer.size() && buffer.at(newline + 1) == '\n') {
            return std::pair{newline + 2, newline + 1};
        }
        if (newline + 2 < buffer.size() && buffer.at(newline + 1) == '\r' && buffer.at(newline + 2) == '\n') {
            return std::pair{newline + 3, newline + 1};
        }
        from = newline + 1;
    }
}

} // namespace

HttpConnection::HttpConnection(QTcpSocket* socket, std::shared_ptr<const HttpHandler> handler, const HttpLimits& limits,
                               QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_handler(std::move(handler))
    , m_limits(limits)
    , m_peer(socket->peerAddress())
    , m_lastActivity(std::chrono::steady_clock::now())
{
    m_socket->setParent(this);
    m_socket->setReadBufferSize(kSocketReadBuffer);
    // Answers are written whole; waiting for more to coalesce would only add latency.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::processRequests);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::processRequests);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::finishClosing);
    // Bytes may have arrived before the connection was picked up. Looked at from the event loop,
    // so that even a refusal reaches an owner that has connected to closed().
    QMetaObject::invokeMethod(this, &HttpConnection::processRequests, Qt::QueuedConnection);
}

HttpConnection::~HttpConnection()
{
    m_socket->disconnect(this);
}

void HttpConnection::readSocket()
{
    const qsizetype room = m_limits.maxHeadBytes + m_limits.maxBodyBytes + kSocketReadBuffer - m_buffer.size();
    if (room <= 0 || m_socket->bytesAvailable() == 0) {
        return;
    }
    if (!m_requestStarted) {
        m_requestStarted = std::chrono::steady_clock::now();
    }
    // Only what is there: read(n) would allocate n bytes up front.
    m_buffer.append(m_socket->read(std::min(room, m_socket->bytesAvailable())));
}

void HttpConnection::processRequests()
{
    if (m_processing || m_closed) {
        return;
    }
    m_processing = true;
    while (!m_busy && !m_closing && !m_draining && m_socket->bytesToWrite() < m_limits.maxUnsentBytes) {
        readSocket();
        HttpRequest request;
        Exchange exchange;
        if (takeRequest(request, exchange) != Parse::Taken) {
            break;
        }
        m_busy = true;
        // Runs inline until the handler first waits; a cached answer comes back right here.
        serve(this, m_handler, std::move(request), exchange);
    }
    m_processing = false;
}

HttpConnection::Parse HttpConnection::takeRequest(HttpRequest& request, Exchange& exchange)
{
    // Empty lines before a request line are tolerated (RFC 9112, 2.2).
    qsizetype skip = 0;
    while (skip < m_buffer.size() && (m_buffer.at(skip) == '\r' || m_buffer.at(skip) == '\n')) {
        ++skip;
    }
    if (skip > 0) {
        m_buffer.remove(0, skip);
    }
    if (m_buffer.isEmpty()) {
        // Blank lines alone still started a head: its clock keeps running.
        return Parse::Incomplete;
    }
    const auto headEnd = findHeadEnd(m_buffer);
    if (!headEnd) {
        if (m_buffer.size() > m_limits.maxHeadBytes) {
            refuse(431, QStringLiteral("request head larger than %1 bytes").arg(m_limits.maxHeadBytes));
            return Parse::Refused;
        }
        return Parse::Incomplete;
    }
    if (headEnd->first > m_limits.maxHeadBytes) {
        refuse(431, QStringLiteral("request head larger than %1 bytes").arg(m_limits.maxHeadBytes));
        return Parse::Refused;
    }

    const QList<QByteArray> lines = m_buffer.first(headEnd->second).split('\n');
    QByteArray requestLine = lines.first();
    if (requestLine.endsWith('\r')) {
        requestLine.chop(1);
    }
    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() != 3 || !isToken(parts.at(0))) {
        refuse(400, QStringLiteral("malformed request line"));
        return Parse::Refused;
    }
    const QByteArray& version = parts.at(2);
    if (version == "HTTP/1.1") {
        request.minorVersion = 1;
    } else if (version == "HTTP/1.0") {
        request.minorVersion = 0;
    } else if (version.startsWith("HTTP/")) {
        refuse(505, QStringLiteral("only HTTP/1.0 and HTTP/1.1 are spoken here"));
        return Parse::Refused;
    } else {
        refuse(400, QStringLiteral("malformed request line"));
        return Parse::Refused;
    }
    request.method = parts.at(0);
    request.target = parts.at(1);
    if (!request.target.startsWith('/') || !isTargetText(request.target)) {
        refuse(400, QStringLiteral("malformed request target"));
        return Parse::Refused;
    }
    const qsizetype question = request.target.indexOf('?');
    request.hasQuery = question >= 0;
    request.path = request.hasQuery ? request.target.first(question) : request.target;
    request.query = request.hasQuery ? request.target.sliced(question + 1) : QByteArray();

    int hosts = 0;
    std::optional<qint64> contentLength;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.isEmpty()) {
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        // Folded lines (leading white space) and white space before the colon are smuggling tools.
        if (colon <= 0 || !isToken(QByteArrayView(line).first(colon))) {
            refuse(400, QStringLiteral("malformed header line"));
            return Parse::Refused;
        }
        QByteArray name = line.first(colon);
        QByteArray value = line.sliced(colon + 1).trimmed();
        if (name.compare("Host", Qt::CaseInsensitive) == 0) {
            ++hosts;
        } else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            refuse(501, QStringLiteral("request bodies in a transfer coding are not accepted"));
            return Parse::Refused;
        } else if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            bool ok = !value.isEmpty() &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
            const qint64 length = ok ? value.toLongLong(&ok) : -1;
            if (!ok || (contentLength && *contentLength != length)) {
                refuse(400, QStringLiteral("malformed Content-Length"));
                return Parse::Refused;
            }
            contentLength = length;
        }
        request.headers.append({std::move(name), std::move(value)});
    }
    if (request.minorVersion == 1 && hosts != 1) {
        refuse(400, QStringLiteral("an HTTP/1.1 request needs exactly one Host header"));
        return Parse::Refused;
    }
    const qint64 bodyLength = contentLength.value_or(0);
    if (bodyLength > m_limits.maxBodyBytes) {
        refuse(413, QStringLiteral("request body larger than %1 bytes").arg(m_limits.maxBodyBytes));
        return Parse::Refused;
    }
    if (m_buffer.size() - headEnd->first < bodyLength) {
        return Parse::Incomplete;
    }
    m_buffer.remove(0, headEnd->first + bodyLength);
    m_requestStarted.reset();
    if (!m_buffer.isEmpty()) {
        // The next pipelined request is already arriving.
        m_requestStarted = std::chrono::steady_clock::now();
    }

    const QByteArray connection = request.header("Connection");
    exchange.isHead = request.method == "HEAD";
    exchange.minorVersion = request.minorVersion;
    exchange.keepAlive = request.minorVersion == 1 ? !hasConnectionOption(connection, "close")
                                                   : hasConnectionOption(connection, "keep-alive");
    exchange.ifNoneMatch = request.header("If-None-Match");
    return Parse::Taken;
}

QCoro::Task<> HttpConnection::serve(QPointer<HttpConnection> self, std::shared_ptr<const HttpHandler> handler,
                                    HttpRequest request, Exchange exchange)
{
    HttpResponse response = co_await (*handler)(std::move(request));
    // The client may have gone while the answer was being prepared.
    if (self) {
        self->respond(exchange, std::move(response));
    }
}

void HttpConnection::refuse(int status, const QString& message)
{
    Exchange exchange;
    exchange.keepAlive = false;
    HttpResponse response = HttpResponse::error(status, message);
    response.closesConnection = true;
    m_buffer.clear();
    respond(exchange, std::move(response));
}

void HttpConnection::respond(const Exchange& exchange, HttpResponse response)
{
    m_busy = false;
    if (m_closing || m_closed) {
        return;
    }
    if (response.status == 200 && !exchange.ifNoneMatch.isEmpty() &&
        HttpResponse::noneMatchHits(exchange.ifNoneMatch, response.etag)) {
        response.status = 304;
    }
    const bool keepAlive = exchange.keepAlive && !response.closesConnection && !m_draining;
    const bool hasBody = response.status != 304;

    QByteArray head;
    head.reserve(320);
    head.append(exchange.minorVersion == 0 ? "HTTP/1.0 " : "HTTP/1.1 ")
        .append(QByteArray::number(response.status))
        .append(' ')
        .append(HttpResponse::reasonPhrase(response.status))
        .append("\r\nDate: ")
        .append(HttpResponse::currentDate())
        .append("\r\n");
    if (hasBody) {
        head.append("Content-Type: ").append(response.contentType).append("\r\n");
        head.append("Content-Length: ").append(QByteArray::number(response.body.size())).append("\r\n");
    }
    if (!response.cacheControl.isEmpty()) {
        head.append("Cache-Control: ").append(response.cacheControl).append("\r\n");
    }
    if (!response.etag.isEmpty()) {
        head.append("ETag: ").append(response.etag).append("\r\n");
    }
    for (const auto& [name, value] : std::as_const(response.headers)) {
        head.append(name).append(": ").append(value).append("\r\n");
    }
    if (!keepAlive) {
        head.append("Connection: close\r\n");
    } else if (exchange.minorVersion == 0) {
        head.append("Connection: keep-alive\r\n");
    }
    head.append("\r\n");
    if (hasBody && !exchange.isHead) {
        head.append(response.body);
    }
    m_socket->write(head);
    m_lastActivity = std::chrono::steady_clock::now();
    ++m_answered;

    if (!keepAlive) {
        close();
    } else if (!m_processing) {
        // An answer that came back later: go on with whatever the client sent meanwhile.
        processRequests();
    }
}

bool HttpConnection::isEvictable() const
{
    return !m_closed && (m_closing || (!m_busy && m_socket->bytesToWrite() == 0));
}

void HttpConnection::evict()
{
    if (m_closed) {
        return;
    }
    m_socket->abort();
    finishClosing();
}

void HttpConnection::drain()
{
    m_draining = true;
    if (!m_busy) {
        close();
    }
}

void HttpConnection::close()
{
    if (m_closing || m_closed) {
        return;
    }
    m_closing = true;
    m_closeStarted = std::chrono::steady_clock::now();
    // Sends what is queued, then closes; disconnected() follows.
    m_socket->disconnectFromHost();
}

void HttpConnection::finishClosing()
{
    if (m_closed) {
        return;
    }
    m_closed = true;
    m_closing = true;
    Q_EMIT closed(this);
}

void HttpConnection::checkTimeouts(SteadyTime now)
{
    if (m_closed) {
        return;
    }
    if (m_closing) {
        if (m_closeStarted && now - *m_closeStarted > m_limits.closeTimeout) {
            m_socket->abort();
            finishClosing();
        }
        return;
    }
    if (m_busy) {
        return; // the handler's own timeouts bound this
    }
    if (m_requestStarted && now - *m_requestStarted > m_limits.headTimeout) {
        refuse(408, QStringLiteral("the request did not arrive in time"));
    } else if (!m_requestStarted && now - m_lastActivity > m_limits.idleTimeout) {
        close();
    }
}
