#include "UpstreamClient.h"

#include "support/Wakeup.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <algorithm>

namespace {

// Shared between the call and the reply's handlers, which may outlive the call's interest.
struct Transfer {
    std::shared_ptr<Wakeup> finished = Wakeup::create();
    QByteArray body;
    bool tooLarge = false;
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

QCoro::Task<UpstreamClient::Reply> UpstreamClient::get(QString path, QByteArray encodedQuery)
{
    const std::shared_ptr<std::optional<SteadyTime>> backOffUntil = m_backOffUntil;
    const Clock clock = m_clock;
    const std::chrono::milliseconds timeout = m_timeout;
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
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    request.setRawHeader("Accept", "application/json");
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("zentrow-backend/" ZENTROW_VERSION));

    const QPointer<QNetworkReply> reply = m_network.get(request);
    const auto transfer = std::make_shared<Transfer>();
    QObject::connect(reply, &QNetworkReply::finished, reply, [transfer] { transfer->finished->wake(); });
    QObject::connect(reply, &QObject::destroyed, reply, [transfer] { transfer->finished->wake(); });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [transfer, reply] {
        if (transfer->tooLarge) {
            return;
        }
        transfer->body.append(reply->readAll());
        if (transfer->body.size() > kMaximumBodySize) {
            transfer->tooLarge = true;
            transfer->body = QByteArray();
            // Not from inside the reply's own signal.
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        }
    });

    co_await transfer->finished->wait({});

    // From here on only the reply is touched: the client may be gone.
    if (!reply) {
        co_return Reply{false, {}, QStringLiteral("shut down before the exchange answered")};
    }
    reply->deleteLater();
    if (transfer->tooLarge) {
        co_return Reply{false, {}, QStringLiteral("answer larger than 64 MiB")};
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
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        // Nobody cancels these calls; Qt reports its transfer timeout this way.
        co_return Reply{false, {}, QStringLiteral("%1: no answer within %2 ms").arg(url.path()).arg(timeout.count())};
    }
    if (reply->error() != QNetworkReply::NoError) {
        co_return Reply{false, {}, QStringLiteral("%1: %2").arg(url.path(), reply->errorString())};
    }
    transfer->body.append(reply->readAll());
    co_return Reply{true, std::move(transfer->body), {}};
}
