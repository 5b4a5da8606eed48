#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MarketCache.h"

#include <QCoroTask>

#include <QHash>

#include <memory>

// The two routes the app calls, GET /api/search?q= and GET /api/quotes?ids=, answering
// {"data": [...]} with the records the app reads. Every answer that holds data is cacheable for
// as long as its data stays fresh and carries an ETag.
class ApiService {
public:
    static constexpr qsizetype kMaxIds = 200;
    static constexpr qsizetype kMaxQueryLength = 100; // characters of the trimmed search text
    static constexpr qsizetype kMaxResults = 50;

    explicit ApiService(std::shared_ptr<MarketCache> cache);

    QCoro::Task<HttpResponse> handle(HttpRequest request);

    // Quotes answers kept for their query as sent, while fresh and while the cache holds the
    // data they were built from: a repeated request costs one lookup, no hashing of the body.
    static constexpr qsizetype kMaxKeptAnswers = 256;

private:
    struct KeptAnswer {
        QByteArray body;
        QByteArray etag;
        SteadyTime freshUntil{};
        SteadyTime usableUntil{};
        quint64 version = 0;
    };
    using KeptAnswers = QHash<QByteArray, KeptAnswer>;

    static QCoro::Task<HttpResponse> search(std::shared_ptr<MarketCache> cache, QString text);
    static QCoro::Task<HttpResponse> quotes(std::shared_ptr<MarketCache> cache, std::shared_ptr<KeptAnswers> kept,
                                            QByteArray query, QStringList ids);
    static QCoro::Task<HttpResponse> answer(HttpResponse response);
    static void keep(KeptAnswers& kept, const QByteArray& query, const HttpResponse& response,
                     const MarketCache::QuotesView& view, quint64 version);

    std::shared_ptr<MarketCache> m_cache;
    std::shared_ptr<KeptAnswers> m_kept = std::make_shared<KeptAnswers>();
};
