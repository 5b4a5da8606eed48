#include "testlib/StateHarness.h"

#include <QSignalSpy>
#include <QTest>

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

} // namespace

class AppStateTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstStartWatchesBitcoinAndFetchesFromTheEventLoop()
    {
        StateHarness h;
        AppState& state = h.make();
        QCOMPARE(tokenIDs(state), QStringList{"BTC"});
        QVERIFY(state.watchlistEntries().first().isPinnedToMenuBar);
        QVERIFY(state.tokenSnapshots().isEmpty());
        QVERIFY(state.watchlist().isEmpty());
        // Nothing runs inside the constructor; the first refresh and the loop start from the queue.
        QVERIFY(h.service->refreshCalls().isEmpty());
        QVERIFY(h.sleeper->requested().isEmpty());
        QCOMPARE(h.defaults->writes, 0);

        h.settle();
        QCOMPARE(h.service->refreshCalls().size(), 1);
        QCOMPARE(h.service->refreshCalls().first()->ids, QList<QString>{"BTC"});
        QCOMPARE(h.sleeper->requested(), QList<std::chrono::milliseconds>{std::chrono::seconds(30)});
        QVERIFY(state.isRefreshingWatchlist());
        h.service->answerRefresh(QList<TokenSummary>{TokenSummary::fallbackCatalog().first()});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        QCOMPARE(state.watchlist().size(), 1);
        QCOMPARE(state.selectedTokenID(), QStringLiteral("BTC"));
        QCOMPARE(h.defaults->writes, 0);
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
        QCOMPARE(tokenIDs(state), (QStringList{"SOL", "DOGE", "ETH"}));
        QCOMPARE(state.watchlistEntries().at(0).id, QStringLiteral("B"));
        QCOMPARE(state.watchlistEntries().at(0).showsTrend, false);
        QCOMPARE(state.watchlistEntries().at(2).displayOrder, 5);
        QCOMPARE(state.preferences().refreshInterval, 60.0);

        state.persist();
        QList<qint64> orders;
        for (const WatchlistEntry& entry : h.stored().watchlist) {
            orders.append(entry.displayOrder);
        }
        QCOMPARE(orders, (QList<qint64>{0, 1, 2}));
        QCOMPARE(h.stored().preferences.refreshInterval, 60.0);
    }

    void addTokenAppendsOncePinsTheFirstAndRefreshes()
    {
        StateHarness h;
        h.storeDocument(StoredState{});
        AppState& state = h.make();
        h.settle();
        h.service->answerRefresh(QList<TokenSummary>{});
        QTRY_VERIFY(!state.isRefreshingWatchlist());

        FieldRecorder recorder(state);
        const TokenSummary eth{"eth", "ETH", "Ethereum", std::nullopt, 0, 0, {}, "eth", std::nullopt};
        state.addToken(eth);
        QCOMPARE(state.watchlistEntries().size(), 1);
        const WatchlistEntry first = state.watchlistEntries().first();
        QCOMPARE(first.tokenID, QStringLiteral("ETH"));
        QVERIFY(first.isPinnedToMenuBar);
        QVERIFY(first.showsTrend);
        QCOMPARE(first.displayOrder, 0);
        // The record is kept as received, under the upper-cased key.
        QCOMPARE(state.tokenSnapshots().value(QStringLiteral("ETH")).id, QStringLiteral("eth"));
        QCOMPARE(h.stored().watchlist, state.watchlistEntries());

        h.settle();
        QCOMPARE(h.service->refreshCalls().size(), 2);
        QCOMPARE(h.service->refreshCalls().last()->ids, QList<QString>{"ETH"});

        // Already listed (any letter case): nothing changes, nothing is written.
        recorder.clear();
        const int writes = h.defaults->writes;
        state.addToken(TokenSummary{"Eth", "ETH", "Ethereum", std::nullopt, 0, 0, {}, "eth", std::nullopt});
        QVERIFY(recorder.fields.isEmpty());
        QCOMPARE(h.defaults->writes, writes);

        state.addToken(FakeMarketDataService::token("BTC", 1));
        state.addToken(FakeMarketDataService::token("SOL", 1));
        state.addToken(FakeMarketDataService::token("ADA", 1));
        QCOMPARE(state.watchlistEntries().last().displayOrder, 3);
        QVERIFY(!state.watchlistEntries().last().isPinnedToMenuBar);
    }

    void removeTokenKeepsOnePinAndTheSelectionValid()
    {
        StateHarness h;
        h.storeEntries({"BTC", "ETH", "SOL"}, 0);
        AppState& state = h.make();
        h.settle();
        h.service->answerRefresh(QList<TokenSummary>{FakeMarketDataService::token("BTC", 2),
                                                     FakeMarketDataService::token("ETH", 3),
                                                     FakeMarketDataService::token("SOL", 4)});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        QCOMPARE(state.selectedTokenID(), QStringLiteral("BTC"));
        state.toggleExpandedToken(QStringLiteral("btc"));

        state.removeToken(QStringLiteral("btc"));
        QCOMPARE(tokenIDs(state), (QStringList{"ETH", "SOL"}));
        QCOMPARE(pins(state.watchlistEntries()), (QList<bool>{true, false}));
        QCOMPARE(state.selectedTokenID(), QStringLiteral("ETH"));
        QVERIFY(!state.expandedTokenID());
        QVERIFY(!state.tokenSnapshots().contains(QStringLiteral("BTC")));

        // An unpinned token leaves the pin where it is.
        state.removeToken(QStringLiteral("SOL"));
        QCOMPARE(pins(state.watchlistEntries()), QList<bool>{true});

        // An unknown id removes nothing but still writes the store.
        const int writes = h.defaults->writes;
        state.removeToken(QStringLiteral("NOPE"));
        QCOMPARE(h.defaults->writes, writes + 1);

        state.removeToken(QStringLiteral("ETH"));
        QVERIFY(state.watchlistEntries().isEmpty());
        QVERIFY(!state.selectedTokenID());
        QVERIFY(h.stored().watchlist.isEmpty());
    }

    void pinAndMoveWriteEveryEntry()
    {
        StateHarness h;
        h.storeEntries({"BTC", "ETH", "SOL"}, 0);
        AppState& state = h.make();
        FieldRecorder recorder(state);

        state.pinToMenuBar(QStringLiteral("sol"));
        QCOMPARE(pins(h.stored().watchlist), (QList<bool>{false, false, true}));

        state.moveTokenToTop(QStringLiteral("Sol"));
        QCOMPARE(tokenIDs(state), (QStringList{"SOL", "BTC", "ETH"}));
        QCOMPARE(pins(state.watchlistEntries()), (QList<bool>{true, false, false}));
        QCOMPARE(h.stored().watchlist.at(0).tokenID, QStringLiteral("SOL"));
        QCOMPARE(h.stored().watchlist.at(2).displayOrder, 2);

        // The first entry still writes; an unknown id writes nothing.
        int writes = h.defaults->writes;
        state.moveTokenToTop(QStringLiteral("SOL"));
        QCOMPARE(h.defaults->writes, ++writes);
        recorder.clear();
        state.moveTokenToTop(QStringLiteral("LINK"));
        QVERIFY(recorder.fields.isEmpty());
        QCOMPARE(h.defaults->writes, writes);

        // Pinning an unlisted id unpins everything, and is stored.
        state.pinToMenuBar(QStringLiteral("LINK"));
        QCOMPARE(pins(h.stored().watchlist), (QList<bool>{false, false, false}));
    }
};

QTEST_GUILESS_MAIN(AppStateTest)
#include "tst_appstate.moc"
