#include "support/DecimalFormat.h"
#include "testlib/StateHarness.h"

#include <QTest>

#include <limits>

class DisplayTextsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

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
        QTest::newRow("2.665") << 2.665 << "2.66";
        QTest::newRow("1.005") << 1.005 << "1.00";
        QTest::newRow("0.99995") << 0.99995 << "1.0000";
        QTest::newRow("0.00015") << 0.00015 << "0.0002";
        QTest::newRow("999.995") << 999.995 << "1,000.00";
        QTest::newRow("beyond double digits") << 123456789012345678901234.0 << "123,456,789,012,345,690,000,000.00";
        QTest::newRow("denormal") << 5e-324 << "0.0000";
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
        QCOMPARE(state.pinnedMenuBarToken()->id, QStringLiteral("BTC"));
        // The symbol and change switches show in the settings view's preview (tst_settingsview).
        QCOMPARE(state.menuBarDisplayText(), QStringLiteral("BTC 75,456.36 -2.05%"));

        // No pin at all: the first listed token that has a snapshot.
        state.pinToMenuBar(QStringLiteral("NONE"));
        QCOMPARE(state.menuBarDisplayText(), QStringLiteral("ETH 2,337.24 -3.08%"));
    }

    void freshlyAddedTokenShowsPlaceholders()
    {
        StateHarness h;
        h.storeDocument(StoredState{});
        AppState& state = h.make();
        state.addToken(TokenSummary{"PEPE", "PEPE", "Pepe", std::nullopt, 0, 0, {}, "pepe", std::nullopt});
        QCOMPARE(state.menuBarDisplayText(), QStringLiteral("PEPE -- --"));
    }
};

QTEST_GUILESS_MAIN(DisplayTextsTest)
#include "tst_displaytexts.moc"
