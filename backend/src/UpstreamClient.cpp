#include "UpstreamClient.h"

#include "support/Wakeup.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

// Shared between the call and the reply's handlers, which may outlive the call's interest.
struct Transfer {
    std::shared_ptr<Wakeup> finished = Wakeup::create();
    QByteArray body;
    bool tooLarge = false;
    bool overDeadline = false;
};

// Seconds in a Retry-After header; its date form is not used by the exchange.
std::optional<std::chrono::seconds> retryAfter(const QNetworkReply& reply)
{
    bool ok = false;
    const qint64 seconds = reply.rawHeader("Retry-After").trimmed().toLongLong(&ok);
    if (!ok || seconds < 0) {
        return std::nullopt;
    }
    // A day at most: a typo in a header must not silence the service for longer.
    return std::chrono::seconds(std::min<qint64>(seconds, 24 * 3600));
}

} // namespace

UpstreamClient::UpstreamClient(QUrl baseUrl, std::chrono::milliseconds timeout, Clock clock)
    : m_baseUrl(std::move(baseUrl))
    , m_timeout(timeout)
    , m_clock(std::move(clock))
{
    m_network.setAutoDeleteReplies(false);
}

void UpstreamClient::stop()
{
    m_stopped = true;
    for (QNetworkReply* reply : m_network.findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly)) {
        reply->abort();
    }
}

QCoro::Task<UpstreamClient::Reply> UpstreamClient::get(QString path, QByteArray encodedQuery)
{
    const std::shared_ptr<std::optional<SteadyTime>> backOffUntil = m_backOffUntil;
    const Clock clock = m_clock;
    const std::chrono::milliseconds timeout = m_timeout;
    if (m_stopped) {
        co_return Reply{false, {}, QStringLiteral("shutting down")};
    }
    if (*backOffUntil && clock() < **backOffUntil) {
        co_return Reply{false, {}, QStringLiteral("backing off as the exchange asked")};
    }

    QUrl url = m_baseUrl;
    QString basePath = url.path(QUrl::FullyEncoded);
    while (basePath.endsWith(QLatin1Char('/'))) {
        basePath.chop(1);
    }
    url.setPath(basePath + path, QUrl::TolerantMode);
    url.setQuery(QString::fromLatin1(encodedQuery), QUrl::TolerantMode);

    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/json");
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("zentrow-backend/" ZENTROW_VERSION));

    const QPointer<QNetworkReply> reply = m_network.get(request);
    const auto transfer = std::make_shared<Transfer>();
    QObject::connect(reply, &QNetworkReply::finished, reply, [transfer] { transfer->finished->wake(); });
    QObject::connect(reply, &QObject::destroyed, reply, [transfer] { transfer->finished->wake(); });
    const auto refuseBody = [transfer, reply] {
        transfer->tooLarge = true;
        transfer->body = QByteArray();
        // Not from inside the reply's own signal.
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [transfer, reply, refuseBody] {
        // A declared length over the cap is refused before a byte of it is read.
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!transfer->tooLarge && length.isValid() && length.toLongLong() > kMaximumBodySize) {
            refuseBody();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [transfer, reply, refuseBody] {
        if (transfer->tooLarge) {
            return;
        }
        transfer->body.append(reply->readAll());
        if (transfer->body.size() > kMaximumBodySize) {
            refuseBody();
        }
    });
    // One deadline for the whole transfer: Qt's own transfer timeout restarts with every byte.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [transfer, reply] {
        transfer->overDeadline = true;
        reply->abort();
    });
    deadline->start(timeout);

    co_await transfer->finished->wait({});

    // From here on only the reply is touched: the client may be gone.
    if (!reply) {
        co_return Reply{false, {}, QStringLiteral("shut down before the exchange answered")};
    }
    reply->deleteLater();
    if (transfer->tooLarge) {
        co_return Reply{false, {}, QStringLiteral("%1: answer larger than 64 MiB").arg(url.path())};
    }
    if (transfer->overDeadline) {
        co_return Reply{
            false, {}, QStringLiteral("%1: no complete answer within %2 ms").arg(url.path()).arg(timeout.count())};
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 429 || status == 418) {
        if (const auto delay = retryAfter(*reply)) {
            *backOffUntil = clock() + *delay;
        }
    }
    if (status != 0 && (status < 200 || status > 299)) {
        co_return Reply{false, {}, QStringLiteral("%1 answered HTTP %2").arg(url.path()).arg(status)};
    }
    if (reply->error() != QNetworkReply::NoError) {
        co_return Reply{false, {}, QStringLiteral("%1: %2").arg(url.path(), reply->errorString())};
    }
    transfer->body.append(reply->readAll());
    co_return Reply{true, std::move(transfer->body), {}};
}
