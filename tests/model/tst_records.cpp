#include "model/AppPreferences.h"
#include "model/WatchlistEntry.h"

#include <QJsonDocument>
#include <QTest>

namespace {

QJsonObject object(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

} // namespace

class RecordsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void preferencesFillMissingAndNullMembersOneByOne()
    {
        QVERIFY(AppPreferences::fromJson({}).value().sameAs(AppPreferences()));
        const auto partial = AppPreferences::fromJson(
            object(R"({"refreshInterval": 12.5, "showsTrendInList": false, "showsMenuBarChange": null, "extra": 1})"));
        QVERIFY(partial.ok());
        AppPreferences expected;
        expected.refreshInterval = 12.5;
        expected.showsTrendInList = false;
        QVERIFY(partial.value().sameAs(expected));
        // Members of the wrong type are not filled in but refused.
        QVERIFY(!AppPreferences::fromJson(object(R"({"refreshInterval": "60"})")).ok());
        QVERIFY(!AppPreferences::fromJson(object(R"({"showsMenuBarSymbol": 1})")).ok());
    }

    void entriesAreReadStrictly_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<qint64>("order"); // of a readable entry
        const QByteArray base = R"({"id": "A", "tokenID": "BTC", "isPinnedToMenuBar": true, "showsTrend": true)";
        const auto entry = [&base](const char* rest) { return base + rest + "}"; };
        QTest::newRow("complete") << entry(R"(, "displayOrder": 3)") << true << 3ll;
        QTest::newRow("negative order") << entry(R"(, "displayOrder": -2)") << true << -2ll;
        QTest::newRow("order written as 3.0") << entry(R"(, "displayOrder": 3.0)") << true << 3ll;
        QTest::newRow("order past 2^53 keeps every digit")
            << entry(R"(, "displayOrder": 9007199254740993)") << true << 9007199254740993ll;
        QTest::newRow("missing order") << entry("") << false << 0ll;
        QTest::newRow("null order") << entry(R"(, "displayOrder": null)") << false << 0ll;
        QTest::newRow("fractional order") << entry(R"(, "displayOrder": 1.5)") << false << 0ll;
        QTest::newRow("order beyond 64 bits") << entry(R"(, "displayOrder": 1e19)") << false << 0ll;
        QTest::newRow("order as string") << entry(R"(, "displayOrder": "1")") << false << 0ll;
        const auto changed = [&entry](const char* from, const char* to) {
            return entry(R"(, "displayOrder": 0)").replace(from, to);
        };
        QTest::newRow("missing showsTrend") << changed(R"(, "showsTrend": true)", "") << false << 0ll;
        QTest::newRow("pin as number") << changed(R"(Bar": true)", R"(Bar": 1)") << false << 0ll;
        QTest::newRow("null token") << changed(R"("BTC")", "null") << false << 0ll;
    }
    void entriesAreReadStrictly()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, readable);
        QFETCH(qint64, order);
        const auto entry = WatchlistEntry::fromJson(object(json));
        QCOMPARE(entry.ok(), readable);
        if (readable)
            QCOMPARE(entry.value().displayOrder, order);
    }
};

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_records.moc"
