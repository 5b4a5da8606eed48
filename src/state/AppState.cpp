#include "state/AppState.h"

#include <QMetaObject>
#include <QScopedValueRollback>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <utility>

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
    m_watchlistModel = new WatchlistModel(*this, this);
    m_priceAlerts = new PriceAlerts(*this);
    m_priceAlerts->restore(stored.priceAlertsEnabled, std::move(stored.priceAlerts));
    m_alertMarks = m_priceAlerts->marks();
    connect(m_priceAlerts, &PriceAlerts::changed, this, &AppState::priceAlertsChanged);

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

void AppState::setPreferences(const AppPreferences& preferences)
{
    willChange();
    applyPreferences(preferences);
}

void AppState::applyPreferences(const AppPreferences& preferences)
{
    if (preferences.sameAs(m_preferences)) {
        m_preferences = preferences;
        return;
    }
    const AppPreferences before = std::exchange(m_preferences, preferences);
    // Bitwise, so that a NaN stored over a NaN counts as no change.
    if (std::bit_cast<quint64>(before.refreshInterval) != std::bit_cast<quint64>(preferences.refreshInterval)) {
        Q_EMIT refreshIntervalChanged(preferences.refreshInterval);
    }
    if (before.showsMenuBarSymbol != preferences.showsMenuBarSymbol) {
        Q_EMIT showsMenuBarSymbolChanged(preferences.showsMenuBarSymbol);
    }
    if (before.showsMenuBarChange != preferences.showsMenuBarChange) {
        Q_EMIT showsMenuBarChangeChanged(preferences.showsMenuBarChange);
    }
    if (before.showsLayoutDebugOutlines != preferences.showsLayoutDebugOutlines) {
        Q_EMIT showsLayoutDebugOutlinesChanged(preferences.showsLayoutDebugOutlines);
    }
    if (before.launchesAtLogin != preferences.launchesAtLogin) {
        Q_EMIT launchesAtLoginChanged(preferences.launchesAtLogin);
    }
    Q_EMIT preferencesChanged(m_preferences);
    // Only a different wait needs a new loop; the loop reads the interval before every wait.
    if (refreshWait(before.refreshInterval) != refreshWait(m_preferences.refreshInterval)) {
        startRefreshLoop();
    }
}

void AppState::storePreferences(AppPreferences preferences)
{
    // An interval that is not a finite number cannot be stored, which would drop this change
    // silently; store the interval the loop already uses instead.
    if (!std::isfinite(preferences.refreshInterval)) {
        preferences.refreshInterval = std::chrono::duration<double>(refreshWait(preferences.refreshInterval)).count();
    }
    if (preferences.sameAs(m_preferences)) {
        return;
    }
    willChange();
    applyPreferences(preferences);
    renumberAndSave();
}

void AppState::setRefreshInterval(double seconds)
{
    storePreference(&AppPreferences::refreshInterval, seconds);
}

void AppState::setShowsMenuBarSymbol(bool shows)
{
    storePreference(&AppPreferences::showsMenuBarSymbol, shows);
}

void AppState::setShowsMenuBarChange(bool shows)
{
    storePreference(&AppPreferences::showsMenuBarChange, shows);
}

void AppState::setShowsLayoutDebugOutlines(bool shows)
{
    storePreference(&AppPreferences::showsLayoutDebugOutlines, shows);
}

void AppState::setLaunchesAtLogin(bool launches)
{
    storePreference(&AppPreferences::launchesAtLogin, launches);
}

void AppState::setSearchQuery(const QString& query)
{
    willChange();
    if (std::exchange(m_searchQuery, query) != query) {
        Q_EMIT searchQueryChanged();
    }
}

void AppState::markQuotesUpdated()
{
    m_lastQuotesUpdate = QDateTime::currentDateTime();
    Q_EMIT lastQuotesUpdateChanged();
}

void AppState::setIsSearchPresented(bool presented)
{
    willChange();
    if (std::exchange(m_isSearchPresented, presented) != presented) {
        Q_EMIT isSearchPresentedChanged();
    }
}

void AppState::setExpandedTokenID(const std::optional<QString>& tokenID)
{
    if (tokenID == m_expandedTokenID) {
        return;
    }
    willChange();
    const std::optional<QString> previous = std::exchange(m_expandedTokenID, tokenID);
    QList<int> rows;
    for (qsizetype i = 0; i < m_watchlistEntries.size(); ++i) {
        const QString& id = m_watchlistEntries.at(i).tokenID;
        if (id == previous || id == tokenID) {
            rows.append(int(i));
        }
    }
    m_watchlistModel->rowsChanged(rows, {WatchlistModel::IsExpandedRole});
}

TokenSummary AppState::displayedToken(const QString& tokenID) const
{
    const auto it = m_tokenSnapshots.constFind(tokenID);
    if (it != m_tokenSnapshots.constEnd()) {
        return *it;
    }
    // No quote yet, or none any more (a delisted token): the entry still needs a row, or it
    // could never be removed. Price 0 and no trend read as "--" and an empty chart.
    TokenSummary placeholder;
    placeholder.id = tokenID;
    placeholder.symbol = tokenID;
    placeholder.iconSeed = tokenID.toLower();
    return placeholder;
}

QList<TokenSummary> AppState::watchlist() const
{
    QList<TokenSummary> tokens;
    tokens.reserve(m_watchlistEntries.size());
    for (const WatchlistEntry& entry : m_watchlistEntries) {
        tokens.append(displayedToken(entry.tokenID));
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
    willChange();
    m_tokenSnapshots.insert(tokenID, token);

    const auto count = m_watchlistEntries.size();
    m_watchlistModel->beginInsertRows(QModelIndex(), int(count), int(count));
    m_watchlistEntries.append(WatchlistEntry{WatchlistEntry::makeID(), tokenID, count == 0, true, count});
    m_watchlistModel->endInsertRows();

    renumberAndSave();
    startDetachedRefresh();
}

void AppState::removeToken(const QString& tokenID)
{
    const QString normalized = tokenID.toUpper();
    willChange();
    // From the end, one run of neighbouring entries at a time, so each removal names its rows.
    for (qsizetype last = m_watchlistEntries.size() - 1; last >= 0; --last) {
        if (m_watchlistEntries.at(last).tokenID != normalized) {
            continue;
        }
        qsizetype first = last;
        while (first > 0 && m_watchlistEntries.at(first - 1).tokenID == normalized) {
            --first;
        }
        m_watchlistModel->beginRemoveRows(QModelIndex(), int(first), int(last));
        m_watchlistEntries.remove(first, last - first + 1);
        m_watchlistModel->endRemoveRows();
        last = first;
    }
    m_tokenSnapshots.remove(normalized);
    {
        // Stored below with the watchlist, in the same write.
        const QScopedValueRollback deferring(m_savesAlertsWithWatchlist, true);
        m_priceAlerts->dropTokens({normalized});
    }

    if (m_expandedTokenID && *m_expandedTokenID == normalized) {
        // Its rows are gone; nothing else showed it.
        m_expandedTokenID.reset();
    }
    const bool anyPinned = std::any_of(m_watchlistEntries.cbegin(), m_watchlistEntries.cend(),
                                       [](const WatchlistEntry& entry) { return entry.isPinnedToMenuBar; });
    if (!anyPinned && !m_watchlistEntries.isEmpty()) {
        m_watchlistEntries.first().isPinnedToMenuBar = true;
        m_watchlistModel->rowsChanged({0}, {WatchlistModel::IsPinnedRole});
    }
    renumberAndSave();
}

void AppState::pinToMenuBar(const QString& tokenID)
{
    const QString normalized = tokenID.toUpper();
    willChange();
    QList<int> changed;
    for (qsizetype i = 0; i < m_watchlistEntries.size(); ++i) {
        WatchlistEntry& entry = m_watchlistEntries[i];
        const bool pinned = entry.tokenID == normalized;
        if (entry.isPinnedToMenuBar != pinned) {
            entry.isPinnedToMenuBar = pinned;
            changed.append(int(i));
        }
    }
    m_watchlistModel->rowsChanged(changed, {WatchlistModel::IsPinnedRole});
    renumberAndSave();
}

void AppState::moveTokenToTop(const QString& tokenID)
{
    const QString normalized = tokenID.toUpper();
    const auto it = std::find_if(m_watchlistEntries.cbegin(), m_watchlistEntries.cend(),
                                 [&normalized](const WatchlistEntry& entry) { return entry.tokenID == normalized; });
    if (it == m_watchlistEntries.cend()) {
        return;
    }
    const int position = int(std::distance(m_watchlistEntries.cbegin(), it));
    willChange();
    if (position > 0) {
        m_watchlistModel->beginMoveRows(QModelIndex(), position, position, QModelIndex(), 0);
        m_watchlistEntries.move(position, 0);
        m_watchlistModel->endMoveRows();
    }
    renumberAndSave();
}

void AppState::toggleExpandedToken(const QString& tokenID)
{
    const QString normalized = tokenID.toUpper();
    // The views animate the change; the state only records it.
    setExpandedTokenID(m_expandedTokenID == normalized ? std::nullopt : std::optional<QString>(normalized));
    // The row's detail panel lists the alerts: whatever fired has now been seen.
    m_priceAlerts->markSeen(normalized);
}

void AppState::persist()
{
    willChange();
    renumberAndSave();
}

void AppState::renumberAndSave()
{
    // displayOrder is no role of the model: rows already stand in list order.
    for (qsizetype i = 0; i < m_watchlistEntries.size(); ++i) {
        m_watchlistEntries[i].displayOrder = i;
    }
    m_localStore->save(StoredState{.watchlist = m_watchlistEntries,
                                   .preferences = m_preferences,
                                   .priceAlertsEnabled = m_priceAlerts->isEnabled(),
                                   .priceAlerts = m_priceAlerts->alerts()});
}

void AppState::priceAlertsChanged()
{
    if (!m_savesAlertsWithWatchlist) {
        renumberAndSave();
    }
    // The bells of the rows whose mark is now different; one pass over the alerts.
    QHash<QString, PriceAlerts::Mark> marks = m_priceAlerts->marks();
    QList<int> rows;
    for (qsizetype i = 0; i < m_watchlistEntries.size(); ++i) {
        const QString& tokenID = m_watchlistEntries.at(i).tokenID;
        if (marks.value(tokenID) != m_alertMarks.value(tokenID)) {
            rows.append(int(i));
        }
    }
    m_alertMarks = std::move(marks);
    m_watchlistModel->rowsChanged(rows, {WatchlistModel::AlertMarkRole});
}
