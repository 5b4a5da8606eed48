#include "services/MarketDataServiceError.h"
#include "services/MockMarketDataService.h"
#include "testlib/ManualSleeper.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QTest>

namespace {

QStringList ids(const QList<TokenSummary>& tokens)
{
    QStringList result;
    for (const TokenSummary& token : tokens) {
        result.append(token.id);
    }
    return result;
}

} // namespace

class MockServiceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void searchMatchesSymbolOrName_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("bit") << "bit" << QStringList{"BTC"};
        QTest::newRow("COIN") << "COIN" << QStringList{"BTC", "DOGE"};
        QTest::newRow("e") << "e" << QStringList{"ETH", "DOGE"};
        QTest::newRow("padded sol") << "  sol  " << QStringList{"SOL"};
        QTest::newRow("inner space") << "bit coin" << QStringList{};
        QTest::newRow("rank is not searched") << "1" << QStringList{};
        QTest::newRow("accents count") << "bïtcoin" << QStringList{};
    }
    void searchMatchesSymbolOrName()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        QCOMPARE(ids(MockMarketDataService::matches(query)), expected);
    }

    void searchWaitsOnlyForRealText()
    {
        auto sleeper = std::make_shared<ManualSleeper>();
        MockMarketDataService service(sleeper);
        const auto blank = QCoro::waitFor(service.search(QStringLiteral(" \n\t ")));
        QVERIFY(blank.isEmpty());
        QVERIFY(sleeper->requested().isEmpty());

        // Real time here, to prove the default wait is wired to a real timer.
        MockMarketDataService real;
        QElapsedTimer clock;
        clock.start();
        const auto found = QCoro::waitFor(real.search(QStringLiteral("eth")));
        QVERIFY(clock.elapsed() >= 170);
        QCOMPARE(ids(found), QStringList{"ETH"});
    }

    void quotesFollowTheIdsInOrder()
    {
        auto sleeper = std::make_shared<ManualSleeper>();
        MockMarketDataService manual(sleeper);
        auto quotes = manual.refreshWatchlist({"eth", "BTC", "LINK"});
        sleeper->advance(MockMarketDataService::kQuotesDelay);
        QCOMPARE(ids(QCoro::waitFor(quotes).value()), (QStringList{"ETH", "BTC"}));

        auto twice = manual.refreshWatchlist({"SOL", "SOL", " ETH"});
        sleeper->advance(MockMarketDataService::kQuotesDelay);
        QCOMPARE(ids(QCoro::waitFor(twice).value()), (QStringList{"SOL", "SOL"}));

        auto none = manual.refreshWatchlist({});
        QCOMPARE(sleeper->requested().size(), 3);
        sleeper->advance(MockMarketDataService::kQuotesDelay);
        QVERIFY(QCoro::waitFor(none).value().isEmpty());
    }

    void cancellationCutsTheWaitShortWithoutFailing()
    {
        auto sleeper = std::make_shared<ManualSleeper>();
        MockMarketDataService service(sleeper);
        std::stop_source stop;
        auto search = service.search(QStringLiteral("a"), stop.get_token());
        auto quotes = service.refreshWatchlist({"ADA"}, stop.get_token());
        QCOMPARE(sleeper->pendingCount(), 2);
        stop.request_stop();
        QCOMPARE(ids(QCoro::waitFor(search)), (QStringList{"SOL", "ADA"}));
        QCOMPARE(ids(QCoro::waitFor(quotes).value()), QStringList{"ADA"});
        QCOMPARE(sleeper->now().count(), 0);
    }

    void serviceErrorsDescribeThemselves()
    {
        QCOMPARE(MarketDataServiceError::httpStatus(404).errorDescription(),
                 QStringLiteral("服务器返回了异常状态码：404。"));
        QCOMPARE(MarketDataServiceError::invalidResponse().errorDescription(), QStringLiteral("无效的服务器响应。"));
        const Error error = MarketDataServiceError::httpStatus(503);
        QCOMPARE(error.code(), 503);
        QVERIFY(!error.localizedFailureReason() && !error.localizedRecoverySuggestion());
    }
};

QTEST_GUILESS_MAIN(MockServiceTest)
#include "tst_mockservice.moc"
