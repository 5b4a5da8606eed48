#include "state/AppState.h"

#include <QMetaObject>
#include <QPointer>

#include <utility>

void AppState::runSearch(bool immediate)
{
    const QString query = m_searchQuery;
    m_searchTask.request_stop();
    if (query.trimmed().isEmpty()) {
        setSearchResults({});
        setIsSearching(false);
        return;
    }
    setIsSearching(true);
    m_searchTask = std::stop_source();
    QMetaObject::invokeMethod(
        this, [this, query, immediate, stop = m_searchTask.get_token()] { runSearchTask(query, immediate, stop); },
        Qt::QueuedConnection);
}

QCoro::Task<> AppState::runSearchTask(QString query, bool immediate, std::stop_token stop)
{
    const QPointer<AppState> self(this);
    if (!immediate) {
        const auto sleeper = m_sleeper;
        co_await sleeper->sleep(kSearchDebounce, stop);
    }
    if (!self || stop.stop_requested()) {
        co_return;
    }
    const auto service = m_marketDataService;
    const QList<TokenSummary> results = co_await service->search(query, stop);
    // A search cancelled while the service worked is stale: a newer search or a cleared
    // field owns the list now.
    if (!self || stop.stop_requested()) {
        co_return;
    }
    setSearchResults(results);
    setIsSearching(false);
}

void AppState::resetSearch()
{
    m_searchTask.request_stop();
    setSearchQuery(QString());
    setSearchResults({});
    setIsSearching(false);
}

void AppState::setSearchResults(const QList<TokenSummary>& results)
{
    willChange();
    if (std::exchange(m_searchResults, results) != results) {
        Q_EMIT searchChanged();
    }
}

void AppState::setIsSearching(bool value)
{
    willChange();
    if (std::exchange(m_isSearching, value) != value) {
        Q_EMIT searchChanged();
    }
}
