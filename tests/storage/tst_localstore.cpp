#include "storage/LocalStore.h"
#include "storage/SettingsDefaultsStore.h"
#include "testlib/MemoryDefaultsStore.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {

const QByteArray kTwoEntries = R"({"watchlist":[
  {"id":"6F1C2E0A-3B9D-4E57-9C21-8A4F0D7E5B13","tokenID":"BTC","isPinnedToMenuBar":true,"showsTrend":true,"displayOrder":0},
  {"id":"0B8E4D7C-51A2-4F3E-8D6B-2C9A7E1F4B60","tokenID":"ETH","isPinnedToMenuBar":false,"showsTrend":true,"displayOrder":1}],
 "preferences":{"refreshInterval":30,"showsTrendInList":true,"launchesAtLogin":false,
   "usesLiveMenuBarUpdates":true,"showsMenuBarSymbol":true,"showsMenuBarChange":true,"showsLayoutDebugOutlines":false}})";

void verifyDefault(const StoredState& state)
{
    QCOMPARE(state.watchlist.size(), 1);
    const WatchlistEntry& entry = state.watchlist.first();
    QCOMPARE(entry.tokenID, QStringLiteral("BTC"));
    QVERIFY(entry.isPinnedToMenuBar);
    QVERIFY(entry.showsTrend);
    QCOMPARE(entry.displayOrder, 0);
    QCOMPARE(entry.id.size(), 36);
    QVERIFY(state.preferences.sameAs(AppPreferences()));
}

} // namespace

class LocalStoreTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstRunGivesDefaultWithFreshIDs()
    {
        auto defaults = std::make_shared<MemoryDefaultsStore>();
        LocalStore store(defaults);
        const StoredState first = store.load();
        verifyDefault(first);
        const StoredState second = store.load();
        verifyDefault(second);
        QVERIFY(first.watchlist.first().id != second.watchlist.first().id);
        QCOMPARE(defaults->writes, 0);
    }

    void readsTheDocumentAsStored()
    {
        auto defaults = std::make_shared<MemoryDefaultsStore>();
        defaults->values.insert(LocalStore::kStorageKey, kTwoEntries);
        const StoredState state = LocalStore(defaults).load();
        QCOMPARE(state.watchlist.size(), 2);
        QCOMPARE(state.watchlist.at(1).tokenID, QStringLiteral("ETH"));
        QCOMPARE(state.watchlist.at(1).id, QStringLiteral("0B8E4D7C-51A2-4F3E-8D6B-2C9A7E1F4B60"));

        // Contents are not checked: empty lists, double pins and gaps pass through.
        defaults->values.insert(LocalStore::kStorageKey, QByteArray(R"({"watchlist":[],"preferences":{}})"));
        const StoredState empty = LocalStore(defaults).load();
        QVERIFY(empty.watchlist.isEmpty());
        QVERIFY(empty.preferences.sameAs(AppPreferences()));

        QByteArray odd = kTwoEntries;
        odd.replace(R"("isPinnedToMenuBar":false)", R"("isPinnedToMenuBar":true)");
        odd.replace(R"("displayOrder":1)", R"("displayOrder":7)");
        defaults->values.insert(LocalStore::kStorageKey, odd);
        const StoredState kept = LocalStore(defaults).load();
        QVERIFY(kept.watchlist.at(0).isPinnedToMenuBar && kept.watchlist.at(1).isPinnedToMenuBar);
        QCOMPARE(kept.watchlist.at(1).displayOrder, 7);
    }

    void unreadableDocumentsGiveTheDefault_data()
    {
        QTest::addColumn<QVariant>("stored");
        QByteArray noOrder = kTwoEntries;
        noOrder.replace(R"(,"displayOrder":1)", "");
        QByteArray noPreferences = kTwoEntries.left(kTwoEntries.indexOf(",\n \"preferences\"")) + "}";

        QTest::newRow("a string, not binary data") << QVariant(QString::fromLatin1(kTwoEntries));
        QTest::newRow("a number") << QVariant(42);
        QTest::newRow("empty bytes") << QVariant(QByteArray());
        QTest::newRow("not JSON") << QVariant(QByteArray("zentrow"));
        QTest::newRow("JSON array") << QVariant(QByteArray("[1,2]"));
        QTest::newRow("one entry lacks displayOrder") << QVariant(noOrder);
        QTest::newRow("no preferences") << QVariant(noPreferences);
        QTest::newRow("null preferences") << QVariant(QByteArray(R"({"watchlist":[],"preferences":null})"));
        QTest::newRow("null watchlist") << QVariant(QByteArray(R"({"watchlist":null,"preferences":{}})"));
        QTest::newRow("entry is not an object") << QVariant(QByteArray(R"({"watchlist":[1],"preferences":{}})"));
        QTest::newRow("preferences of wrong type")
            << QVariant(QByteArray(R"({"watchlist":[],"preferences":{"refreshInterval":"30"}})"));
        QTest::newRow("deeply nested") << QVariant(QByteArray(100000, '[') + QByteArray(100000, ']'));
        QTest::newRow("invalid UTF-8") << QVariant(
            QByteArray("{\"watchlist\":[{\"id\":\"\xC3\x28\",\"tokenID\":\"BTC\"}],\"preferences\":{}}"));
        QByteArray garbage(10 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(7);
        generator.fillRange(reinterpret_cast<quint32*>(garbage.data()), garbage.size() / 4);
        QTest::newRow("10 MB of garbage") << QVariant(garbage);
    }
    void unreadableDocumentsGiveTheDefault()
    {
        QFETCH(QVariant, stored);
        auto defaults = std::make_shared<MemoryDefaultsStore>();
        defaults->values.insert(LocalStore::kStorageKey, stored);
        verifyDefault(LocalStore(defaults).load());
        // Nothing is written back: the unreadable value waits for the next save.
        QCOMPARE(defaults->values.value(LocalStore::kStorageKey), stored);
        QCOMPARE(defaults->writes, 0);
    }

    void saveThenLoadSurvivesARestartByteForByte()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("zentrow.conf"));
        StoredState state{{WatchlistEntry{WatchlistEntry::makeID(), QStringLiteral("ÉTHΣ币"), false, true, 0},
                           WatchlistEntry{WatchlistEntry::makeID(), QStringLiteral("BTC"), true, false, 1}},
                          {}};
        state.preferences.refreshInterval = 12.5;
        state.preferences.showsMenuBarSymbol = false;
        {
            LocalStore(std::make_shared<SettingsDefaultsStore>(file)).save(state);
        }
        auto reopened = std::make_shared<SettingsDefaultsStore>(file);
        const auto bytes = reopened->data(LocalStore::kStorageKey);
        QVERIFY(bytes);
        QCOMPARE(*bytes, *state.encode());
        QVERIFY(bytes->contains(QStringLiteral("ÉTHΣ币").toUtf8()));
        const StoredState loaded = LocalStore(reopened).load();
        QCOMPARE(loaded.watchlist, state.watchlist);
        QVERIFY(loaded.preferences.sameAs(state.preferences));
    }

    void failedEncodeKeepsThePreviousDocument()
    {
        auto defaults = std::make_shared<MemoryDefaultsStore>();
        LocalStore store(defaults);
        StoredState state = StoredState::makeDefault();
        store.save(state);
        const QVariant before = defaults->values.value(LocalStore::kStorageKey);
        state.preferences.refreshInterval = std::numeric_limits<double>::quiet_NaN();
        store.save(state);
        state.preferences.refreshInterval = -std::numeric_limits<double>::infinity();
        store.save(state);
        QCOMPARE(defaults->writes, 1);
        QCOMPARE(defaults->values.value(LocalStore::kStorageKey), before);
    }

    void settingsStoreTreatsNonBinaryValuesAsAbsent()
    {
        QTemporaryDir dir;
        SettingsDefaultsStore store(dir.filePath(QStringLiteral("s.conf")));
        store.settings().setValue(LocalStore::kStorageKey, QStringLiteral("{}"));
        QVERIFY(!store.data(LocalStore::kStorageKey));
        store.set(QByteArray("\x00\xff", 2), LocalStore::kStorageKey);
        QCOMPARE(*store.data(LocalStore::kStorageKey), QByteArray("\x00\xff", 2));
    }
};

QTEST_GUILESS_MAIN(LocalStoreTest)
#include "tst_localstore.moc"
