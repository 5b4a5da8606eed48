#include "services/ZentrowAPIMarketDataService.h"

#include "services/MarketDataServiceError.h"
#include "support/JsonReader.h"
#include "support/Wakeup.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>
#include <limits>

namespace {

using Milliseconds = std::chrono::milliseconds;

QString translated(const char* text)
{
    return QCoreApplication::translate("ZentrowAPIMarketDataService", text);
}

// What a call copies out of the service before it first suspends; it never looks at the
// service again.
struct Endpoint {
    QPointer<QNetworkAccessManager> session;
    Milliseconds transferTimeout;
};

Error transportError(QNetworkReply::NetworkError code, QString description)
{
    return Error(Error::Domain::Transport, code, std::move(description));
}

// Same code and text as an aborted reply, for a call stopped before it sent anything.
Error cancelledError()
{
    return transportError(QNetworkReply::OperationCanceledError,
                          QCoreApplication::translate("QNetworkReply", "Operation canceled"));
}

Error sessionClosedError()
{
    return transportError(QNetworkReply::UnknownNetworkError,
                          translated("The network session was closed before the request could finish."));
}

Error bodyTooLargeError()
{
    return transportError(QNetworkReply::UnknownContentError,
                          translated("The server's answer is larger than 16 MiB and was not read."));
}

Error timedOutError()
{
    return transportError(QNetworkReply::TimeoutError, translated("The server did not answer in time."));
}

constexpr qint64 kReadBufferSize = 1024 * 1024;

bool isSuccessStatus(int status)
{
    return status >= 200 && status <= 299;
}

// The manager deletes its replies when it goes away, so ownership must not outlive that.
class ReplyHandle {
public:
    explicit ReplyHandle(QNetworkReply* reply)
        : m_reply(reply)
    {
    }
    ReplyHandle(const ReplyHandle&) = delete;
    ReplyHandle& operator=(const ReplyHandle&) = delete;
    ~ReplyHandle()
    {
        if (m_reply) {
            m_reply->deleteLater();
        }
    }

    QNetworkReply* get() const { return m_reply.data(); }

private:
    QPointer<QNetworkReply> m_reply;
};

// Shared between the fetching coroutine and the reply's signal handlers, which may outlive
// the coroutine's interest in them.
struct Exchange {
    std::shared_ptr<Wakeup> finished = Wakeup::create();
    // Set when we abort the reply ourselves; it then outranks whatever the reply says.
    std::optional<Error> refusal;
    // Taken out of the reply as it arrives, so that its size is ours to limit.
    QByteArray body;
};

void refuse(QNetworkReply* reply, Exchange& exchange, Error error)
{
    if (exchange.refusal) {
        return;
    }
    exchange.refusal = std::move(error);
    // Aborting inside the reply's own signal makes Qt report the reply's error twice; from the
    // event loop it is clean, and a reply that finished in between ignores it.
    QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

void watch(QNetworkReply* reply, const std::shared_ptr<Exchange>& exchange)
{
    // Handlers only wake the coroutine; it resumes from the event loop, never inside abort()
    // or inside a caller's request_stop().
    QObject::connect(reply, &QNetworkReply::finished, reply, [exchange] { exchange->finished->wake(); });
    QObject::connect(reply, &QObject::destroyed, reply, [exchange] { exchange->finished->wake(); });

    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, exchange] {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        // Redirects (3xx) are followed by the manager; only a final failure status stops here,
        // and since its body is never read, there is no point in downloading it.
        if (status.isValid() && (status.toInt() < 200 || status.toInt() >= 400)) {
            refuse(reply, *exchange, MarketDataServiceError::httpStatus(status.toInt()));
            return;
        }
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > ZentrowAPIMarketDataService::kMaximumBodySize) {
            refuse(reply, *exchange, bodyTooLargeError());
        }
    });
    // Without a Content-Length (or with a false one) the size shows only while the body arrives.
    // A refused body is left unread: the manager then stops fetching until the abort.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, exchange] {
        if (exchange->refusal) {
            return;
        }
        exchange->body.append(reply->readAll());
        if (exchange->body.size() > ZentrowAPIMarketDataService::kMaximumBodySize) {
            exchange->body = QByteArray();
            refuse(reply, *exchange, bodyTooLargeError());
        }
    });
}

Result<QByteArray> outcome(QNetworkReply& reply, Exchange& exchange, bool stopRequested)
{
    if (exchange.refusal) {
        return *exchange.refusal;
    }
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && !isSuccessStatus(status.toInt())) {
        return Error(MarketDataServiceError::httpStatus(status.toInt()));
    }
    if (reply.error() == QNetworkReply::OperationCanceledError && !stopRequested) {
        // Qt reports its own transfer timeout as a cancellation; the caller did not cancel.
        return timedOutError();
    }
    if (reply.error() != QNetworkReply::NoError) {
        return transportError(reply.error(), reply.errorString());
    }
    // Other schemes may fake a status (Qt gives local files a 200), so the scheme decides too.
    const QString scheme = reply.url().scheme();
    if (!status.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        return Error(MarketDataServiceError::invalidResponse());
    }
    exchange.body.append(reply.readAll());
    if (exchange.body.size() > ZentrowAPIMarketDataService::kMaximumBodySize) {
        return bodyTooLargeError();
    }
    return std::move(exchange.body);
}

// One plain GET. Everything it uses is passed by value: the service may be gone on resumption.
QCoro::Task<Result<QByteArray>> fetch(QUrl url, Endpoint endpoint, std::stop_token stop)
{
    if (stop.stop_requested()) {
        co_return cancelledError();
    }
    if (!endpoint.session) {
        co_return sessionClosedError();
    }
    QNetworkRequest request(url);
    const auto timeout =
        std::clamp<Milliseconds::rep>(endpoint.transferTimeout.count(), 1, std::numeric_limits<int>::max());
    request.setTransferTimeout(static_cast<int>(timeout));

    const ReplyHandle handle(endpoint.session->get(request));
    const QPointer<QNetworkReply> reply = handle.get();
    // The manager fetches no further ahead than this while the body is not taken out.
    reply->setReadBufferSize(kReadBufferSize);
    const auto exchange = std::make_shared<Exchange>();
    watch(reply, exchange);

    co_await exchange->finished->wait(stop);

    if (!reply) {
        co_return sessionClosedError();
    }
    if (!reply->isFinished()) {
        // The only other way out of the wait: the caller stopped us.
        reply->abort();
    }
    co_return outcome(*reply, *exchange, stop.stop_requested());
}

QString encodedPathJoining(const QUrl& baseURL, QLatin1StringView path)
{
    QString basePath = baseURL.path(QUrl::FullyEncoded);
    while (basePath.endsWith(QLatin1Char('/'))) {
        basePath.chop(1);
    }
    return basePath + path;
}

QUrl endpointURL(const QUrl& baseURL, QLatin1StringView path, const QByteArray& encodedQuery)
{
    QUrl url = baseURL;
    url.setPath(encodedPathJoining(baseURL, path), QUrl::TolerantMode);
    url.setQuery(QString::fromLatin1(encodedQuery), QUrl::TolerantMode);
    url.setFragment(QString());
    return url;
}

std::optional<QUrl> logoURL(const std::optional<QString>& text)
{
    if (!text || text->isEmpty()) {
        return std::nullopt;
    }
    QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) {
        return std::nullopt;
    }
    return url;
}

// Reads the members both records share; the caller adds the numbers of a quote.
TokenSummary readIdentity(JsonReader& item)
{
    TokenSummary token;
    const QString id = item.string(QStringLiteral("id"));
    const QString symbol = item.string(QStringLiteral("symbol"));
    token.name = item.string(QStringLiteral("name"));
    token.logoURL = logoURL(item.optionalString(QStringLiteral("logoUrl")));
    token.id = id.toUpper();
    token.symbol = symbol.toUpper();
    token.iconSeed = symbol.toLower();
    return token;
}

template <typename ReadItem> Result<QList<TokenSummary>> decodeData(const QByteArray& body, ReadItem readItem)
{
    const Result<QJsonObject> root = parseJsonObject(body);
    if (!root) {
        return root.error();
    }
    JsonReader reader(root.value(), QString());
    const QJsonArray data = reader.array(QStringLiteral("data"));
    if (!reader.ok()) {
        return reader.error();
    }
    QList<TokenSummary> tokens;
    tokens.reserve(data.size());
    for (qsizetype i = 0; i < data.size(); ++i) {
        const QJsonValue value = data.at(i);
        const auto path = [i] { return QStringLiteral("data[%1]").arg(i); };
        if (!value.isObject()) {
            reader.fail(path(), translated("expected an object"));
            return reader.error();
        }
        const QJsonObject object = value.toObject();
        JsonReader item(object, QString());
        TokenSummary token = readItem(item);
        if (!item.ok()) {
            // Read once more under the item's path, only to name it in the message; formatting
            // the path for every item would cost more than the rest of the happy path's strings.
            JsonReader named(object, path());
            readItem(named);
            return named.error();
        }
        tokens.append(std::move(token));
    }
    return tokens;
}

// Blank input answers at once, without a request.
QCoro::Task<QList<TokenSummary>> noTokens()
{
    co_return QList<TokenSummary>{};
}

QCoro::Task<Result<QList<TokenSummary>>> noQuotes()
{
    co_return QList<TokenSummary>{};
}

QCoro::Task<QList<TokenSummary>> runSearch(QUrl url, Endpoint endpoint, std::shared_ptr<MockMarketDataService> fallback,
                                           QString query, std::stop_token stop)
{
    const Result<QByteArray> body = co_await fetch(std::move(url), std::move(endpoint), stop);
    if (body) {
        Result<QList<TokenSummary>> tokens = ZentrowAPIMarketDataService::decodeSearch(body.value());
        if (tokens) {
            co_return std::move(tokens).value();
        }
    }
    // The fallback trims again; a stopped token only cuts its wait short. Its catalogue's
    // prices are fixed samples: added to the watchlist they would stand in the status item as
    // if live for as long as the backend is away, so they go, as in the backend's own results.
    QList<TokenSummary> tokens = co_await fallback->search(std::move(query), std::move(stop));
    for (TokenSummary& token : tokens) {
        token.price = 0;
        token.change24h = 0;
        token.trend7d.clear();
    }
    co_return tokens;
}

QCoro::Task<Result<QList<TokenSummary>>> runQuotes(QUrl url, Endpoint endpoint, std::stop_token stop)
{
    const Result<QByteArray> body = co_await fetch(std::move(url), std::move(endpoint), std::move(stop));
    if (!body) {
        co_return body.error();
    }
    co_return ZentrowAPIMarketDataService::decodeQuotes(body.value());
}

} // namespace

ZentrowAPIMarketDataService::ZentrowAPIMarketDataService(QUrl baseURL, QNetworkAccessManager* session,
                                                         std::shared_ptr<MockMarketDataService> fallback,
                                                         std::chrono::milliseconds transferTimeout)
    : m_baseURL(std::move(baseURL))
    , m_session(session)
    , m_fallback(std::move(fallback))
    , m_transferTimeout(transferTimeout)
{
    if (!m_fallback) {
        m_fallback = std::make_shared<MockMarketDataService>();
    }
}

std::optional<QUrl> ZentrowAPIMarketDataService::searchURL(const QUrl& baseURL, const QString& query)
{
    const QString text = query.trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    // Escaped once: every UTF-8 byte outside A-Z a-z 0-9 - . _ ~ becomes %XX (a space is %20,
    // "+" is %2B), which any standard query decoder, our backend's included, turns back into
    // the text as typed.
    return endpointURL(baseURL, QLatin1StringView("/api/search"), "q=" + QUrl::toPercentEncoding(text));
}

std::optional<QUrl> ZentrowAPIMarketDataService::quotesURL(const QUrl& baseURL, const QList<QString>& ids)
{
    QStringList wanted;
    wanted.reserve(ids.size());
    for (const QString& id : ids) {
        QString upper = id.toUpper();
        if (!upper.isEmpty()) {
            wanted.append(std::move(upper));
        }
    }
    if (wanted.isEmpty()) {
        return std::nullopt;
    }
    // The separating commas stay as they are; anything else unusual in an id is escaped so
    // that it cannot end the value early.
    return endpointURL(baseURL, QLatin1StringView("/api/quotes"),
                       "ids=" + QUrl::toPercentEncoding(wanted.join(QLatin1Char(',')), ","));
}

Result<QList<TokenSummary>> ZentrowAPIMarketDataService::decodeSearch(const QByteArray& body)
{
    return decodeData(body, [](JsonReader& item) { return readIdentity(item); });
}

Result<QList<TokenSummary>> ZentrowAPIMarketDataService::decodeQuotes(const QByteArray& body)
{
    return decodeData(body, [](JsonReader& item) {
        TokenSummary token = readIdentity(item);
        token.price = item.number(QStringLiteral("price"));
        token.change24h = item.number(QStringLiteral("change24h"));
        token.trend7d = item.numberArray(QStringLiteral("trend7d"));
        TokenSummary::readMarketFigures(item, token);
        return token;
    });
}

QCoro::Task<QList<TokenSummary>> ZentrowAPIMarketDataService::search(QString query, std::stop_token stop)
{
    std::optional<QUrl> url = searchURL(m_baseURL, query);
    if (!url) {
        return noTokens();
    }
    return runSearch(std::move(*url), Endpoint{m_session, m_transferTimeout}, m_fallback, std::move(query),
                     std::move(stop));
}

QCoro::Task<Result<QList<TokenSummary>>> ZentrowAPIMarketDataService::refreshWatchlist(QList<QString> ids,
                                                                                       std::stop_token stop)
{
    std::optional<QUrl> url = quotesURL(m_baseURL, ids);
    if (!url) {
        return noQuotes();
    }
    return runQuotes(std::move(*url), Endpoint{m_session, m_transferTimeout}, std::move(stop));
}
