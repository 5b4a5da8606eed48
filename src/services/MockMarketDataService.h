#pragma once

#include "services/MarketDataServing.h"
#include "support/Sleeper.h"

#include <chrono>
#include <memory>

// Serves the six built-in tokens after a short fixed wait. The HTTP service's fallback for
// search; it can stand in for the whole service too. Cancellation only cuts the wait short.
class MockMarketDataService final : public MarketDataServing {
public:
    static constexpr std::chrono::milliseconds kSearchDelay{180};
    static constexpr std::chrono::milliseconds kQuotesDelay{140};

    explicit MockMarketDataService(std::shared_ptr<Sleeper> sleeper = systemSleeper());

    QCoro::Task<QList<TokenSummary>> search(QString query, std::stop_token stop = {}) override;
    QCoro::Task<Result<QList<TokenSummary>>> refreshWatchlist(QList<QString> ids, std::stop_token stop = {}) override;

    // The catalogue rows whose symbol, else name, contains the trimmed text, ignoring case.
    static QList<TokenSummary> matches(const QString& query);

private:
    std::shared_ptr<Sleeper> m_sleeper;
};
