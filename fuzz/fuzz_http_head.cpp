// libFuzzer target for the request-head parser. The parser is private to HttpConnection, so the
// input reaches it the way a client's bytes do: through a socket. FeedSocket is a QTcpSocket
// with no network behind it that hands out the input in three pieces (so requests also arrive
// split) and keeps what the connection writes. The handler answers like the API does: it reads
// the query and gives a cacheable body with an ETag, so If-None-Match is exercised too.
//
// Beyond crashes and sanitizer reports it checks the framing a client relies on: what the
// connection writes is a sequence of complete HTTP/1.x answers, one per request the handler saw,
// in order, and at most one refusal (4xx/5xx with "Connection: close") after them, with nothing
// following an answer that closes the connection.

#include "HttpConnection.h"
#include "QueryString.h"

#include <QCoreApplication>
#include <QTcpSocket>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char* what, const QByteArray& written = {})
{
    std::fprintf(stderr, "fuzz_http_head: %s\n%s\n", what, written.left(2000).constData());
    std::abort();
}

class FeedSocket : public QTcpSocket {
public:
    FeedSocket() { setOpenMode(QIODevice::ReadWrite | QIODevice::Unbuffered); }

    void feed(QByteArrayView bytes)
    {
        m_incoming.append(bytes);
        Q_EMIT readyRead();
    }
    void hangUp() { Q_EMIT disconnected(); }

    const QByteArray& written() const { return m_written; }
    bool closeAsked() const { return m_closeAsked; }

    qint64 bytesAvailable() const override { return m_incoming.size() + QTcpSocket::bytesAvailable(); }
    qint64 bytesToWrite() const override { return 0; }
    void disconnectFromHost() override { m_closeAsked = true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = std::min<qint64>(maxSize, m_incoming.size());
        std::copy_n(m_incoming.constData(), n, data);
        m_incoming.remove(0, n);
        return n;
    }
    qint64 writeData(const char* data, qint64 size) override
    {
        if (m_closeAsked) {
            fail("wrote after asking to close", m_written);
        }
        m_written.append(data, size);
        return size;
    }

private:
    QByteArray m_incoming;
    QByteArray m_written;
    bool m_closeAsked = false;
};

struct Seen {
    QList<bool> bodiless; // per handled request: HEAD, so the answer has no body
};

// Small limits, so that short inputs reach the size refusals too.
HttpLimits fuzzLimits()
{
    HttpLimits limits;
    limits.maxHeadBytes = 1024;
    limits.maxBodyBytes = 256;
    return limits;
}

std::shared_ptr<const HttpHandler> makeHandler(Seen* seen)
{
    return std::make_shared<const HttpHandler>([seen](HttpRequest request) -> QCoro::Task<HttpResponse> {
        seen->bodiless.append(request.method == "HEAD");
        const QByteArray rebuilt = request.hasQuery ? request.path + '?' + request.query : request.path;
        if (rebuilt != request.target || !request.path.startsWith('/')) {
            fail("the target was split wrongly");
        }
        if (request.minorVersion == 1 && request.header("Host").isNull()) {
            fail("an HTTP/1.1 request without Host reached the handler");
        }
        QString problem;
        const auto parameters = QueryString::parse(request.query, &problem);
        HttpResponse response =
            parameters ? HttpResponse::json(200, "{\"data\":[]}") : HttpResponse::error(400, problem);
        if (parameters) {
            response.setCacheable(std::chrono::seconds(15));
        }
        co_return response;
    });
}

// Checks the written bytes answer by answer; see the comment at the top.
void checkFraming(const QByteArray& out, const Seen& seen, bool closeAsked)
{
    qsizetype at = 0;
    qsizetype answers = 0;
    bool closed = false;
    while (at < out.size()) {
        if (closed) {
            fail("bytes after an answer that closes the connection", out);
        }
        const qsizetype headEnd = out.indexOf("\r\n\r\n", at);
        if (headEnd < 0 || !(out.sliced(at).startsWith("HTTP/1.1 ") || out.sliced(at).startsWith("HTTP/1.0 "))) {
            fail("an answer without a status line or an end of head", out);
        }
        const QByteArray head = out.sliced(at, headEnd - at);
        const int status = head.mid(9, 3).toInt();
        qint64 length = -1;
        for (const QByteArray& line : head.split('\n')) {
            if (line.startsWith("Content-Length: ")) {
                length = line.sliced(16).trimmed().toLongLong();
            }
            if (line.trimmed() == "Connection: close") {
                closed = true;
            }
        }
        const bool handled = answers < seen.bodiless.size();
        if (!handled && (status < 400 || !closed)) {
            fail("an answer nobody asked for", out);
        }
        const bool bodiless = status == 304 || (handled && seen.bodiless.at(answers));
        if (!bodiless && length < 0) {
            fail("an answer without Content-Length", out);
        }
        at = headEnd + 4 + (bodiless ? 0 : length);
        if (at > out.size()) {
            fail("an answer shorter than its Content-Length", out);
        }
        ++answers;
    }
    if (answers < seen.bodiless.size() || answers > seen.bodiless.size() + 1) {
        fail("answers and handled requests do not match up", out);
    }
    if (closed != closeAsked) {
        fail("\"Connection: close\" and closing the socket disagree", out);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Seen seen;
    auto* socket = new FeedSocket;
    const qsizetype third = input.size() / 3;
    socket->feed(input.first(third));
    bool closedSignal = false;
    {
        HttpConnection connection(socket, makeHandler(&seen), fuzzLimits());
        QObject::connect(&connection, &HttpConnection::closed, [&closedSignal] { closedSignal = true; });
        // The connection looks at the first bytes from the event loop.
        QCoreApplication::sendPostedEvents(&connection, QEvent::MetaCall);
        socket->feed(input.sliced(third, third));
        socket->feed(input.sliced(2 * third));
        if (qEnvironmentVariableIsSet("FUZZ_SHOW_ANSWERS")) {
            // For looking at one input: FUZZ_SHOW_ANSWERS=1 build-fuzz/fuzz_http_head FILE
            std::fwrite(socket->written().constData(), 1, socket->written().size(), stderr);
        }
        checkFraming(socket->written(), seen, socket->closeAsked());
        socket->hangUp();
        if (!closedSignal) {
            fail("no closed() after the peer went away");
        }
    }
    return 0;
}
