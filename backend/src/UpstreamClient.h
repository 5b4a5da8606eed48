#pragma once

#include "Clock.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <optional>

// Plain GETs against the exchange's REST API. Each call fails cleanly on a transport error, a
// status outside 2xx, an oversized body, or when the whole transfer takes longer than the
// timeout: an exchange that trickles its answer byte by byte is as dead as one that says nothing. When the exchange
// asks us to back off (429 or 418 with Retry-After), every call fails locally until then: its
// limits count per IP address, and ignoring them ends in a ban.
class UpstreamClient {
public:
    // Exchange information for every pair is a few megabytes; far more is not a real answer.
    static constexpr qint64 kMaximumBodySize = 64 * 1024 * 1024;

    struct Reply {
        bool ok = false;
        QByteArray body;
        QString problem; // why it failed, for the log line
    };

    UpstreamClient(QUrl baseUrl, std::chrono::milliseconds timeout, Clock clock);
    UpstreamClient(const UpstreamClient&) = delete;
    UpstreamClient& operator=(const UpstreamClient&) = delete;

    // `path` is appended to the base URL's path; `encodedQuery` is sent as it is. The client may be
    // destroyed while a call is suspended: the call then fails.
    QCoro::Task<Reply> get(QString path, QByteArray encodedQuery);

    const QUrl& baseUrl() const { return m_baseUrl; }
    std::chrono::milliseconds timeout() const { return m_timeout; }

    // Fails every call in progress and every later one at once; for shutting down.
    void stop();

private:
    QUrl m_baseUrl;
    std::chrono::milliseconds m_timeout;
    Clock m_clock;
    QNetworkAccessManager m_network;
    bool m_stopped = false;
    std::shared_ptr<std::optional<SteadyTime>> m_backOffUntil = std::make_shared<std::optional<SteadyTime>>();
};
