// The built-in catalogue and its stand-in market, which the HTTP service falls back on for searches.
#include "services/MockMarketDataService.h"
#include "testlib/FakeMarketDataService.h"
#include "testlib/ManualSleeper.h"

#include <QCoroTask>
#include <QTest>

class TestMockMarketDataService : public QObject {
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
    }
    void searchMatchesSymbolOrName()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        QCOMPARE(FakeMarketDataService::ids(MockMarketDataService::matches(query)), expected);
    }

    void searchWaitsOnlyForRealText()
    {
        auto sleeper = std::make_shared<ManualSleeper>();
        MockMarketDataService service(sleeper);
        const auto blank = QCoro::waitFor(service.search(QStringLiteral(" \n\t ")));
        QVERIFY(blank.isEmpty());
        QVERIFY(sleeper->requested().isEmpty());

        // Without an injected sleeper the wait runs on a real timer, and ends.
        MockMarketDataService real;
        QCOMPARE(FakeMarketDataService::ids(QCoro::waitFor(real.search(QStringLiteral("eth")))), QStringList{"ETH"});
    }
};

QTEST_GUILESS_MAIN(TestMockMarketDataService)
#include "tst_mockservice.moc"
