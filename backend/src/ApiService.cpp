#include "ApiService.h"

#include "QueryString.h"

#include <functional>
#include <optional>

namespace {

using std::chrono::seconds;

// Nothing asked, nothing to look up: the answer never changes; an hour is plenty for a cache.
constexpr seconds kEmptyAnswerMaxAge{3600};

HttpResponse emptyAnswer()
{
    HttpResponse response = HttpResponse::json(200, QByteArrayLiteral(R"({"data":[]})"));
    response.setCacheable(kEmptyAnswerMaxAge);
    return response;
}

HttpResponse unavailable(seconds retryAfter)
{
    HttpResponse response =
        HttpResponse::error(503, QStringLiteral("market data are unavailable: the exchange is not answering"));
    response.headers.append(
        {QByteArrayLiteral("Retry-After"), QByteArray::number(static_cast<qint64>(retryAfter.count()))});
    return response;
}

// The one value of a parameter that must appear exactly once.
std::optional<QString> single(const QList<QueryString::Parameter>& parameters, const QString& name, QString* problem)
{
    std::optional<QString> found;
    for (const QueryString::Parameter& parameter : parameters) {
        if (parameter.name != name) {
            continue;
        }
        if (found) {
            *problem = QStringLiteral("\"%1\" is given more than once").arg(name);
            return std::nullopt;
        }
        found = parameter.value;
    }
    if (!found) {
        *problem = QStringLiteral("the query parameter \"%1\" is missing").arg(name);
    }
    return found;
}

// Characters as a person counts them: a surrogate pair is one.
qsizetype codePoints(const QString& text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!(text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())) {
            ++count;
        }
    }
    return count;
}

QByteArray dataBody(qsizetype items, const std::function<void(QByteArray&, qsizetype)>& item)
{
    QByteArray body;
    body.reserve(16 + items * 160);
    body.append(R"({"data":[)");
    for (qsizetype i = 0; i < items; ++i) {
        if (i > 0) {
            body.append(',');
        }
        item(body, i);
    }
    body.append("]}");
    return body;
}

} // namespace

ApiService::ApiService(std::shared_ptr<MarketCache> cache)
    : m_cache(std::move(cache))
{
}

QCoro::Task<HttpResponse> ApiService::handle(HttpRequest request)
{
    const bool isSearch = request.path == "/api/search";
    const bool isQuotes = request.path == "/api/quotes";
    if (!isSearch && !isQuotes) {
        return answer(HttpResponse::error(404, QStringLiteral("no such resource")));
    }
    if (request.method != "GET" && request.method != "HEAD") {
        HttpResponse response = HttpResponse::error(405, QStringLiteral("only GET and HEAD are allowed here"));
        response.headers.append({QByteArrayLiteral("Allow"), QByteArrayLiteral("GET, HEAD")});
        return answer(std::move(response));
    }
    if (isQuotes) {
        const auto kept = m_kept->constFind(request.query);
        if (kept != m_kept->constEnd() && kept->version == m_cache->version()) {
            const SteadyTime now = m_cache->now();
            if (now < kept->freshUntil) {
                HttpResponse response = HttpResponse::json(200, kept->body);
                response.etag = kept->etag;
                const seconds maxAge = MarketCache::secondsUntil(kept->freshUntil, now);
                response.setCacheControl(maxAge, MarketCache::secondsUntil(kept->usableUntil, now) - maxAge);
                return answer(std::move(response));
            }
        }
    }

    QString problem;
    const std::optional<QList<QueryString::Parameter>> parameters = QueryString::parse(request.query, &problem);
    const std::optional<QString> value =
        parameters ? single(*parameters, isSearch ? QStringLiteral("q") : QStringLiteral("ids"), &problem)
                   : std::nullopt;
    if (!value) {
        return answer(HttpResponse::error(400, problem));
    }

    if (isSearch) {
        QString text = value->trimmed();
        if (codePoints(text) > kMaxQueryLength) {
            return answer(HttpResponse::error(
                400, QStringLiteral("the search text is longer than %1 characters").arg(kMaxQueryLength)));
        }
        if (text.isEmpty()) {
            return answer(emptyAnswer());
        }
        return search(m_cache, std::move(text));
    }

    QStringList ids;
    for (const QString& id : value->split(QLatin1Char(','))) {
        QString upper = id.trimmed().toUpper();
        if (!upper.isEmpty()) {
            ids.append(std::move(upper));
        }
    }
    if (ids.size() > kMaxIds) {
        return answer(HttpResponse::error(400, QStringLiteral("at most %1 ids per request").arg(kMaxIds)));
    }
    if (ids.isEmpty()) {
        return answer(emptyAnswer());
    }
    return quotes(m_cache, m_kept, request.query, std::move(ids));
}

QCoro::Task<HttpResponse> ApiService::answer(HttpResponse response)
{
    co_return response;
}

QCoro::Task<HttpResponse> ApiService::search(std::shared_ptr<MarketCache> cache, QString text)
{
    const MarketCache::CatalogueView view = co_await cache->catalogue();
    if (!view.catalogue) {
        co_return unavailable(view.retryAfter);
    }
    const QList<const Asset*> found = view.catalogue->search(text, kMaxResults);
    HttpResponse response = HttpResponse::json(200, dataBody(found.size(), [&found](QByteArray& body, qsizetype i) {
                                                   body.append(found.at(i)->identityJson).append('}');
                                               }));
    response.setCacheable(view.maxAge, view.staleLeft);
    co_return response;
}

void ApiService::keep(KeptAnswers& kept, const QByteArray& query, const HttpResponse& response,
                      const MarketCache::QuotesView& view, quint64 version)
{
    if (kept.size() >= kMaxKeptAnswers) {
        kept.removeIf([version](const KeptAnswers::iterator& it) { return it->version != version; });
        if (kept.size() >= kMaxKeptAnswers) {
            kept.clear();
        }
    }
    kept.insert(query, KeptAnswer{response.body, response.etag, view.freshUntil, view.usableUntil, version});
}

QCoro::Task<HttpResponse> ApiService::quotes(std::shared_ptr<MarketCache> cache, std::shared_ptr<KeptAnswers> kept,
                                             QByteArray query, QStringList ids)
{
    const MarketCache::QuotesView view = co_await cache->quotes(std::move(ids));
    if (!view.catalogue) {
        co_return unavailable(view.retryAfter);
    }
    const QList<MarketCache::Quote>& quotes = view.quotes;
    HttpResponse response = HttpResponse::json(200, dataBody(quotes.size(), [&quotes](QByteArray& body, qsizetype i) {
                                                   const MarketCache::Quote& quote = quotes.at(i);
                                                   body.append(quote.asset->identityJson)
                                                       .append(',')
                                                       .append(quote.numbersJson)
                                                       .append(R"(,"trend7d":)")
                                                       .append(quote.trendJson);
                                                   if (!quote.fineTrendJson.isEmpty()) {
                                                       body.append(R"(,"trend7dFine":)").append(quote.fineTrendJson);
                                                   }
                                                   body.append('}');
                                               }));
    response.setCacheable(view.maxAge, view.staleLeft);
    if (view.complete && view.maxAge.count() > 0 && !view.quotes.isEmpty()) {
        keep(*kept, query, response, view, cache->version());
    }
    co_return response;
}
