#include "testlib/FakeMarketDataService.h"

QCoro::Task<QList<TokenSummary>> FakeMarketDataService::search(QString query, std::stop_token stop)
{
    auto call = std::make_shared<Call>();
    call->query = query;
    m_searchCalls.append(call);
    if (autoSearchAnswer) {
        // A copy: co_return moves from what it is given.
        co_return QList<TokenSummary>(*autoSearchAnswer);
    }
    co_await call->wakeup->wait(stop);
    if (!call->answer) {
        call->stopped = true;
        co_return QList<TokenSummary>{};
    }
    co_return call->answer->ok() ? call->answer->value() : QList<TokenSummary>{};
}

QCoro::Task<Result<QList<TokenSummary>>> FakeMarketDataService::refreshWatchlist(QList<QString> ids,
                                                                                 std::stop_token stop)
{
    auto call = std::make_shared<Call>();
    call->ids = ids;
    m_refreshCalls.append(call);
    if (autoRefreshAnswer) {
        co_return Result<QList<TokenSummary>>(*autoRefreshAnswer);
    }
    co_await call->wakeup->wait(stop);
    if (!call->answer) {
        call->stopped = true;
        co_return cancellationError();
    }
    co_return *call->answer;
}

void FakeMarketDataService::answerRefresh(Result<QList<TokenSummary>> answer)
{
    for (const auto& call : std::as_const(m_refreshCalls)) {
        if (!call->answer && !call->wakeup->isWoken()) {
            call->answer = std::move(answer);
            call->wakeup->wake();
            return;
        }
    }
    qFatal("answerRefresh: no refresh is waiting");
}

void FakeMarketDataService::answerSearch(QList<TokenSummary> answer)
{
    for (const auto& call : std::as_const(m_searchCalls)) {
        if (!call->answer && !call->wakeup->isWoken()) {
            call->answer = Result<QList<TokenSummary>>(std::move(answer));
            call->wakeup->wake();
            return;
        }
    }
    qFatal("answerSearch: no search is waiting");
}

int FakeMarketDataService::waitingRefreshes() const
{
    int count = 0;
    for (const auto& call : m_refreshCalls) {
        count += !call->answer && !call->wakeup->isWoken() ? 1 : 0;
    }
    return count;
}

Error FakeMarketDataService::cancellationError()
{
    return Error(Error::Domain::Transport, 5, QStringLiteral("Operation canceled"));
}

TokenSummary FakeMarketDataService::token(const QString& id, double price, double change, QList<double> trend)
{
    return TokenSummary{
        id,           id.toUpper(), id + QStringLiteral(" Coin"), std::nullopt, price, change, std::move(trend),
        id.toLower(), std::nullopt};
}

QStringList FakeMarketDataService::ids(const QList<TokenSummary>& tokens)
{
    QStringList ids;
    for (const TokenSummary& token : tokens) {
        ids.append(token.id);
    }
    return ids;
}
