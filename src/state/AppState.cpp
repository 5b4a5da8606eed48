#include "state/AppState.h"

#include <QMetaObject>

#include <algorithm>

AppState::AppState(std::shared_ptr<MarketDataServing> marketDataService, std::shared_ptr<LocalStore> localStore,
                   std::shared_ptr<Sleeper> sleeper, QObject* parent)
    : QObject(parent)
    , m_marketDataService(std::move(marketDataService))
    , m_localStore(std::move(localStore))
    , m_sleeper(std::move(sleeper))
{
    StoredState stored = m_localStore->load();
    for (WatchlistEntry& entry : stored.watchlist) {
        entry.tokenID = entry.tokenID.toUpper();
    }
    std::stable_sort(stored.watchlist.begin(), stored.watchlist.end(),
                     [](const WatchlistEntry& a, const WatchlistEntry& b) { return a.displayOrder < b.displayOrder; });
    m_watchlistEntries = std::move(stored.watchlist);
    m_preferences = stored.preferences;

    QMetaObject::invokeMethod(
        this, [this] { runStartupRefresh(); }, Qt::QueuedConnection);
    startRefreshLoop();
}

AppState::~AppState()
{
    // Suspended tasks wake up, find us gone through their guards and end without touching us.
    m_searchTask.request_stop();
    m_refreshLoopTask.request_stop();
    m_lifetime.request_stop();
}

void AppState::willChange(Field field)
{
    Q_EMIT objectWillChange();
    Q_EMIT fieldWillChange(field);
}

void AppState::setPreferences(const AppPreferences& preferences)
{
    willChange(Field::Preferences);
    m_preferences = preferences;
}

void AppState::setSearchQuery(const QString& query)
{
    willChange(Field::SearchQuery);
    m_searchQuery = query;
}

void AppState::markQuotesUpdated()
{
    m_lastQuotesUpdate = QDateTime::currentDateTime();
    Q_EMIT lastQuotesUpdateChanged();
}

void AppState::setIsSearchPresented(bool presented)
{
    willChange(Field::IsSearchPresented);
    m_isSearchPresented = presented;
}

void AppState::setSelectedTokenID(const std::optional<QString>& tokenID)
{
    willChange(Field::SelectedTokenID);
    m_selectedTokenID = tokenID;
}

void AppState::setExpandedTokenID(const std::optional<QString>& tokenID)
{
    willChange(Field::ExpandedTokenID);
    m_expandedTokenID = tokenID;
}

QList<TokenSummary> AppState::watchlist() const
{
    QList<TokenSummary> tokens;
    tokens.reserve(m_watchlistEntries.size());
    for (const WatchlistEntry& entry : m_watchlistEntries) {
        const auto it = m_tokenSnapshots.constFind(entry.tokenID);
        if (it != m_tokenSnapshots.constEnd()) {
            tokens.append(*it);
            continue;
        }
        // No quote yet, or none any more (a delisted token): the entry still needs a row, or it
        // could never be removed. Price 0 and no trend read as "--" and an empty chart.
        TokenSummary placeholder;
        placeholder.id = entry.tokenID;
        placeholder.symbol = entry.tokenID;
        placeholder.iconSeed = entry.tokenID.toLower();
        tokens.append(std::move(placeholder));
    }
    return tokens;
}

const TokenSummary* AppState::firstWatchlistToken() const
{
    for (const WatchlistEntry& entry : m_watchlistEntries) {
        const auto it = m_tokenSnapshots.constFind(entry.tokenID);
        if (it != m_tokenSnapshots.constEnd()) {
            return &*it;
        }
    }
    return nullptr;
}

void AppState::addToken(const TokenSummary& token)
{
    const QString tokenID = token.id.toUpper();
    const bool listed = std::any_of(m_watchlistEntries.cbegin(), m_watchlistEntries.cend(),
                                    [&tokenID](const WatchlistEntry& entry) { return entry.tokenID == tokenID; });
    if (listed) {
        return;
    }
    willChange(Field::TokenSnapshots);
    m_tokenSnapshots.insert(tokenID, token);

    const auto count = m_watchlistEntries.size();
    willChange(Field::WatchlistEntries);
    m_watchlistEntries.append(WatchlistEntry{WatchlistEntry::makeID(), tokenID, count == 0, true, count});

    persist();
    startDetachedRefresh();
}

void AppState::removeToken(const QString& tokenID)
{
    const QString normalized = tokenID.toUpper();
    willChange(Field::WatchlistEntries);
    m_watchlistEntries.removeIf([&normalized](const WatchlistEntry& entry) { return entry.tokenID == normalized; });

    willChange(Field::TokenSnapshots);
    m_tokenSnapshots.remove(normalized);

    if (m_selectedTokenID && *m_selectedTokenID == normalized) {
        const TokenSummary* first = firstWatchlistToken();
        setSelectedTokenID(first ? std::optional<QString>(first->id) : std::nullopt);
    }
    if (m_expandedTokenID && *m_expandedTokenID == normalized) {
        setExpandedTokenID(std::nullopt);
    }
    const bool anyPinned = std::any_of(m_watchlistEntries.cbegin(), m_watchlistEntries.cend(),
                                       [](const WatchlistEntry& entry) { return entry.isPinnedToMenuBar; });
    if (!anyPinned && !m_watchlistEntries.isEmpty()) {
        willChange(Field::WatchlistEntries);
        m_watchlistEntries.first().isPinnedToMenuBar = true;
    }
    persist();
}

void AppState::pinToMenuBar(const QString& tokenID)
{
    const QString normalized = tokenID.toUpper();
    for (WatchlistEntry& entry : m_watchlistEntries) {
        willChange(Field::WatchlistEntries);
        entry.isPinnedToMenuBar = entry.tokenID == normalized;
    }
    persist();
}

void AppState::moveTokenToTop(const QString& tokenID)
{
    const QString normalized = tokenID.toUpper();
    const auto it = std::find_if(m_watchlistEntries.cbegin(), m_watchlistEntries.cend(),
                                 [&normalized](const WatchlistEntry& entry) { return entry.tokenID == normalized; });
    if (it == m_watchlistEntries.cend()) {
        return;
    }
    const auto position = std::distance(m_watchlistEntries.cbegin(), it);
    willChange(Field::WatchlistEntries);
    WatchlistEntry entry = m_watchlistEntries.takeAt(position);
    willChange(Field::WatchlistEntries);
    m_watchlistEntries.prepend(std::move(entry));
    persist();
}

void AppState::toggleExpandedToken(const QString& tokenID)
{
    const QString normalized = tokenID.toUpper();
    // The views animate the change; the state only records it.
    setExpandedTokenID(m_expandedTokenID == normalized ? std::nullopt : std::optional<QString>(normalized));
}

void AppState::persist()
{
    for (qsizetype i = 0; i < m_watchlistEntries.size(); ++i) {
        willChange(Field::WatchlistEntries);
        m_watchlistEntries[i].displayOrder = i;
    }
    m_localStore->save(StoredState{m_watchlistEntries, m_preferences});
}
