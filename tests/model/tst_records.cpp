#include "model/AppPreferences.h"
#include "model/StoredState.h"
#include "model/TokenSummary.h"
#include "model/WatchlistEntry.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

#include <limits>

namespace {

QJsonObject object(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

} // namespace

class RecordsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void preferencesFillMissingAndNullMembersOneByOne()
    {
        const auto empty = AppPreferences::fromJson({});
        QVERIFY(empty.ok());
        QVERIFY(empty.value().sameAs(AppPreferences()));
        QCOMPARE(empty.value().refreshInterval, 30.0);

        const auto partial = AppPreferences::fromJson(
            object(R"({"refreshInterval": 60, "showsTrendInList": false, "showsMenuBarChange": null, "extra": 1})"));
        QVERIFY(partial.ok());
        QCOMPARE(partial.value().refreshInterval, 60.0);
        QCOMPARE(partial.value().showsTrendInList, false);
        QCOMPARE(partial.value().showsMenuBarChange, true);
        QCOMPARE(partial.value().usesLiveMenuBarUpdates, true);
        QCOMPARE(partial.value().showsLayoutDebugOutlines, false);

        QCOMPARE(AppPreferences::fromJson(object(R"({"refreshInterval": 12.5})")).value().refreshInterval, 12.5);
    }

    void preferencesRejectWrongTypes_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("interval as string") << QByteArray(R"({"refreshInterval": "60"})");
        QTest::newRow("number for a flag") << QByteArray(R"({"showsMenuBarSymbol": 1})");
        QTest::newRow("string for a flag") << QByteArray(R"({"launchesAtLogin": "true"})");
        QTest::newRow("array for interval") << QByteArray(R"({"refreshInterval": [30]})");
    }
    void preferencesRejectWrongTypes()
    {
        QFETCH(QByteArray, json);
        const auto read = AppPreferences::fromJson(QJsonDocument::fromJson(json).object());
        QVERIFY(!read.ok());
        QCOMPARE(read.error().domain(), Error::Domain::Decoding);
        QVERIFY(!read.error().localizedDescription().isEmpty());
    }

    void entriesAreStrict_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("readable");
        const QByteArray base = R"("id": "A", "tokenID": "BTC", "isPinnedToMenuBar": true, "showsTrend": true)";
        QTest::newRow("complete") << "{" + base + R"(, "displayOrder": 3})" << true;
        QTest::newRow("negative order") << "{" + base + R"(, "displayOrder": -2})" << true;
        QTest::newRow("order written as 3.0") << "{" + base + R"(, "displayOrder": 3.0})" << true;
        QTest::newRow("missing order") << "{" + base + "}" << false;
        QTest::newRow("null order") << "{" + base + R"(, "displayOrder": null})" << false;
        QTest::newRow("fractional order") << "{" + base + R"(, "displayOrder": 1.5})" << false;
        QTest::newRow("order beyond 64 bits") << "{" + base + R"(, "displayOrder": 1e19})" << false;
        QTest::newRow("order as string") << "{" + base + R"(, "displayOrder": "1"})" << false;
        QTest::newRow("missing showsTrend")
            << QByteArray(R"({"id": "A", "tokenID": "BTC", "isPinnedToMenuBar": true, "displayOrder": 0})") << false;
        QTest::newRow("pin as number")
            << QByteArray(
                   R"({"id": "A", "tokenID": "BTC", "isPinnedToMenuBar": 1, "showsTrend": true, "displayOrder": 0})")
            << false;
        QTest::newRow("null token")
            << QByteArray(
                   R"({"id": "A", "tokenID": null, "isPinnedToMenuBar": true, "showsTrend": true, "displayOrder": 0})")
            << false;
    }
    void entriesAreStrict()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, readable);
        QCOMPARE(WatchlistEntry::fromJson(QJsonDocument::fromJson(json).object()).ok(), readable);
    }

    void largeIntegralOrderKeepsEveryDigit()
    {
        const auto entry = WatchlistEntry::fromJson(object(
            R"({"id": "A", "tokenID": "B", "isPinnedToMenuBar": false, "showsTrend": false, "displayOrder": 9007199254740993})"));
        QVERIFY(entry.ok());
        QCOMPARE(entry.value().displayOrder, Q_INT64_C(9007199254740993));
    }

    void tokenSummaryRoundTripsAndLeavesOutAbsentMembers()
    {
        TokenSummary token = TokenSummary::fallbackCatalog().at(1);
        const auto json = token.toJson();
        QVERIFY(json);
        QVERIFY(json->contains(QStringLiteral("rank")));
        QVERIFY(!json->contains(QStringLiteral("logoURL")));
        QVERIFY(!json->contains(QStringLiteral("high24h")) && !json->contains(QStringLiteral("trend7dFine")));

        token.rank.reset();
        token.logoURL = QUrl(QStringLiteral("https://img.example/eth.png"));
        token.low24h = 2301.5;
        token.trend7dFine = {2290, 2337.24};
        const auto withLogo = token.toJson();
        QVERIFY(!withLogo->contains(QStringLiteral("rank")));
        QCOMPARE(withLogo->value(QStringLiteral("logoURL")).toString(), QStringLiteral("https://img.example/eth.png"));
        const auto back = TokenSummary::fromJson(*withLogo);
        QVERIFY(back.ok());
        QCOMPARE(back.value(), token);
        QCOMPARE(qHash(back.value()), qHash(token));
        TokenSummary otherLow = token;
        otherLow.low24h.reset();
        QVERIFY(!(otherLow == token));

        QJsonObject badLogo = *withLogo;
        badLogo.insert(QStringLiteral("logoURL"), QString());
        QVERIFY(!TokenSummary::fromJson(badLogo).ok());
        badLogo.insert(QStringLiteral("logoURL"), QJsonValue::Null);
        QVERIFY(TokenSummary::fromJson(badLogo).ok());

        token.trend7d.append(std::numeric_limits<double>::quiet_NaN());
        QVERIFY(!token.toJson());
    }

    void entryIDsAreFreshCanonicalUUIDs()
    {
        const QString first = WatchlistEntry::makeID();
        const QString second = WatchlistEntry::makeID();
        QVERIFY(first != second);
        const QRegularExpression canonical(
            QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"));
        QVERIFY2(canonical.match(first).hasMatch(), qPrintable(first));
        QVERIFY2(canonical.match(second).hasMatch(), qPrintable(second));
    }

    void storedStateEncodesCompactWatchlistFirst()
    {
        StoredState state{{WatchlistEntry{QStringLiteral("E1"), QStringLiteral("BTC"), true, true, 0}}, {}};
        state.preferences.refreshInterval = 45;
        const auto bytes = state.encode();
        QVERIFY(bytes);
        QVERIFY(bytes->startsWith(R"({"watchlist":[{)"));
        QVERIFY(bytes->contains(R"(],"preferences":{)"));
        QVERIFY(!bytes->contains(' '));
        QVERIFY(!bytes->contains('\n'));
    }
};

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_records.moc"
