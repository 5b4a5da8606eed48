#include "services/MarketDataServiceError.h"
#include "testlib/StateHarness.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using Millis = QList<std::chrono::milliseconds>;

namespace {

// BTC and ETH watched, refreshed every `interval` seconds; the start-up refresh answered.
AppState& started(StateHarness& h, double interval = 30)
{
    h.storeEntries({"BTC", "ETH"});
    StoredState document = h.stored();
    document.preferences.refreshInterval = interval;
    h.storeDocument(document);
    return h.start();
}

Error failure(int n)
{
    return MarketDataServiceError::httpStatus(500 + n);
}

} // namespace

class RefreshLoopTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void waitsAreClampedAndMeasuredFromTheEndOfARefresh()
    {
        QCOMPARE(AppState::refreshWait(-30), 5s);
        QCOMPARE(AppState::refreshWait(7.5), 7500ms);
        QCOMPARE(AppState::refreshWait(std::numeric_limits<double>::infinity()), 24h);
        QCOMPARE(AppState::refreshWait(std::numeric_limits<double>::quiet_NaN()), 30s);
        QCOMPARE(AppState::refreshWait(1e300), 24h);

        StateHarness h;
        started(h, 2);
        QCOMPARE(h.sleeper->requested(), Millis{5s});
        h.sleeper->advance(4999ms);
        h.settle();
        QCOMPARE(h.service->refreshCalls().size(), 1);
        h.sleeper->advance(1ms);
        QTRY_COMPARE(h.service->refreshCalls().size(), 2);
        // The next wait only starts once this refresh has ended.
        h.sleeper->advance(60s);
        h.settle();
        QCOMPARE(h.sleeper->requested().size(), 1);
        h.service->answerRefresh(QList<TokenSummary>{});
        QTRY_COMPARE(h.sleeper->requested().size(), 2);
        QCOMPARE(h.service->refreshCalls().size(), 2);
    }

    void restartingLetsARefreshFinishAndANewIntervalWaitsFromZero()
    {
        StateHarness h;
        AppState& state = started(h, 10);
        h.sleeper->advance(10s);
        QTRY_COMPARE(h.service->refreshCalls().size(), 2);
        state.startRefreshLoop();
        h.settle();
        QCOMPARE(h.sleeper->requested(), (Millis{10s, 10s}));
        // Restarting the loop does not cancel the request in flight.
        QCOMPARE(h.service->waitingRefreshes(), 1);
        h.service->answerRefresh(QList<TokenSummary>{FakeMarketDataService::token("BTC", 5)});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        QCOMPARE(state.consecutivePeriodicSuccesses(), 1);
        h.settle();
        QCOMPARE(h.sleeper->requested().size(), 2);

        // A new interval halfway through a wait: the old loop, stopped in its sleep, ends without
        // refreshing, and the new wait starts from zero.
        h.sleeper->advance(5s);
        AppPreferences preferences = state.preferences();
        preferences.refreshInterval = 60;
        state.setPreferences(preferences);
        h.settle();
        QCOMPARE(h.sleeper->requested(), (Millis{10s, 10s, 60s}));
        h.sleeper->advance(59s);
        h.settle();
        QCOMPARE(h.service->refreshCalls().size(), 2);
        h.sleeper->advance(1s);
        QTRY_COMPARE(h.service->refreshCalls().size(), 3);
    }

    void wakeRefreshesAtOnceUntrackedAndRestartsTheWait()
    {
        StateHarness h;
        AppState& state = started(h, 60);
        // Two tracked failures: one more would raise the banner.
        h.periodicRefresh(60s, failure(1));
        h.periodicRefresh(60s, failure(2));
        h.sleeper->advance(40s);
        h.settle();
        const auto calls = h.service->refreshCalls().size();

        state.refreshAfterWake();
        QTRY_COMPARE(h.service->refreshCalls().size(), calls + 1);
        h.service->answerRefresh(failure(3));
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        h.settle();
        // Not counted: no banner, the counter did not move.
        QVERIFY(!state.refreshErrorBanner());
        QCOMPARE(state.consecutivePeriodicFailures(), 2);
        // The old wait (20 s left) ended without refreshing; a full new wait started after the fetch.
        QCOMPARE(h.sleeper->requested().last(), 60s);
        h.sleeper->advance(59s);
        h.settle();
        QCOMPARE(h.service->refreshCalls().size(), calls + 1);
        h.sleeper->advance(1s);
        QTRY_COMPARE(h.service->refreshCalls().size(), calls + 2);
        // The loop's own refreshes are tracked again.
        h.service->answerRefresh(failure(4));
        QTRY_VERIFY(state.refreshErrorBanner().has_value());
    }

    void aFailedStartIsRetriedSoonUntilQuotesArrive()
    {
        StateHarness h;
        h.storeEntries({"BTC", "ETH"});
        AppState& state = h.start(failure(0));
        // Quick retries on the virtual clock, untracked: a late network raises no banner.
        for (const std::chrono::milliseconds wait : {2000ms, 4000ms}) {
            const auto calls = h.service->refreshCalls().size();
            h.sleeper->advance(wait - 1ms);
            h.settle();
            QCOMPARE(h.service->refreshCalls().size(), calls);
            h.sleeper->advance(1ms);
            QTRY_COMPARE(h.service->refreshCalls().size(), calls + 1);
            h.service->answerRefresh(failure(1));
            QTRY_VERIFY(!state.isRefreshingWatchlist());
            h.settle();
        }
        QCOMPARE(state.consecutivePeriodicFailures(), 0);
        QCOMPARE(state.menuBarDisplayText(), QStringLiteral("Zentrow"));
        h.sleeper->advance(8s);
        QTRY_COMPARE(h.service->refreshCalls().size(), 4);
        h.service->answerRefresh(QList<TokenSummary>{FakeMarketDataService::token("BTC", 75456.36, -2.05)});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        QCOMPARE(state.menuBarDisplayText(), QStringLiteral("BTC 75,456.36 -2.05%"));
        // Quotes arrived (ETH's is still missing): the retries end and the loop carries on.
        h.sleeper->advance(15s);
        h.settle();
        QCOMPARE(h.service->refreshCalls().size(), 4);
        QCOMPARE(h.sleeper->requested(), (Millis{30s, 2s, 4s, 8s}));
        QCOMPARE(state.consecutivePeriodicFailures(), 0);
    }

    void mergeKeepsUnmentionedSnapshotsAndUpperCasesKeys()
    {
        StateHarness h;
        AppState& state = started(h, 5);
        h.periodicRefresh(
            5s, QList<TokenSummary>{FakeMarketDataService::token("BTC", 1), FakeMarketDataService::token("ETH", 2)});
        // A lower-case id, a duplicate (the later record wins) and an id nobody asked for.
        h.periodicRefresh(5s, QList<TokenSummary>{FakeMarketDataService::token("btc", 10),
                                                  FakeMarketDataService::token("BTC", 11),
                                                  FakeMarketDataService::token("DOGE", 3)});
        QCOMPARE(state.tokenSnapshots().value(QStringLiteral("BTC")).price, 11.0);
        QCOMPARE(state.tokenSnapshots().value(QStringLiteral("ETH")).price, 2.0);
        QVERIFY(state.tokenSnapshots().contains(QStringLiteral("DOGE")));
        QCOMPARE(state.watchlist().size(), 2);

        // A failure leaves every snapshot as it was.
        h.periodicRefresh(5s, failure(0));
        QCOMPARE(state.tokenSnapshots().value(QStringLiteral("BTC")).price, 11.0);
    }

    void overlappingRefreshIsDropped()
    {
        StateHarness h;
        AppState& state = started(h);
        auto first = state.performRefresh(false);
        QVERIFY(state.isRefreshingWatchlist());
        QSignalSpy changes(&state, &AppState::objectWillChange);
        auto second = state.performRefresh(true);
        QVERIFY(second.isReady());
        QVERIFY(changes.isEmpty());
        QCOMPARE(h.service->waitingRefreshes(), 1);
        h.service->answerRefresh(failure(0));
        QTRY_VERIFY(first.isReady());
        QCOMPARE(state.consecutivePeriodicFailures(), 0);
    }

    void bannerNeedsThreeFailuresOrSuccessesInARow()
    {
        StateHarness h;
        AppState& state = started(h, 5);
        h.periodicRefresh(5s, failure(1));
        h.periodicRefresh(5s, failure(2));
        h.periodicRefresh(5s, QList<TokenSummary>{});
        h.periodicRefresh(5s, failure(3));
        h.periodicRefresh(5s, failure(4));
        QVERIFY(!state.refreshErrorBanner());
        QCOMPARE(state.consecutivePeriodicFailures(), 2);

        h.periodicRefresh(5s, failure(5));
        QVERIFY(state.refreshErrorBanner());
        QCOMPARE(state.refreshErrorBanner()->message, QStringLiteral("服务器返回了异常状态码：505。"));

        state.toggleRefreshErrorExpanded();
        h.periodicRefresh(5s, Error(Error::Domain::Transport, 99, QStringLiteral("D"), QStringLiteral("R")));
        QCOMPARE(state.refreshErrorBanner()->message, QStringLiteral("D\nR"));
        QVERIFY(state.isRefreshErrorExpanded());

        // Untracked refreshes neither count nor touch the banner.
        for (int i = 0; i < 3; ++i) {
            auto untracked = state.performRefresh(false);
            h.service->answerRefresh(QList<TokenSummary>{});
            QTRY_VERIFY(untracked.isReady());
        }
        QVERIFY(state.refreshErrorBanner());
        QCOMPARE(state.consecutivePeriodicFailures(), 4);

        h.periodicRefresh(5s, QList<TokenSummary>{});
        h.periodicRefresh(5s, QList<TokenSummary>{});
        QVERIFY(state.refreshErrorBanner());
        QVERIFY(state.isRefreshErrorExpanded());
        h.periodicRefresh(5s, QList<TokenSummary>{});
        QVERIFY(!state.refreshErrorBanner());
        QVERIFY(!state.isRefreshErrorExpanded());
    }

    void destroyingTheStateMidTaskIsSafe()
    {
        // Loop asleep, a refresh waiting for the service, a search debouncing and one waiting
        // for the service: nothing may resume into the destroyed object.
        StateHarness h;
        AppState& state = started(h);
        auto pending = state.performRefresh(false);
        state.setSearchQuery(QStringLiteral("bit"));
        state.runSearch(true);
        h.settle();
        state.setSearchQuery(QStringLiteral("eth"));
        state.runSearch(false);
        h.settle();
        QCOMPARE(h.service->waitingRefreshes(), 1);
        QVERIFY(h.sleeper->pendingCount() >= 2);
        h.state.reset();
        h.settle();
        QVERIFY(pending.isReady());
        QCOMPARE(h.sleeper->pendingCount(), 0);
        QVERIFY(h.service->refreshCalls().last()->stopped);
    }
};

QTEST_GUILESS_MAIN(RefreshLoopTest)
#include "tst_refreshloop.moc"
