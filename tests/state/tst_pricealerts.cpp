// Price alerts on the virtual clock: when they fire, what they say, and what survives a restart.
#include "testlib/StateHarness.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using Kind = PriceAlert::Kind;
using Mark = PriceAlerts::Mark;

namespace {

// A quote as the backend sends it, received from the exchange at `quotedAt`.
TokenSummary quote(const char* id, double price, qint64 quotedAt, double change = 0)
{
    TokenSummary token = FakeMarketDataService::token(QString::fromLatin1(id), price, change);
    token.quotedAt = quotedAt;
    return token;
}

// The alerts' notices and the rows whose bell changed, as the shell and the rows hear of them.
struct Heard {
    QList<PriceAlertNotice> notices;
    QList<int> markRows;
    explicit Heard(AppState& state)
    {
        QObject::connect(&state.priceAlerts(), &PriceAlerts::fired, &state,
                         [this](const QList<PriceAlertNotice>& fired) { notices += fired; });
        QObject::connect(&state.watchlistModel(), &QAbstractItemModel::dataChanged, &state,
                         [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                             if (roles.contains(WatchlistModel::AlertMarkRole)) {
                                 for (int row = from.row(); row <= to.row(); ++row) {
                                     markRows.append(row);
                                 }
                             }
                         });
    }
    // The bodies heard since the last call, one notice per item.
    QStringList take()
    {
        QStringList bodies;
        for (const PriceAlertNotice& notice : std::exchange(notices, {})) {
            bodies.append(notice.title + " | " + notice.body);
        }
        return bodies;
    }
};

Mark markOfRow(const AppState& state, int row)
{
    return state.watchlistModel().index(row).data(WatchlistModel::AlertMarkRole).value<Mark>();
}

} // namespace

class PriceAlertsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firesOnceOnACrossingAndAgainOnlyPastTheMargin()
    {
        StateHarness h;
        h.storeEntries({"BTC", "ETH"});
        AppState& state = h.start(QList<TokenSummary>{quote("BTC", 95, 1), quote("ETH", 20, 1)});
        Heard heard(state);
        PriceAlerts& alerts = state.priceAlerts();
        QVERIFY(alerts.add("btc", Kind::Above, 100));
        QVERIFY(alerts.add("ETH", Kind::Below, 10));
        QVERIFY(alerts.add("ETH", Kind::ChangeBeyond, 5));
        QCOMPARE(markOfRow(state, 0), Mark::Armed);
        QCOMPARE(heard.markRows, (QList<int>{0, 1}));
        QCOMPARE(h.stored().priceAlerts, alerts.alerts());

        h.periodicRefresh(30s, QList<TokenSummary>{quote("BTC", 100, 2), quote("ETH", 20, 2)});
        QCOMPARE(heard.take(), QStringList{"BTC 价格提醒 | BTC 已升至 100.00（高于 100.00）"});
        QCOMPARE(markOfRow(state, 0), Mark::Fired);
        QCOMPARE(heard.markRows, (QList<int>{0, 1, 0}));
        QVERIFY(h.stored().priceAlerts.first().isFired);

        // Staying past the threshold, or hovering inside the margin, says nothing and writes nothing.
        const int writes = h.defaults->writes;
        qint64 at = 3;
        for (const double price : {101.0, 99.6, 100.1}) {
            h.periodicRefresh(30s, QList<TokenSummary>{quote("BTC", price, at), quote("ETH", 20, at)});
            ++at;
        }
        QCOMPARE(heard.take(), QStringList());
        QCOMPARE(h.defaults->writes, writes);

        // Back past the margin re-arms; the next crossing fires again, with both of ETH's alerts
        // in one notice, in watchlist order.
        h.periodicRefresh(30s, QList<TokenSummary>{quote("BTC", 99.4, 10), quote("ETH", 20, 10)});
        h.periodicRefresh(30s, QList<TokenSummary>{quote("BTC", 100, 11), quote("ETH", 9.5, 11, -6.5)});
        QCOMPARE(heard.take(), (QStringList{"BTC 价格提醒 | BTC 已升至 100.00（高于 100.00）",
                                            "ETH 价格提醒 | ETH 已跌至 9.50（低于 10.00）\n"
                                            "ETH 24 小时涨跌 -6.50%（超过 ±5%）"}));

        // Expanding the row shows its alerts: the filled bell goes.
        heard.markRows.clear();
        state.toggleExpandedToken("ETH");
        QCOMPARE(markOfRow(state, 1), Mark::None);
        QCOMPARE(heard.markRows, QList<int>{1});
        QVERIFY(!h.stored().priceAlerts.at(1).isUnseen);
    }

    void onlyFresherQuotesAreEvaluated()
    {
        StateHarness h;
        h.storeEntries({"BTC", "ETH"});
        AppState& state = h.start(QList<TokenSummary>{quote("BTC", 95, 5), quote("ETH", 20, 5)});
        Heard heard(state);
        QVERIFY(state.priceAlerts().add("BTC", Kind::Above, 100));
        QVERIFY(state.priceAlerts().add("ETH", Kind::Below, 10));
        h.periodicRefresh(30s, QList<TokenSummary>{quote("BTC", 95, 5), quote("ETH", 20, 5)});

        // The same data again, data served stale from before, or no market figure: nothing.
        h.periodicRefresh(30s, QList<TokenSummary>{quote("BTC", 105, 5), quote("ETH", 0, 6)});
        h.periodicRefresh(30s, QList<TokenSummary>{quote("BTC", 105, 4)});
        // After a resume, the backend serves what it had.
        state.refreshAfterWake();
        QTRY_COMPARE(h.service->waitingRefreshes(), 1);
        h.service->answerRefresh(QList<TokenSummary>{quote("BTC", 105, 5)});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        h.settle();
        QCOMPARE(heard.take(), QStringList());

        h.periodicRefresh(30s, QList<TokenSummary>{quote("BTC", 105, 6)});
        QCOMPARE(heard.take(), QStringList{"BTC 价格提醒 | BTC 已升至 105.00（高于 100.00）"});

        // Switched off, nothing is evaluated and no row shows a bell.
        state.priceAlerts().setEnabled(false);
        QCOMPARE(markOfRow(state, 1), Mark::None);
        h.periodicRefresh(30s, QList<TokenSummary>{quote("ETH", 9, 7)});
        QCOMPARE(heard.take(), QStringList());
        QVERIFY(!h.stored().priceAlertsEnabled);
    }

    void aRestartNeitherRepeatsNorMissesACrossing()
    {
        StateHarness h;
        {
            h.storeEntries({"BTC", "ETH"});
            AppState& state = h.start(QList<TokenSummary>{quote("BTC", 95, 1), quote("ETH", 20, 1)});
            QVERIFY(state.priceAlerts().add("BTC", Kind::Above, 100));
            QVERIFY(state.priceAlerts().add("ETH", Kind::Below, 10));
            Heard heard(state);
            h.periodicRefresh(30s, QList<TokenSummary>{quote("BTC", 101, 2), quote("ETH", 20, 2)});
            QCOMPARE(heard.notices.size(), 1);
            h.state.reset();
            h.settle();
        }
        // Closed meanwhile: BTC stayed up, ETH fell through its threshold. The first quotes after
        // the start tell of ETH alone, once.
        const auto calls = h.service->refreshCalls().size();
        AppState& state = h.make();
        Heard heard(state);
        QCOMPARE(markOfRow(state, 0), Mark::Fired);
        QTRY_COMPARE(h.service->refreshCalls().size(), calls + 1);
        h.service->answerRefresh(QList<TokenSummary>{quote("BTC", 101, 2), quote("ETH", 9, 50)});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        h.settle();
        QCOMPARE(heard.take(), QStringList{"ETH 价格提醒 | ETH 已跌至 9.00（低于 10.00）"});
        h.periodicRefresh(30s, QList<TokenSummary>{quote("BTC", 102, 51), quote("ETH", 9, 51)});
        QCOMPARE(heard.take(), QStringList());
    }

    void removingATokenRemovesItsAlerts()
    {
        StateHarness h;
        h.storeEntries({"BTC", "ETH", "BTC"});
        AppState& state = h.start();
        QVERIFY(state.priceAlerts().add("BTC", Kind::Above, 100));
        const auto eth = state.priceAlerts().add("ETH", Kind::Below, 10);
        QVERIFY(eth);
        QVERIFY(!state.priceAlerts().add("SOL", Kind::Above, 1));
        QVERIFY(!state.priceAlerts().add("ETH", Kind::Above, -1));

        const int writes = h.defaults->writes;
        state.removeToken("btc");
        QCOMPARE(h.defaults->writes, writes + 1);
        QCOMPARE(state.priceAlerts().alerts().size(), 1);
        QCOMPARE(h.stored().priceAlerts.first().id, *eth);
        state.priceAlerts().remove(*eth);
        QVERIFY(h.stored().priceAlerts.isEmpty());
    }
};

QTEST_GUILESS_MAIN(PriceAlertsTest)
#include "tst_pricealerts.moc"
