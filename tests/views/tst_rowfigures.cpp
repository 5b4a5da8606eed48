#include "testlib/FakeMarketDataService.h"
#include "views/RowFigures.h"

#include <QLocale>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TokenSummary token(const QString& symbol, double price, double change = 0, QList<double> trend = {})
{
    TokenSummary t = FakeMarketDataService::token(symbol, price, change, std::move(trend));
    t.symbol = symbol;
    return t;
}

} // namespace

class TestRowFigures : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanup() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void volumeIsPriceAtLeastOneTimesScalarSum_data()
    {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<double>("price");
        QTest::addColumn<double>("volume");
        QTest::addColumn<QString>("shown");
        // B + T + C = 66 + 84 + 67 = 217; a price below 1 counts as 1.
        QTest::newRow("BTC at 0.5") << "BTC" << 0.5 << 24304.0 << "24.3K";
        QTest::newRow("BTC at 2") << "BTC" << 2.0 << 48608.0 << "48.6K";
        QTest::newRow("empty symbol") << "" << 100.0 << 0.0 << "0.0000";
        // Scalars beyond the BMP count once, by their code point, not per UTF-16 unit.
        QTest::newRow("emoji") << QString::fromUtf8("\U0001F600") << 1.0 << 0x1F600 * 112.0 << "14.4M";
        QTest::newRow("billions") << "ETH" << 1.0e5 << 1.0e5 * (69 + 84 + 72) * 112 << "2.5B";
        // 40,000 scalars of U+10FFFF overflow 32 bits; the sum must keep counting.
        QTest::newRow("overflows 32 bits") << QString::fromUcs4(std::u32string(40000, U'\U0010FFFF').c_str()) << 1.0
                                           << 40000.0 * 0x10FFFF * 112 << "4,991.2B";
    }
    void volumeIsPriceAtLeastOneTimesScalarSum()
    {
        QFETCH(QString, symbol);
        QFETCH(double, price);
        QFETCH(double, volume);
        QFETCH(QString, shown);
        const TokenSummary t = token(symbol, price);
        QCOMPARE(RowFigures::volumeValue(t), volume);
        QCOMPARE(RowFigures::compactAmount(RowFigures::volumeValue(t)), shown);
    }

    void amountsAndCompactAmounts_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("amount");
        QTest::addColumn<QString>("compact");
        QTest::newRow("one") << 1.0 << "1.00" << QStringLiteral("1.00");
        QTest::newRow("below one") << 0.1762 << "0.1762" << QStringLiteral("0.1762");
        QTest::newRow("ties to even up") << 0.99995 << "1.0000" << QStringLiteral("1.0000");
        QTest::newRow("999") << 999.0 << "999.00" << QStringLiteral("999.00");
        QTest::newRow("2,500") << 2500.0 << "2,500.00" << QStringLiteral("2.5K");
        QTest::newRow("whole thousands drop the fraction") << 3000.0 << "3,000.00" << QStringLiteral("3K");
        QTest::newRow("rounds into the next thousand") << 999950.0 << "999,950.00" << QStringLiteral("1,000K");
        QTest::newRow("millions") << 1234567.0 << "1,234,567.00" << QStringLiteral("1.2M");
        QTest::newRow("billions") << 2.5e9 << "2,500,000,000.00" << QStringLiteral("2.5B");
        // The digit count follows the signed value: every negative value gets four.
        QTest::newRow("negative") << -5.0 << "-5.0000" << QStringLiteral("-5.0000");
        QTest::newRow("negative large") << -12345.0 << "-12,345.0000" << QStringLiteral("-12,345.0000");
        QTest::newRow("not a number") << kNaN << "nan" << QStringLiteral("nan");
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "inf" << QStringLiteral("infB");
    }
    void amountsAndCompactAmounts()
    {
        QFETCH(double, value);
        QFETCH(QString, amount);
        QFETCH(QString, compact);
        QCOMPARE(RowFigures::amount(value), amount);
        QCOMPARE(RowFigures::compactAmount(value), compact);
    }

    void numbersFollowTheCurrentLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(RowFigures::amount(1234.5), QStringLiteral("1.234,50"));
        QCOMPARE(RowFigures::compactAmount(2500), QStringLiteral("2,5K"));
        QCOMPARE(RowFigures::compactAmount(3000), QStringLiteral("3K"));
        QCOMPARE(RowFigures::signedChangeAmountText(token("BTC", 200, -2.5)), QStringLiteral("-5,0000"));
    }

    void changeAmountCarriesItsSign_data()
    {
        QTest::addColumn<double>("price");
        QTest::addColumn<double>("change");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("text");
        QTest::newRow("down") << 200.0 << -2.5 << false << "-5.0000";
        QTest::newRow("up") << 200.0 << 2.5 << true << "+5.00";
        QTest::newRow("zero counts as up") << 200.0 << 0.0 << true << "+0.0000";
        QTest::newRow("negative zero counts as up") << 200.0 << -0.0 << true << "+0.0000";
        QTest::newRow("small up") << 0.5 << 10.0 << true << "+0.0500";
    }
    void changeAmountCarriesItsSign()
    {
        QFETCH(double, price);
        QFETCH(double, change);
        QFETCH(bool, up);
        QFETCH(QString, text);
        QCOMPARE(RowFigures::isUp(change), up);
        QCOMPARE(RowFigures::signedChangeAmountText(token("BTC", price, change)), text);
        QVERIFY(!RowFigures::isUp(kNaN));
    }

    void highAndLowEstimates()
    {
        const TokenSummary down = token("BTC", 100, -2);
        QCOMPARE(RowFigures::amount(RowFigures::high24h(down)), QStringLiteral("101.90"));
        QCOMPARE(RowFigures::amount(RowFigures::low24h(down)), QStringLiteral("98.44"));
        // The change's sign does not matter, only its size.
        QCOMPARE(RowFigures::high24h(token("BTC", 100, 2)), RowFigures::high24h(down));
        // The low estimate never drops below the floor.
        QCOMPARE(RowFigures::low24h(token("SHIB", 0.0001, -5)), RowFigures::kLowFloor);
        QCOMPARE(RowFigures::low24h(token("X", 1, -400)), RowFigures::kLowFloor);
        QCOMPARE(RowFigures::low24h(token("X", 0, 0)), RowFigures::kLowFloor);
        QCOMPARE(RowFigures::amount(RowFigures::low24h(token("X", 0, 0))), QStringLiteral("0.0001"));
    }

    void expandedTrendWobblesBetweenSamples()
    {
        const QList<double> trend{71000, 72200, 73650, 74120, 75900, 76320, 75456};
        const TokenSummary btc = token("BTC", 75456.36, -2.05, trend);
        const QList<double> values = RowFigures::expandedTrendValues(btc);
        // One wobble between each pair of samples, the samples themselves moved a little.
        QCOMPARE(values.size(), 13);
        QCOMPARE(values.first(), trend.first());
        QVERIFY(values.at(2) != trend.at(1) && qAbs(values.at(2) - trend.at(1)) < 75456.36 * 0.01);

        // A cheap token wobbles by at least 0.001.
        const QList<double> cheap = RowFigures::expandedTrendValues(token("X", 0.1, 0, {1, 1}));
        QCOMPARE(cheap.size(), 3);
        QCOMPARE(cheap.at(2), 1 + std::sin(0.9) * 0.001);

        // Fewer than two samples give the price alone.
        QCOMPARE(RowFigures::expandedTrendValues(token("X", 3.5, 0, {7})), QList<double>{3.5});
        QCOMPARE(RowFigures::expandedTrendValues(token("X", 3.5)), QList<double>{3.5});

        // Long and broken series keep their shape: 2n - 1 values, NaN samples stay NaN.
        QList<double> big(10000, 1.0);
        big[5] = kNaN;
        const QList<double> expanded = RowFigures::expandedTrendValues(token("X", 2, 0, big));
        QCOMPARE(expanded.size(), 19999);
        QVERIFY(std::isnan(expanded.at(9)) && std::isnan(expanded.at(10)));
        QVERIFY(std::isfinite(expanded.at(11)));
    }
};

QTEST_GUILESS_MAIN(TestRowFigures)
#include "tst_rowfigures.moc"
