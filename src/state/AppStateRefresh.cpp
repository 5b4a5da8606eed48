#include "state/AppState.h"

#include <QDateTime>
#include <QMetaObject>
#include <QPointer>
#include <QSet>

#include <cmath>
#include <utility>

std::chrono::milliseconds AppState::refreshWait(double refreshInterval)
{
    using std::chrono::milliseconds;
    // A stored interval that is not a number falls back to the default; one beyond a day (or
    // infinite) is clamped so the timer never overflows.
    const double seconds = std::isnan(refreshInterval) ? AppPreferences().refreshInterval : refreshInterval;
    const double minimum = std::chrono::duration<double>(kMinimumRefreshInterval).count();
    const double maximum = std::chrono::duration<double>(kMaximumRefreshInterval).count();
    return milliseconds(std::llround(std::clamp(seconds, minimum, maximum) * 1000.0));
}

void AppState::startRefreshLoop()
{
    m_refreshLoopTask.request_stop();
    m_refreshLoopTask = std::stop_source();
    QMetaObject::invokeMethod(
        this, [this, stop = m_refreshLoopTask.get_token()] { runRefreshLoop(stop); }, Qt::QueuedConnection);
}

void AppState::startDetachedRefresh()
{
    QMetaObject::invokeMethod(
        this, [this] { performRefresh(false); }, Qt::QueuedConnection);
}

void AppState::refreshAfterWake()
{
    // The loop's timer may have stood still through a sleep; its wait starts afresh below.
    m_refreshLoopTask.request_stop();
    QMetaObject::invokeMethod(
        this, [this] { runWakeRefresh(); }, Qt::QueuedConnection);
}

QCoro::Task<> AppState::runWakeRefresh()
{
    const QPointer<AppState> self(this);
    co_await performRefresh(false);
    if (self) {
        self->startRefreshLoop();
    }
}

QCoro::Task<> AppState::runStartupRefresh()
{
    const QPointer<AppState> self(this);
    const auto sleeper = m_sleeper;
    const std::stop_token stop = m_lifetime.get_token();
    co_await performRefresh(false);
    for (const std::chrono::milliseconds wait : kStartupRetryWaits) {
        // Untracked like the first attempt: a late network is no reason for a banner.
        if (!self || self->m_lastQuotesUpdate.isValid()) {
            co_return;
        }
        co_await sleeper->sleep(std::min(wait, refreshWait(self->m_preferences.refreshInterval)), stop);
        if (!self || stop.stop_requested() || self->m_lastQuotesUpdate.isValid()) {
            co_return;
        }
        co_await self->performRefresh(false);
    }
}

QCoro::Task<> AppState::runRefreshLoop(std::stop_token stop)
{
    const QPointer<AppState> self(this);
    const auto sleeper = m_sleeper;
    while (!stop.stop_requested()) {
        // Read every time, so a changed interval counts from the next wait on.
        co_await sleeper->sleep(refreshWait(self->m_preferences.refreshInterval), stop);
        if (!self || stop.stop_requested()) {
            co_return;
        }
        co_await self->performRefresh(true);
        if (!self) {
            co_return;
        }
    }
}

QCoro::Task<> AppState::performRefresh(bool tracksNetworkHealth)
{
    if (m_isRefreshingWatchlist) {
        co_return;
    }
    setIsRefreshingWatchlist(true);

    QList<QString> ids;
    ids.reserve(m_watchlistEntries.size());
    for (const WatchlistEntry& entry : m_watchlistEntries) {
        ids.append(entry.tokenID.toUpper());
    }

    const QPointer<AppState> self(this);
    // A refresh whose loop was restarted finishes normally; only our own end cancels it.
    const auto service = m_marketDataService;
    const auto result = co_await service->refreshWatchlist(std::move(ids), m_lifetime.get_token());
    if (!self) {
        co_return;
    }

    if (result.ok()) {
        mergeSnapshots(result.value());
        markQuotesUpdated();
        // Only what the market just said: never a search record or a row's stand-in.
        m_priceAlerts->evaluate(result.value());
        if (tracksNetworkHealth) {
            handlePeriodicRefreshSuccess();
        }
    } else if (tracksNetworkHealth) {
        handlePeriodicRefreshFailure(result.error());
    }
    setIsRefreshingWatchlist(false);
}

void AppState::mergeSnapshots(const QList<TokenSummary>& tokens)
{
    willChange();
    // What changed, token by token, so the rows hear only of the figures they show anew.
    QSet<QString> changedIDs;
    bool priceChanged = false;
    bool changeChanged = false;
    bool symbolChanged = false;
    // With two records for one id, the later one wins.
    for (const TokenSummary& token : tokens) {
        const QString key = token.id.toUpper();
        const TokenSummary before = displayedToken(key);
        const bool known = m_tokenSnapshots.contains(key);
        m_tokenSnapshots.insert(key, token);
        if (known && before == token) {
            continue;
        }
        changedIDs.insert(key);
        priceChanged = priceChanged || !known || before.price != token.price;
        changeChanged = changeChanged || !known || before.change24h != token.change24h;
        symbolChanged = symbolChanged || before.symbol != token.symbol;
    }
    int first = -1;
    int last = -1;
    for (qsizetype i = 0; i < m_watchlistEntries.size(); ++i) {
        if (changedIDs.contains(m_watchlistEntries.at(i).tokenID)) {
            first = first < 0 ? int(i) : first;
            last = int(i);
        }
    }
    if (first < 0) {
        return;
    }
    QList<int> roles{WatchlistModel::TokenRole};
    if (priceChanged) {
        roles.append(WatchlistModel::PriceTextRole);
    }
    if (changeChanged) {
        roles.append(WatchlistModel::ChangeTextRole);
    }
    if (symbolChanged) {
        roles.append(Qt::DisplayRole);
    }
    // One signal over the changed rows: a refresh usually moves most of them.
    Q_EMIT m_watchlistModel->dataChanged(m_watchlistModel->index(first), m_watchlistModel->index(last), roles);
}

void AppState::handlePeriodicRefreshSuccess()
{
    m_consecutivePeriodicFailures = 0;
    ++m_consecutivePeriodicSuccesses;
    if (m_refreshErrorBanner && m_consecutivePeriodicSuccesses >= kBannerThreshold) {
        setRefreshErrorBanner(std::nullopt);
        setIsRefreshErrorExpanded(false);
    }
}

void AppState::handlePeriodicRefreshFailure(const Error& error)
{
    m_consecutivePeriodicSuccesses = 0;
    ++m_consecutivePeriodicFailures;
    const QString message = fullErrorMessage(error);
    if (m_consecutivePeriodicFailures >= kBannerThreshold) {
        setRefreshErrorBanner(RefreshErrorBannerState{message, QDateTime::currentDateTime()});
    }
}

QString AppState::fullErrorMessage(const Error& error)
{
    const auto& reason = error.localizedFailureReason();
    const auto& suggestion = error.localizedRecoverySuggestion();
    if (!reason && !suggestion) {
        return error.localizedDescription();
    }
    QStringList lines{error.localizedDescription()};
    if (reason) {
        lines.append(*reason);
    }
    if (suggestion) {
        lines.append(*suggestion);
    }
    return lines.join(QLatin1Char('\n'));
}

void AppState::toggleRefreshErrorExpanded()
{
    setIsRefreshErrorExpanded(!m_isRefreshErrorExpanded);
}

void AppState::setIsRefreshingWatchlist(bool value)
{
    willChange();
    m_isRefreshingWatchlist = value;
}

void AppState::setRefreshErrorBanner(const std::optional<RefreshErrorBannerState>& banner)
{
    willChange();
    if (std::exchange(m_refreshErrorBanner, banner) != banner) {
        Q_EMIT refreshErrorBannerChanged();
    }
}

void AppState::setIsRefreshErrorExpanded(bool value)
{
    willChange();
    if (std::exchange(m_isRefreshErrorExpanded, value) != value) {
        Q_EMIT refreshErrorBannerChanged();
    }
}
