// The app state: its watchlist, the texts it shows, and searches.
#include "support/DecimalFormat.h"
#include "testlib/StateHarness.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace std::chrono_literals;

namespace {

QStringList tokenIDs(const AppState& state)
{
    QStringList ids;
    for (const WatchlistEntry& entry : state.watchlistEntries()) {
        ids.append(entry.tokenID);
    }
    return ids;
}

QList<bool> pins(const QList<WatchlistEntry>& entries)
{
    QList<bool> flags;
    for (const WatchlistEntry& entry : entries) {
        flags.append(entry.isPinnedToMenuBar);
    }
    return flags;
}

// What the watchlist model said, one line per signal, in the words a row view acts on.
struct ModelLog {
    QStringList lines;
    explicit ModelLog(const WatchlistModel& model)
    {
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, &model,
                         [this](const QModelIndex&, int first, int last) { add("insert", first, last); });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, &model,
                         [this](const QModelIndex&, int first, int last) { add("remove", first, last); });
        QObject::connect(&model, &QAbstractItemModel::rowsMoved, &model,
                         [this](const QModelIndex&, int first, int last, const QModelIndex&, int to) {
                             add("move", first, last, QString::number(to));
                         });
        QObject::connect(&model, &QAbstractItemModel::dataChanged, &model,
                         [this, &model](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                             QStringList names;
                             for (int role : roles) {
                                 names.append(QString::fromLatin1(model.roleNames().value(role)));
                             }
                             add("changed", from.row(), to.row(), names.join(QLatin1Char(',')));
                         });
    }
    void add(const char* what, int first, int last, const QString& more = {})
    {
        lines.append(QStringLiteral("%1 %2-%3 %4").arg(QLatin1String(what)).arg(first).arg(last).arg(more).trimmed());
    }
};

// Types into the search field, as a user does.
void typeQuery(AppState& state, const QString& text)
{
    state.setSearchQuery(text);
    state.runSearch(false);
}

} // namespace

class AppStateTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void firstStartWatchesBitcoinAndFetchesFromTheEventLoop()
    {
        StateHarness h;
        AppState& state = h.make();
        QCOMPARE(tokenIDs(state), QStringList{"BTC"});
        QVERIFY(state.watchlistEntries().first().isPinnedToMenuBar);
        // Without a quote the entry still stands in the list, as its id with no price.
        QCOMPARE(state.watchlist().size(), 1);
        const TokenSummary shown = state.watchlist().first();
        QCOMPARE((QStringList{shown.symbol, shown.iconSeed, AppState::priceText(shown.price)}),
                 (QStringList{"BTC", "btc", "--"}));
        // Nothing runs inside the constructor; the first refresh and the loop start from the queue.
        QVERIFY(h.service->refreshCalls().isEmpty());
        QVERIFY(h.sleeper->requested().isEmpty());

        h.settle();
        QCOMPARE(h.service->refreshCalls().size(), 1);
        QCOMPARE(h.service->refreshCalls().first()->ids, QList<QString>{"BTC"});
        QVERIFY(state.isRefreshingWatchlist());
        h.service->answerRefresh(QList<TokenSummary>{TokenSummary::fallbackCatalog().first()});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        QCOMPARE(state.watchlist(), QList<TokenSummary>{TokenSummary::fallbackCatalog().first()});
    }

    void constructionNormalisesAndStableSorts()
    {
        StateHarness h;
        StoredState document;
        document.watchlist = {
            WatchlistEntry{QStringLiteral("A"), QStringLiteral("eth"), false, true, 5},
            WatchlistEntry{QStringLiteral("B"), QStringLiteral("Sol"), true, false, 2},
            WatchlistEntry{QStringLiteral("C"), QStringLiteral("doge"), false, true, 2},
        };
        document.preferences.refreshInterval = 60;
        h.storeDocument(document);
        AppState& state = h.make();
        QList<WatchlistEntry> expected{
            {"B", "SOL", true, false, 2}, {"C", "DOGE", false, true, 2}, {"A", "ETH", false, true, 5}};
        QCOMPARE(state.watchlistEntries(), expected);
        QCOMPARE(state.preferences().refreshInterval, 60.0);

        state.persist();
        for (qsizetype i = 0; i < expected.size(); ++i) {
            expected[i].displayOrder = i;
        }
        QCOMPARE(h.stored().watchlist, expected);
        QCOMPARE(h.stored().preferences.refreshInterval, 60.0);
    }

    void addTokenAppendsOncePinsTheFirstAndRefreshes()
    {
        StateHarness h;
        h.storeDocument(StoredState{});
        AppState& state = h.start();

        QSignalSpy changes(&state, &AppState::objectWillChange);
        ModelLog log(state.watchlistModel());
        const TokenSummary eth{"eth", "ETH", "Ethereum", std::nullopt, 0, 0, {}, "eth", std::nullopt};
        state.addToken(eth);
        QCOMPARE(state.watchlistEntries().size(), 1);
        const WatchlistEntry first = state.watchlistEntries().first();
        QCOMPARE((QVariantList{first.tokenID, first.isPinnedToMenuBar, first.showsTrend, first.displayOrder}),
                 (QVariantList{"ETH", true, true, 0}));
        // The record is kept as received, under the upper-cased key.
        QCOMPARE(state.tokenSnapshots().value(QStringLiteral("ETH")).id, QStringLiteral("eth"));
        QCOMPARE(h.stored().watchlist, state.watchlistEntries());
        QCOMPARE(changes.size(), 1);
        QCOMPARE(log.lines, QStringList{"insert 0-0"});
        QCOMPARE(state.watchlistModel().index(0).data(WatchlistModel::TokenRole).value<TokenSummary>(), eth);
        // Pinned before any quote: the status item shows placeholders, never a made-up figure.
        QCOMPARE(state.menuBarDisplayText(), QStringLiteral("ETH -- --"));

        h.settle();
        QCOMPARE(h.service->refreshCalls().size(), 2);
        QCOMPARE(h.service->refreshCalls().last()->ids, QList<QString>{"ETH"});
        // Not the loop's own refresh: its failure does not count towards the banner.
        h.service->answerRefresh(Error(Error::Domain::Transport, 1, QStringLiteral("down")));
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        QCOMPARE(state.consecutivePeriodicFailures(), 0);

        // Already listed (any letter case): nothing changes, nothing is written.
        changes.clear();
        const int writes = h.defaults->writes;
        state.addToken(TokenSummary{"Eth", "ETH", "Ethereum", std::nullopt, 0, 0, {}, "eth", std::nullopt});
        QVERIFY(changes.isEmpty());
        QCOMPARE(h.defaults->writes, writes);
    }

    void removeTokenKeepsOnePin()
    {
        StateHarness h;
        h.storeEntries({"BTC", "ETH", "SOL"}, 0);
        AppState& state =
            h.start(QList<TokenSummary>{FakeMarketDataService::token("BTC", 2), FakeMarketDataService::token("ETH", 3),
                                        FakeMarketDataService::token("SOL", 4)});
        state.toggleExpandedToken(QStringLiteral("btc"));
        QSignalSpy changes(&state, &AppState::objectWillChange);
        ModelLog log(state.watchlistModel());

        state.removeToken(QStringLiteral("btc"));
        QCOMPARE(changes.size(), 1);
        QCOMPARE(log.lines, (QStringList{"remove 0-0", "changed 0-0 isPinned"}));
        QCOMPARE(tokenIDs(state), (QStringList{"ETH", "SOL"}));
        QCOMPARE(pins(state.watchlistEntries()), (QList<bool>{true, false}));
        QVERIFY(!state.expandedTokenID());
        QVERIFY(!state.tokenSnapshots().contains(QStringLiteral("BTC")));

        // An unpinned token leaves the pin where it is.
        state.removeToken(QStringLiteral("SOL"));
        QCOMPARE(pins(state.watchlistEntries()), QList<bool>{true});
        state.removeToken(QStringLiteral("NOPE"));

        state.removeToken(QStringLiteral("ETH"));
        QVERIFY(state.watchlistEntries().isEmpty());
        QVERIFY(h.stored().watchlist.isEmpty());
    }

    void pinAndMoveAnnounceOnceAndNameTheirRows()
    {
        StateHarness h;
        h.storeEntries({"BTC", "ETH", "SOL"}, 0);
        AppState& state = h.make();
        QSignalSpy changes(&state, &AppState::objectWillChange);
        ModelLog log(state.watchlistModel());

        // Only the rows whose pin flipped hear of it.
        state.pinToMenuBar(QStringLiteral("sol"));
        QCOMPARE(pins(h.stored().watchlist), (QList<bool>{false, false, true}));
        QCOMPARE(log.lines, (QStringList{"changed 0-0 isPinned", "changed 2-2 isPinned"}));

        state.moveTokenToTop(QStringLiteral("Sol"));
        QCOMPARE(tokenIDs(state), (QStringList{"SOL", "BTC", "ETH"}));
        QCOMPARE(pins(state.watchlistEntries()), (QList<bool>{true, false, false}));
        QCOMPARE(h.stored().watchlist, state.watchlistEntries());
        QCOMPARE(log.lines.last(), QStringLiteral("move 2-2 0"));
        QCOMPARE(changes.size(), 2);

        // The first entry, and an unknown id, move no row.
        log.lines.clear();
        state.moveTokenToTop(QStringLiteral("SOL"));
        state.moveTokenToTop(QStringLiteral("LINK"));
        QCOMPARE(tokenIDs(state), (QStringList{"SOL", "BTC", "ETH"}));
        QVERIFY(log.lines.isEmpty());

        // Pinning an unlisted id unpins everything, and is stored.
        state.pinToMenuBar(QStringLiteral("LINK"));
        QCOMPARE(pins(h.stored().watchlist), (QList<bool>{false, false, false}));

        // The expanded row and the one it leaves, each named.
        log.lines.clear();
        state.toggleExpandedToken(QStringLiteral("SOL"));
        state.toggleExpandedToken(QStringLiteral("ETH"));
        QCOMPARE(log.lines,
                 (QStringList{"changed 0-0 isExpanded", "changed 0-0 isExpanded", "changed 2-2 isExpanded"}));
        QVERIFY(state.watchlistModel().index(2).data(WatchlistModel::IsExpandedRole).toBool());
    }

    void aQuoteMergeNamesTheChangedRowsAndRolesOnce()
    {
        StateHarness h;
        h.storeEntries({"BTC", "ETH", "SOL"}, 0);
        AppState& state = h.make();
        h.settle();
        QList<TokenSummary> quotes{FakeMarketDataService::token("BTC", 2), FakeMarketDataService::token("ETH", 3),
                                   FakeMarketDataService::token("SOL", 4)};
        ModelLog log(state.watchlistModel());
        h.service->answerRefresh(quotes);
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        // First quotes: every row's record and both figures.
        QCOMPARE(log.lines, QStringList{"changed 0-2 token,priceText,changeText"});
        QCOMPARE(state.watchlistModel().index(1).data(WatchlistModel::PriceTextRole).toString(),
                 AppState::priceText(3));

        // Only ETH's price moved: one signal, its row, no change text.
        log.lines.clear();
        quotes[1].price = 5;
        state.performRefresh(false);
        h.service->answerRefresh(quotes);
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        QCOMPARE(log.lines, QStringList{"changed 1-1 token,priceText"});
    }

    void priceText_data()
    {
        QTest::addColumn<double>("price");
        QTest::addColumn<QString>("text");
        QTest::newRow("75456.36") << 75456.36 << "75,456.36";
        QTest::newRow("0.1762") << 0.1762 << "0.1762";
        QTest::newRow("0") << 0.0 << "--";
        QTest::newRow("negative") << -3.0 << "--";
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << "--";
        // Ties go to even on the shortest decimal form, not on the binary value.
        QTest::newRow("0.125") << 0.125 << "0.1250";
        QTest::newRow("2.675") << 2.675 << "2.68";
        QTest::newRow("1.005") << 1.005 << "1.00";
        QTest::newRow("999.995") << 999.995 << "1,000.00";
        QTest::newRow("beyond double digits") << 123456789012345678901234.0 << "123,456,789,012,345,690,000,000.00";
        // Below a cent: four significant digits, so a positive price never reads as zero.
        QTest::newRow("0.01") << 0.01 << "0.0100";
        QTest::newRow("0.001234") << 0.001234 << "0.001234";
        QTest::newRow("0.0000087") << 0.0000087 << "0.000008700";
        QTest::newRow("ties to even") << 0.00012345 << "0.0001234";
        QTest::newRow("rounds up to a cent") << 0.0099996 << "0.01000";
        QTest::newRow("1e-8") << 1e-8 << "0.00000001000";
    }
    void priceText()
    {
        QFETCH(double, price);
        QFETCH(QString, text);
        QCOMPARE(AppState::priceText(price), text);
    }

    void priceTextFollowsTheLocale()
    {
        QCOMPARE(DecimalFormat::fixedHalfEven(0.125, 2, QLocale(QLocale::English)), QStringLiteral("0.12"));
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        QCOMPARE(AppState::priceText(75456.36), QStringLiteral("75,456.36"));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(AppState::priceText(75456.36), QStringLiteral("75.456,36"));
        QCOMPARE(AppState::priceText(0.1762), QStringLiteral("0,1762"));
        QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
        QCOMPARE(AppState::priceText(1234.5), QStringLiteral("1\u202F234,50"));
        QCOMPARE(AppState::priceText(std::numeric_limits<double>::infinity()), QStringLiteral("inf"));
    }

    void changeText_data()
    {
        QTest::addColumn<double>("change");
        QTest::addColumn<QString>("text");
        QTest::newRow("1.34") << 1.34 << "+1.34%";
        QTest::newRow("-2.05") << -2.05 << "-2.05%";
        QTest::newRow("0.004") << 0.004 << "+0.00%";
        // Exact binary ties go to the even digit; values just below a tie go down.
        QTest::newRow("tie 0.125") << 0.125 << "+0.12%";
        QTest::newRow("tie 0.375") << 0.375 << "+0.38%";
        QTest::newRow("below tie 2.675") << 2.675 << "+2.67%";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "nan%";
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "+inf%";
        QTest::newRow("0") << 0.0 << "--";
        QTest::newRow("-0") << -0.0 << "--";
    }
    void changeText()
    {
        QFETCH(double, change);
        QFETCH(QString, text);
        QCOMPARE(AppState::changeText(change), text);
        // The change is C-formatted whatever the locale.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(AppState::changeText(change), text);
    }

    void menuBarTextFollowsThePin()
    {
        StateHarness h;
        h.storeEntries({"ETH", "BTC", "SOL"}, 1);
        AppState& state = h.make();
        // Before the first quotes, and while the pinned token has no snapshot.
        QCOMPARE(state.menuBarDisplayText(), QStringLiteral("Zentrow"));
        h.settle();
        h.service->answerRefresh(QList<TokenSummary>{FakeMarketDataService::token("ETH", 2337.24, -3.08)});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        QCOMPARE(state.menuBarDisplayText(), QStringLiteral("Zentrow"));

        auto refresh = state.performRefresh(false);
        h.service->answerRefresh(QList<TokenSummary>{TokenSummary::fallbackCatalog().first()});
        QTRY_VERIFY(refresh.isReady());
        // The symbol and change switches show in the settings view's preview (tst_settingsview).
        QCOMPARE(state.menuBarDisplayText(), QStringLiteral("BTC 75,456.36 -2.05%"));

        // No pin at all: the first listed token that has a snapshot.
        state.pinToMenuBar(QStringLiteral("NONE"));
        QCOMPARE(state.menuBarDisplayText(), QStringLiteral("ETH 2,337.24 -3.08%"));
    }

    void typingDebouncesToOneCallWithTheWholeText()
    {
        StateHarness h;
        AppState& state = h.make();
        h.settle();
        const QString word = QStringLiteral("ether");
        for (qsizetype i = 1; i <= word.size(); ++i) {
            typeQuery(state, word.left(i));
            h.settle();
            h.sleeper->advance(500ms);
            h.settle();
            QVERIFY(state.isSearching());
        }
        QVERIFY(h.service->searchCalls().isEmpty());
        h.sleeper->advance(300ms);
        QTRY_COMPARE(h.service->searchCalls().size(), 1);
        QCOMPARE(h.service->searchCalls().first()->query, QStringLiteral("ether"));
        QVERIFY(state.isSearching());
    }

    void aNewerSearchOwnsTheResultsAndBlankTextClearsAtOnce()
    {
        StateHarness h;
        AppState& state = h.make();
        h.settle();
        state.setSearchQuery(QStringLiteral("a"));
        state.runSearch(true);
        QTRY_COMPARE(h.service->searchCalls().size(), 1);
        state.setSearchQuery(QStringLiteral("ad"));
        state.runSearch(true);
        QTRY_COMPARE(h.service->searchCalls().size(), 2);
        QVERIFY(h.service->searchCalls().first()->stopped || h.service->searchCalls().first()->wakeup->isWoken());
        h.service->answerSearch({TokenSummary::fallbackCatalog().at(5)});
        QTRY_VERIFY(!state.isSearching());
        QCOMPARE(state.searchResults().first().id, QStringLiteral("ADA"));

        // Cleared while a typed search debounces: nothing is written later.
        typeQuery(state, QStringLiteral("so"));
        h.settle();
        typeQuery(state, QStringLiteral(" \n\t"));
        QVERIFY(state.searchResults().isEmpty());
        QVERIFY(!state.isSearching());
        h.sleeper->advance(5s);
        h.settle();
        QCOMPARE(h.service->searchCalls().size(), 2);

        // Cleared while the service works: the list empties now and the late answer is dropped.
        state.setSearchQuery(QStringLiteral("ada"));
        state.runSearch(true);
        QTRY_COMPARE(h.service->searchCalls().size(), 3);
        typeQuery(state, QString());
        QVERIFY(state.searchResults().isEmpty());
        h.settle();
        QVERIFY(h.service->searchCalls().last()->stopped);
        QVERIFY(state.searchResults().isEmpty());
        QVERIFY(!state.isSearching());
    }
};

QTEST_GUILESS_MAIN(AppStateTest)
#include "tst_appstate.moc"
