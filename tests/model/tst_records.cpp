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
    }

    void recordsAreReadStrictly_data()
    {
        QTest::addColumn<bool>("isEntry");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<qint64>("order"); // of a readable entry
        QTest::newRow("interval as string") << false << QByteArray(R"({"refreshInterval": "60"})") << false << 0ll;
        QTest::newRow("number for a flag") << false << QByteArray(R"({"showsMenuBarSymbol": 1})") << false << 0ll;

        const QByteArray base = R"({"id": "A", "tokenID": "BTC", "isPinnedToMenuBar": true, "showsTrend": true)";
        const auto entry = [&base](const char* rest) { return base + rest + "}"; };
        QTest::newRow("complete") << true << entry(R"(, "displayOrder": 3)") << true << 3ll;
        QTest::newRow("negative order") << true << entry(R"(, "displayOrder": -2)") << true << -2ll;
        QTest::newRow("order written as 3.0") << true << entry(R"(, "displayOrder": 3.0)") << true << 3ll;
        QTest::newRow("order past 2^53 keeps every digit")
            << true << entry(R"(, "displayOrder": 9007199254740993)") << true << 9007199254740993ll;
        QTest::newRow("missing order") << true << entry("") << false << 0ll;
        QTest::newRow("null order") << true << entry(R"(, "displayOrder": null)") << false << 0ll;
        QTest::newRow("fractional order") << true << entry(R"(, "displayOrder": 1.5)") << false << 0ll;
        QTest::newRow("order beyond 64 bits") << true << entry(R"(, "displayOrder": 1e19)") << false << 0ll;
        QTest::newRow("order as string") << true << entry(R"(, "displayOrder": "1")") << false << 0ll;
        QTest::newRow("missing showsTrend")
            << true << QByteArray(R"({"id": "A", "tokenID": "BTC", "isPinnedToMenuBar": true, "displayOrder": 0})")
            << false << 0ll;
        QTest::newRow("pin as number") << true
                                       << QByteArray(R"({"id": "A", "tokenID": "BTC", "isPinnedToMenuBar": 1, )"
                                                     R"("showsTrend": true, "displayOrder": 0})")
                                       << false << 0ll;
        QTest::newRow("null token") << true
                                    << QByteArray(R"({"id": "A", "tokenID": null, "isPinnedToMenuBar": true, )"
                                                  R"("showsTrend": true, "displayOrder": 0})")
                                    << false << 0ll;
    }
    void recordsAreReadStrictly()
    {
        QFETCH(bool, isEntry);
        QFETCH(QByteArray, json);
        QFETCH(bool, readable);
        QFETCH(qint64, order);
        if (!isEntry) {
            QCOMPARE(AppPreferences::fromJson(object(json)).ok(), readable);
            return;
        }
        const auto entry = WatchlistEntry::fromJson(object(json));
        QCOMPARE(entry.ok(), readable);
        if (readable)
            QCOMPARE(entry.value().displayOrder, order);
    }
};

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_records.moc"
