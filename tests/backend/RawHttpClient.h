// Raw HTTP/1.1 on a socket, for the backend tests.
#pragma once

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

struct RawResponse {
    QByteArray statusLine;
    int status = 0;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(QByteArrayView name) const
    {
        for (const auto& [key, value] : headers) {
            if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0) {
                return value;
            }
        }
        return {};
    }
};

// A client that writes exact bytes and reads answers off the wire.
class RawClient {
public:
    explicit RawClient(quint16 port, const QHostAddress& from = {})
    {
        if (!from.isNull()) {
            m_socket.bind(from);
        }
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    explicit RawClient(const QUrl& url) { m_socket.connectToHost(QHostAddress(url.host()), url.port()); }

    void send(const QByteArray& bytes) { m_socket.write(bytes); }
    // Sends at once and lets the server read it, so that what follows arrives in a later packet.
    void sendAlone(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    // Waits for the next `count` answers (heads only where `bodyless` says so); fewer if the
    // server closed.
    QList<RawResponse> read(int count, const QList<bool>& bodyless = {}, int timeoutMs = 10'000)
    {
        (void)QTest::qWaitFor(
            [&] {
                m_received.append(m_socket.readAll());
                return parse(bodyless, count).size() >= count || m_socket.state() == QAbstractSocket::UnconnectedState;
            },
            timeoutMs);
        m_received.append(m_socket.readAll());
        qsizetype consumed = 0;
        QList<RawResponse> responses = parse(bodyless, count, &consumed);
        m_received.remove(0, consumed);
        return responses;
    }

    RawResponse readOne(bool bodyless = false, int timeoutMs = 10'000)
    {
        const QList<RawResponse> responses = read(1, {bodyless}, timeoutMs);
        return responses.isEmpty() ? RawResponse{} : responses.first();
    }
    RawResponse ask(const QByteArray& bytes)
    {
        send(bytes);
        return readOne();
    }
    // A keep-alive GET, and the status of its answer (0 if the server closed first).
    void get(const QByteArray& target) { send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"); }
    int status(int timeoutMs = 10'000) { return readOne(false, timeoutMs).status; }
    int getStatus(const QByteArray& target)
    {
        get(target);
        return status();
    }

    bool waitForClose()
    {
        return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, 10'000);
    }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    bool isClosed() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }

private:
    QList<RawResponse> parse(const QList<bool>& bodyless, int count, qsizetype* consumed = nullptr) const
    {
        QList<RawResponse> responses;
        qsizetype at = 0;
        while (responses.size() < count) {
            const qsizetype headEnd = m_received.indexOf("\r\n\r\n", at);
            if (headEnd < 0) {
                break;
            }
            RawResponse response;
            const QList<QByteArray> lines = m_received.mid(at, headEnd - at).split('\n');
            response.statusLine = lines.first().trimmed();
            response.status = response.statusLine.split(' ').value(1).toInt();
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines.at(i).indexOf(':');
                response.headers.append({lines.at(i).left(colon), lines.at(i).mid(colon + 1).trimmed()});
            }
            qsizetype length = response.header("Content-Length").toLongLong();
            if (bodyless.value(responses.size(), false) || response.status == 304) {
                length = 0;
            }
            if (m_received.size() < headEnd + 4 + length) {
                break;
            }
            response.body = m_received.mid(headEnd + 4, length);
            at = headEnd + 4 + length;
            responses.append(response);
        }
        if (consumed) {
            *consumed = at;
        }
        return responses;
    }

    QTcpSocket m_socket;
    QByteArray m_received;
};
