#include "services/MockMarketDataService.h"

MockMarketDataService::MockMarketDataService(std::shared_ptr<Sleeper> sleeper)
    : m_sleeper(std::move(sleeper))
{
}

QList<TokenSummary> MockMarketDataService::matches(const QString& query)
{
    const QString text = query.trimmed();
    QList<TokenSummary> found;
    if (text.isEmpty()) {
        return found;
    }
    for (const TokenSummary& token : TokenSummary::fallbackCatalog()) {
        if (token.symbol.contains(text, Qt::CaseInsensitive) || token.name.contains(text, Qt::CaseInsensitive)) {
            found.append(token);
        }
    }
    return found;
}

QCoro::Task<QList<TokenSummary>> MockMarketDataService::search(QString query, std::stop_token stop)
{
    if (query.trimmed().isEmpty()) {
        co_return QList<TokenSummary>{};
    }
    // The frame keeps its own reference: the service may be gone when the wait ends.
    const auto sleeper = m_sleeper;
    co_await sleeper->sleep(kSearchDelay, std::move(stop));
    co_return matches(query);
}

QCoro::Task<Result<QList<TokenSummary>>> MockMarketDataService::refreshWatchlist(QList<QString> ids,
                                                                                 std::stop_token stop)
{
    const auto sleeper = m_sleeper;
    co_await sleeper->sleep(kQuotesDelay, std::move(stop));
    QList<TokenSummary> result;
    const auto& catalog = TokenSummary::fallbackCatalog();
    for (const QString& id : ids) {
        const QString wanted = id.toUpper();
        const auto it = std::find_if(catalog.cbegin(), catalog.cend(),
                                     [&wanted](const TokenSummary& token) { return token.id == wanted; });
        if (it != catalog.cend()) {
            result.append(*it);
        }
    }
    co_return result;
}
