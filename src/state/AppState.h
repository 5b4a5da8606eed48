#pragma once

#include "model/AppPreferences.h"
#include "model/TokenSummary.h"
#include "model/WatchlistEntry.h"
#include "services/MarketDataServing.h"
#include "state/PriceAlerts.h"
#include "state/RefreshErrorBannerState.h"
#include "state/WatchlistModel.h"
#include "storage/LocalStore.h"
#include "support/Error.h"
#include "support/Sleeper.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>

// The one state object: the watchlist, the latest market data, the preferences, the search,
// the refresh loop and the error banner. Main thread only. Every operation that writes published
// fields emits objectWillChange() once, immediately before its first write, however many fields
// or entries it writes. The watchlist's rows change through watchlistModel(), which names each
// change; the preferences announce themselves with preferencesChanged() and one signal per
// setting, and the search and the banner with signals of their own, after the write, so views
// never need objectWillChange(). A changed refresh wait restarts the refresh loop.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(AppPreferences preferences READ preferences WRITE setPreferences NOTIFY preferencesChanged)
    // The settings one by one; writing one of these also stores the preferences.
    Q_PROPERTY(double refreshInterval READ refreshInterval WRITE setRefreshInterval NOTIFY refreshIntervalChanged)
    Q_PROPERTY(
        bool showsMenuBarSymbol READ showsMenuBarSymbol WRITE setShowsMenuBarSymbol NOTIFY showsMenuBarSymbolChanged)
    Q_PROPERTY(
        bool showsMenuBarChange READ showsMenuBarChange WRITE setShowsMenuBarChange NOTIFY showsMenuBarChangeChanged)
    Q_PROPERTY(bool showsLayoutDebugOutlines READ showsLayoutDebugOutlines WRITE setShowsLayoutDebugOutlines NOTIFY
                   showsLayoutDebugOutlinesChanged)
    Q_PROPERTY(bool launchesAtLogin READ launchesAtLogin WRITE setLaunchesAtLogin NOTIFY launchesAtLoginChanged)
    Q_PROPERTY(QString searchQuery READ searchQuery WRITE setSearchQuery NOTIFY searchQueryChanged)
    Q_PROPERTY(bool isSearchPresented READ isSearchPresented WRITE setIsSearchPresented NOTIFY isSearchPresentedChanged)

public:
    static constexpr std::chrono::seconds kMinimumRefreshInterval{5};
    // Longest wait between refreshes: a stored interval beyond it (or infinite) is clamped.
    static constexpr std::chrono::hours kMaximumRefreshInterval{24};
    static constexpr std::chrono::milliseconds kSearchDebounce{800};
    static constexpr qint64 kBannerThreshold = 3;
    // A start-up refresh that fails before any quote arrived (a network that comes up late) is
    // tried again after these waits, each at most the refresh wait, until quotes arrive.
    static constexpr std::chrono::seconds kStartupRetryWaits[]{std::chrono::seconds(2), std::chrono::seconds(4),
                                                               std::chrono::seconds(8), std::chrono::seconds(16)};
    static inline const QString kFallbackTitle = QStringLiteral("Zentrow");
    // Prices (and the detail panel's amounts) below this show kSubCentDigits significant digits.
    static constexpr double kSubCentPrice = 0.01;
    static constexpr int kSubCentDigits = 4;

    AppState(std::shared_ptr<MarketDataServing> marketDataService, std::shared_ptr<LocalStore> localStore,
             std::shared_ptr<Sleeper> sleeper = systemSleeper(), QObject* parent = nullptr);
    ~AppState() override;

    // Published fields.
    const QList<WatchlistEntry>& watchlistEntries() const { return m_watchlistEntries; }
    const QHash<QString, TokenSummary>& tokenSnapshots() const { return m_tokenSnapshots; }
    const AppPreferences& preferences() const { return m_preferences; }
    const QString& searchQuery() const { return m_searchQuery; }
    const QList<TokenSummary>& searchResults() const { return m_searchResults; }
    const std::optional<QString>& expandedTokenID() const { return m_expandedTokenID; }
    bool isSearchPresented() const { return m_isSearchPresented; }
    bool isSearching() const { return m_isSearching; }
    bool isRefreshingWatchlist() const { return m_isRefreshingWatchlist; }
    const std::optional<RefreshErrorBannerState>& refreshErrorBanner() const { return m_refreshErrorBanner; }
    bool isRefreshErrorExpanded() const { return m_isRefreshErrorExpanded; }

    // Writable from views: the settings view, the search field, the add and back buttons.
    void setPreferences(const AppPreferences& preferences);
    double refreshInterval() const { return m_preferences.refreshInterval; }
    bool showsMenuBarSymbol() const { return m_preferences.showsMenuBarSymbol; }
    bool showsMenuBarChange() const { return m_preferences.showsMenuBarChange; }
    bool showsLayoutDebugOutlines() const { return m_preferences.showsLayoutDebugOutlines; }
    bool launchesAtLogin() const { return m_preferences.launchesAtLogin; }
    void setRefreshInterval(double seconds);
    void setShowsMenuBarSymbol(bool shows);
    void setShowsMenuBarChange(bool shows);
    void setShowsLayoutDebugOutlines(bool shows);
    void setLaunchesAtLogin(bool launches);
    void setSearchQuery(const QString& query);
    void setIsSearchPresented(bool presented);

    // When quotes last arrived without error; empty before the first successful refresh.
    const QDateTime& lastQuotesUpdate() const { return m_lastQuotesUpdate; }

    qint64 consecutivePeriodicFailures() const { return m_consecutivePeriodicFailures; }
    qint64 consecutivePeriodicSuccesses() const { return m_consecutivePeriodicSuccesses; }

    // Each entry's snapshot in list order; an entry without one stands as a record of its id
    // alone (symbol = id, price 0, no trend), so every entry has a row.
    QList<TokenSummary> watchlist() const;
    // The record a row of `tokenID` shows: its snapshot, or the stand-in described above.
    TokenSummary displayedToken(const QString& tokenID) const;
    // The watchlist row by row, for views that follow single rows.
    WatchlistModel& watchlistModel() const { return *m_watchlistModel; }
    // The user's price alerts, stored with the watchlist.
    PriceAlerts& priceAlerts() const { return *m_priceAlerts; }
    // The bell a row of `tokenID` shows, kept up to date as the alerts change.
    PriceAlerts::Mark alertMark(const QString& tokenID) const
    {
        return m_alertMarks.value(tokenID, PriceAlerts::Mark::None);
    }

    // Watchlist operations. Token ids are upper-cased before use.
    void addToken(const TokenSummary& token);
    void removeToken(const QString& tokenID);
    void pinToMenuBar(const QString& tokenID);
    void moveTokenToTop(const QString& tokenID);
    void toggleExpandedToken(const QString& tokenID);
    // Renumbers displayOrder to list positions and writes watchlist and preferences.
    void persist();

    // Refresh loop and banner.
    void startRefreshLoop();
    QCoro::Task<> performRefresh(bool tracksNetworkHealth);
    void handlePeriodicRefreshSuccess();
    void handlePeriodicRefreshFailure(const Error& error);
    static QString fullErrorMessage(const Error& error);
    void toggleRefreshErrorExpanded();
    // The wait between periodic refreshes for an interval in seconds.
    static std::chrono::milliseconds refreshWait(double refreshInterval);
    // After the machine wakes or the network comes back: fetch at once, untracked so it never
    // moves the banner, then count the next periodic wait from the end of that fetch.
    void refreshAfterWake();

    // Search.
    void runSearch(bool immediate);
    void resetSearch();

    // Display texts.
    static QString priceText(double price);
    static QString changeText(double change);
    std::optional<TokenSummary> pinnedMenuBarToken() const;
    QString menuBarDisplayText() const;
    // What the status item would read with `token` pinned, under the current preferences.
    QString menuBarText(const TokenSummary& token) const;

Q_SIGNALS:
    void objectWillChange();
    // After preferences() changed.
    void preferencesChanged(const AppPreferences& preferences);
    void refreshIntervalChanged(double seconds);
    void showsMenuBarSymbolChanged(bool shows);
    void showsMenuBarChangeChanged(bool shows);
    void showsLayoutDebugOutlinesChanged(bool shows);
    void launchesAtLoginChanged(bool launches);
    // After lastQuotesUpdate() changed.
    void lastQuotesUpdateChanged();
    void searchQueryChanged();
    void isSearchPresentedChanged();
    // After searchResults() or isSearching() changed.
    void searchChanged();
    // After refreshErrorBanner() or isRefreshErrorExpanded() changed.
    void refreshErrorBannerChanged();

private:
    void willChange() { Q_EMIT objectWillChange(); }
    // Takes `preferences` after objectWillChange was announced, and says what changed.
    void applyPreferences(const AppPreferences& preferences);
    // One setting from the settings window: written and stored, or nothing when it is unchanged.
    void storePreferences(AppPreferences preferences);
    // One preference changed, the others kept: what each property's setter does.
    template <typename T> void storePreference(T AppPreferences::*field, T value)
    {
        AppPreferences preferences = m_preferences;
        preferences.*field = value;
        storePreferences(preferences);
    }
    // persist() without its own change signal, for operations that announced theirs.
    void renumberAndSave();
    // After any change of the alerts: stores them and names the rows whose bell changed.
    void priceAlertsChanged();
    void setIsRefreshingWatchlist(bool value);
    void setIsSearching(bool value);
    void setSearchResults(const QList<TokenSummary>& results);
    void setRefreshErrorBanner(const std::optional<RefreshErrorBannerState>& banner);
    void setIsRefreshErrorExpanded(bool value);
    void setExpandedTokenID(const std::optional<QString>& tokenID);
    const TokenSummary* firstWatchlistToken() const;
    void startDetachedRefresh();
    void mergeSnapshots(const QList<TokenSummary>& tokens);
    void markQuotesUpdated();

    QCoro::Task<> runRefreshLoop(std::stop_token stop);
    QCoro::Task<> runWakeRefresh();
    QCoro::Task<> runStartupRefresh();
    QCoro::Task<> runSearchTask(QString query, bool immediate, std::stop_token stop);

    QList<WatchlistEntry> m_watchlistEntries;
    QHash<QString, TokenSummary> m_tokenSnapshots;
    AppPreferences m_preferences;
    QString m_searchQuery;
    QList<TokenSummary> m_searchResults;
    std::optional<QString> m_expandedTokenID;
    bool m_isSearchPresented = false;
    bool m_isSearching = false;
    bool m_isRefreshingWatchlist = false;
    std::optional<RefreshErrorBannerState> m_refreshErrorBanner;
    bool m_isRefreshErrorExpanded = false;
    QDateTime m_lastQuotesUpdate;

    WatchlistModel* m_watchlistModel = nullptr;
    PriceAlerts* m_priceAlerts = nullptr;
    // Each watched token's bell as the rows last heard of it.
    QHash<QString, PriceAlerts::Mark> m_alertMarks;
    // Set while an operation drops alerts that it stores itself with the watchlist.
    bool m_savesAlertsWithWatchlist = false;

    std::shared_ptr<MarketDataServing> m_marketDataService;
    std::shared_ptr<LocalStore> m_localStore;
    std::shared_ptr<Sleeper> m_sleeper;
    // Stopping one of these cancels its task; m_lifetime ends everything when we go away.
    std::stop_source m_searchTask;
    std::stop_source m_refreshLoopTask;
    std::stop_source m_lifetime;
    qint64 m_consecutivePeriodicFailures = 0;
    qint64 m_consecutivePeriodicSuccesses = 0;
};
