#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MarketCache.h"

#include <QCoroTask>

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

private:
    static QCoro::Task<HttpResponse> search(std::shared_ptr<MarketCache> cache, QString text);
    static QCoro::Task<HttpResponse> quotes(std::shared_ptr<MarketCache> cache, QStringList ids);
    static QCoro::Task<HttpResponse> answer(HttpResponse response);

    std::shared_ptr<MarketCache> m_cache;
};
