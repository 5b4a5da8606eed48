#pragma once

#include "services/MarketDataServing.h"
#include "support/Wakeup.h"

#include <QList>

#include <memory>
#include <optional>

// A MarketDataServing whose calls wait until the test answers them, or answer at once with a
// preset result. A stopped call ends at once: searches with an empty list, refreshes with a
// cancellation error.
class FakeMarketDataService final : public MarketDataServing {
public:
    struct Call {
        QString query;      // search
        QList<QString> ids; // refresh
        std::optional<Result<QList<TokenSummary>>> answer;
        std::shared_ptr<Wakeup> wakeup = Wakeup::create();
        bool stopped = false;
    };

    QCoro::Task<QList<TokenSummary>> search(QString query, std::stop_token stop = {}) override;
    QCoro::Task<Result<QList<TokenSummary>>> refreshWatchlist(QList<QString> ids, std::stop_token stop = {}) override;

    // When set, calls answer with this at once instead of waiting.
    std::optional<Result<QList<TokenSummary>>> autoRefreshAnswer;
    std::optional<QList<TokenSummary>> autoSearchAnswer;

    const QList<std::shared_ptr<Call>>& refreshCalls() const { return m_refreshCalls; }
    const QList<std::shared_ptr<Call>>& searchCalls() const { return m_searchCalls; }
    // Answers the oldest unanswered call; it resumes on the next event-loop pass.
    void answerRefresh(Result<QList<TokenSummary>> answer);
    void answerSearch(QList<TokenSummary> answer);
    int waitingRefreshes() const;

    static Error cancellationError();
    static TokenSummary token(const QString& id, double price, double change = 0, QList<double> trend = {});
    // The tokens' ids, in order.
    static QStringList ids(const QList<TokenSummary>& tokens);

private:
    QList<std::shared_ptr<Call>> m_refreshCalls;
    QList<std::shared_ptr<Call>> m_searchCalls;
};
