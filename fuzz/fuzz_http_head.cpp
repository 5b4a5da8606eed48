// libFuzzer target for the request-head parser. The parser is private to HttpConnection, so the
// input reaches it the way a client's bytes do: through a socket. FeedSocket is a QTcpSocket
// with no network behind it that hands out the input in three pieces (so requests also arrive
// split) and keeps what the connection writes. The client reads the answers only when it sends
// more, so a connection with many pipelined requests also meets a slow reader. The handler answers like the API does:
// it reads the query and gives a cacheable body with an ETag, so If-None-Match is exercised too. Requests for
// "/later..." are answered only when the harness opens a gate, as an answer waiting for the exchange would be: after
// more bytes have arrived, or (inputs of odd length) after the client has gone and the connection is deleted.
//
// Beyond crashes and sanitizer reports it checks the framing a client relies on: what the
// connection writes is a sequence of complete HTTP/1.x answers, one per request the handler saw,
// in order, and at most one refusal (4xx/5xx with "Connection: close") after them, with nothing
// following an answer that closes the connection. A client that then falls silent must be let go.

#include "FuzzCheck.h"
#include "HttpConnection.h"
#include "QueryString.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QTcpSocket>

#include <algorithm>
#include <cstdint>

namespace {

class FeedSocket : public QTcpSocket {
public:
    FeedSocket() { setOpenMode(QIODevice::ReadWrite | QIODevice::Unbuffered); }

    void feed(QByteArrayView bytes)
    {
        drain();
        m_incoming.append(bytes);
        Q_EMIT readyRead();
    }
    void hangUp() { Q_EMIT disconnected(); }
    // The client has read everything written so far.
    void drain()
    {
        const qint64 taken = std::exchange(m_unsent, 0);
        if (taken > 0) {
            Q_EMIT bytesWritten(taken);
        }
    }

    const QByteArray& written() const { return m_written; }
    bool closeAsked() const { return m_closeAsked; }
    qint64 unsent() const { return m_unsent; }

    qint64 bytesAvailable() const override { return m_incoming.size() + QTcpSocket::bytesAvailable(); }
    qint64 bytesToWrite() const override { return m_unsent; }
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
        m_unsent += size;
        return size;
    }

private:
    QByteArray m_incoming;
    QByteArray m_written;
    qint64 m_unsent = 0;
    bool m_closeAsked = false;
};

struct Seen {
    QList<bool> bodiless; // per request the handler took: HEAD, so the answer has no body
    int waiting = 0;      // handlers waiting at the gate
};

class Gate : public QObject {
    Q_OBJECT
public:
    // Lets every waiting handler go, including ones that start waiting meanwhile.
    void release(const Seen& seen)
    {
        for (int round = 0; seen.waiting > 0; ++round) {
            if (round > 10000) {
                fail("handlers keep waiting");
            }
            Q_EMIT opened();
            // QCoro resumes a coroutine waiting for a signal from the event loop.
            QCoreApplication::sendPostedEvents();
        }
    }

Q_SIGNALS:
    void opened();
};

Gate* gate = nullptr;

// Small limits, so that short inputs reach the size refusals too; two answers may wait unsent.
const HttpLimits kFuzzLimits{.maxHeadBytes = 1024, .maxBodyBytes = 256, .maxUnsentBytes = 400};

std::shared_ptr<const HttpHandler> makeHandler(Seen* seen)
{
    return std::make_shared<const HttpHandler>([seen](HttpRequest request) -> QCoro::Task<HttpResponse> {
        seen->bodiless.append(request.method == "HEAD");
        if (request.path.startsWith("/later")) {
            ++seen->waiting;
            co_await qCoro(gate, &Gate::opened);
            --seen->waiting;
        }
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
    const qsizetype handled = seen.bodiless.size() - seen.waiting;
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
        const bool answersRequest = answers < handled;
        if (!answersRequest && (status < 400 || !closed)) {
            fail("an answer nobody asked for", out);
        }
        const bool bodiless = status == 304 || (answersRequest && seen.bodiless.at(answers));
        if (!bodiless && length < 0) {
            fail("an answer without Content-Length", out);
        }
        at = headEnd + 4 + (bodiless ? 0 : length);
        if (at > out.size()) {
            fail("an answer shorter than its Content-Length", out);
        }
        ++answers;
    }
    if (answers < handled || answers > handled + 1) {
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
    gate = new Gate;
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
        HttpConnection connection(socket, makeHandler(&seen), kFuzzLimits);
        QObject::connect(&connection, &HttpConnection::closed, [&closedSignal] { closedSignal = true; });
        // The connection looks at the first bytes from the event loop.
        QCoreApplication::sendPostedEvents(&connection, QEvent::MetaCall);
        socket->feed(input.sliced(third, third));
        gate->release(seen);
        socket->feed(input.sliced(2 * third));
        const bool leaveEarly = input.size() % 2 == 1 && seen.waiting > 0;
        // Every answer comes back (unless the client is about to leave) and the client reads them
        // all, which lets the connection go on with requests it held back.
        while (true) {
            if (!leaveEarly) {
                gate->release(seen);
            }
            if (socket->unsent() == 0) {
                break;
            }
            socket->drain();
        }
        checkFraming(socket->written(), seen, socket->closeAsked());

        // Then the client falls silent for longer than any limit: whatever it left half sent,
        // the connection must let go of it, adding at most a refusal to what it wrote.
        if (!socket->closeAsked() && seen.waiting == 0) {
            const qsizetype before = socket->written().size();
            connection.checkTimeouts(std::chrono::steady_clock::now() + std::chrono::hours(1));
            if (!socket->closeAsked()) {
                fail("a silent client is kept forever", socket->written());
            }
            const QByteArray refusal = socket->written().sliced(before);
            if (!refusal.isEmpty() &&
                !(refusal.startsWith("HTTP/1.") && refusal.contains("\r\nConnection: close\r\n"))) {
                fail("a timeout answered with something other than a refusal", refusal);
            }
        }
        // Nor is a closing connection kept forever when the client never confirms the close.
        if (socket->closeAsked() && seen.waiting == 0) {
            connection.checkTimeouts(std::chrono::steady_clock::now() + std::chrono::hours(2));
            if (!closedSignal) {
                fail("a closing connection is never finished", socket->written());
            }
        }
        socket->hangUp();
        if (!closedSignal) {
            fail("no closed() after the peer went away");
        }
    }
    // An answer that comes back after the client left must go nowhere.
    gate->release(seen);
    return 0;
}

#include "fuzz_http_head.moc"
