// What the app keeps on disk: its stored document, and the autostart entry for the session.
#include "storage/AutostartEntry.h"
#include "storage/LocalStore.h"
#include "storage/SettingsDefaultsStore.h"
#include "testlib/CommandOutput.h"
#include "testlib/MemoryDefaultsStore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

#include <unistd.h>

namespace {

const QByteArray kTwoEntries = R"({"watchlist":[
  {"id":"6F1C2E0A-3B9D-4E57-9C21-8A4F0D7E5B13","tokenID":"BTC","isPinnedToMenuBar":true,"showsTrend":true,"displayOrder":0},
  {"id":"0B8E4D7C-51A2-4F3E-8D6B-2C9A7E1F4B60","tokenID":"ETH","isPinnedToMenuBar":false,"showsTrend":true,"displayOrder":1}],
 "preferences":{"refreshInterval":30,"showsTrendInList":true,"launchesAtLogin":false,
   "usesLiveMenuBarUpdates":true,"showsMenuBarSymbol":true,"showsMenuBarChange":true,"showsLayoutDebugOutlines":false}})";

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

} // namespace

class TestStorage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // Writing and removing
    void writesAnEntryTheSessionStartsAndRemovesIt()
    {
        // The folder is made when missing.
        const QString folder = m_dir->filePath("config/autostart");
        const AutostartEntry entry(folder, QStringLiteral("/opt/Zentrow Apps/zentrow"));
        QVERIFY(!entry.isEnabled());

        QString problem;
        QVERIFY2(entry.setEnabled(true, &problem), qPrintable(problem));
        QVERIFY(entry.isEnabled());
        // desktop-file-validate below checks the rest of the file.
        const QByteArray written = readAll(entry.filePath());
        QVERIFY(written.contains("\nExec=\"/opt/Zentrow Apps/zentrow\"\n"));
        QVERIFY(written.contains("\nX-GNOME-Autostart-enabled=true\n"));
        // Nothing but the entry is left behind (QSaveFile's temporary file is renamed over it).
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"app.zentrow.Zentrow.desktop"});
        // desktop-file-validate comes with the Debian package desktop-file-utils.
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (!validator.isEmpty()) {
            const CommandRun validate = runCommand(validator, {entry.filePath()});
            QVERIFY2(validate.exitCode == 0 && validate.out.isEmpty(), validate.out + validate.err);
        }

        QVERIFY(entry.setEnabled(false, &problem));
        QVERIFY(!QFile::exists(entry.filePath()));
        // Nothing to remove is no failure.
        QVERIFY(entry.setEnabled(false, &problem));

        // Entries switched off by hand read as off; keys of other groups are not the entry's.
        QVERIFY(writeFile(entry.filePath(), "[Desktop Entry]\nType=Application\nExec=zentrow\nHidden=true\n"));
        QVERIFY(!entry.isEnabled());
        QVERIFY(writeFile(entry.filePath(), "[Desktop Entry]\nExec=zentrow\nX-GNOME-Autostart-enabled = false\n"));
        QVERIFY(!entry.isEnabled());
        QVERIFY(writeFile(entry.filePath(), "[Desktop Entry]\nExec=zentrow\n[Desktop Action quit]\nHidden=true\n"));
        QVERIFY(entry.isEnabled());
    }

    void followsXdgConfigHome()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_dir->path().toUtf8());
        QCOMPARE(AutostartEntry::userFolder(), m_dir->path() + "/autostart");
        // Relative values are to be ignored, says the base directory specification.
        qputenv("XDG_CONFIG_HOME", "relative/config");
        QCOMPARE(AutostartEntry::userFolder(), QDir::homePath() + "/.config/autostart");
        qputenv("XDG_CONFIG_HOME", saved);
        QCOMPARE(AutostartEntry::forCurrentUser().executable(), QCoreApplication::applicationFilePath());
    }

    void quotesTheExecutable()
    {
        const std::pair<QString, QString> cases[] = {{"/usr/bin/zentrow", "/usr/bin/zentrow"},
                                                     {"/opt/my apps/zentrow", "\"/opt/my apps/zentrow\""},
                                                     {"/opt/a$b/zentrow", "\"/opt/a\\\\$b/zentrow\""},
                                                     {"/opt/a\"b/zentrow", "\"/opt/a\\\\\"b/zentrow\""},
                                                     {"/opt/a\\b/zentrow", "\"/opt/a\\\\\\\\b/zentrow\""},
                                                     {"/opt/100%/zentrow", "/opt/100%%/zentrow"},
                                                     {"/home/张三/bin/zentrow", "/home/张三/bin/zentrow"}};
        for (const auto& [executable, exec] : cases) {
            QCOMPARE(AutostartEntry::execValue(executable), exec);
        }
    }

    // Something in the way: it stays as it is, and the problem says what failed.
    void keepsWhatIsInTheWay()
    {
        QString problem;
        const QString folder = m_dir->filePath("autostart");
        QVERIFY(writeFile(folder, "not a folder"));
        const AutostartEntry entry(folder, QStringLiteral("/usr/bin/zentrow"));
        QVERIFY(!entry.isEnabled());
        QVERIFY(!entry.setEnabled(true, &problem));
        QCOMPARE(problem, QStringLiteral("无法创建文件夹 %1：同名的文件已存在").arg(folder));
        QVERIFY(entry.setEnabled(false, &problem));
        QCOMPARE(readAll(folder), QByteArray("not a folder"));
        // Nor can a folder be made below the file.
        QVERIFY(!AutostartEntry(folder + "/autostart", QStringLiteral("/usr/bin/zentrow")).setEnabled(true, &problem));
        QCOMPARE(problem, QStringLiteral("无法创建文件夹 %1").arg(folder + "/autostart"));

        // A folder in the entry's place fails every write, even for root.
        const AutostartEntry blocked(m_dir->filePath("other"), QStringLiteral("/usr/bin/zentrow"));
        QVERIFY(QDir().mkpath(blocked.filePath() + "/keep"));
        QVERIFY(!blocked.isEnabled());
        QVERIFY(!blocked.setEnabled(true, &problem));
        QVERIFY2(problem.startsWith(QStringLiteral("无法写入 %1：").arg(blocked.filePath())), qPrintable(problem));
        QVERIFY(!blocked.setEnabled(false, &problem));
        QVERIFY2(problem.startsWith(QStringLiteral("无法删除 %1：").arg(blocked.filePath())), qPrintable(problem));
        QCOMPARE(QDir(m_dir->filePath("other")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"app.zentrow.Zentrow.desktop"});
    }

    void reportsAReadOnlyFolder()
    {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders; the folder-in-the-way cases cover failed writes");
        const QString folder = m_dir->filePath("autostart");
        const AutostartEntry entry(folder, QStringLiteral("/usr/bin/zentrow"));
        QString problem;
        QVERIFY(entry.setEnabled(true, &problem));
        const QByteArray before = readAll(entry.filePath());
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));

        const AutostartEntry moved(folder, QStringLiteral("/opt/zentrow/bin/zentrow"));
        QVERIFY(!moved.setEnabled(true, &problem));
        QVERIFY(problem.startsWith(QStringLiteral("无法写入 %1：").arg(entry.filePath())));
        QCOMPARE(readAll(entry.filePath()), before);
        QVERIFY(!entry.setEnabled(false, &problem));
        QVERIFY(problem.startsWith(QStringLiteral("无法删除 %1：").arg(entry.filePath())));
        QVERIFY(entry.isEnabled());
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // The stored document.
    void readsTheDocumentAsStored()
    {
        auto defaults = std::make_shared<MemoryDefaultsStore>();
        defaults->values.insert(LocalStore::kStorageKey, kTwoEntries);
        const StoredState state = LocalStore(defaults).load();
        QCOMPARE(state.watchlist.size(), 2);
        QCOMPARE(state.watchlist.at(1).id, QStringLiteral("0B8E4D7C-51A2-4F3E-8D6B-2C9A7E1F4B60"));

        // Contents are not checked: empty lists, double pins and gaps pass through.
        defaults->values.insert(LocalStore::kStorageKey, QByteArray(R"({"watchlist":[],"preferences":{}})"));
        QVERIFY(LocalStore(defaults).load().watchlist.isEmpty());
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
        // A value that is no binary data at all is SettingsDefaultsStore's case, below.
        QTest::addColumn<QVariant>("stored");
        QByteArray noOrder = kTwoEntries;
        noOrder.replace(R"(,"displayOrder":1)", "");
        QByteArray noPreferences = kTwoEntries.left(kTwoEntries.indexOf(",\n \"preferences\"")) + "}";

        QTest::newRow("nothing stored") << QVariant();
        QTest::newRow("empty bytes") << QVariant(QByteArray());
        QTest::newRow("not JSON") << QVariant(QByteArray("zentrow"));
        QTest::newRow("JSON array") << QVariant(QByteArray("[1,2]"));
        QTest::newRow("one entry lacks displayOrder") << QVariant(noOrder);
        QTest::newRow("no preferences") << QVariant(noPreferences);
        QTest::newRow("null preferences") << QVariant(QByteArray(R"({"watchlist":[],"preferences":null})"));
        QTest::newRow("null watchlist") << QVariant(QByteArray(R"({"watchlist":null,"preferences":{}})"));
        QTest::newRow("entry is not an object") << QVariant(QByteArray(R"({"watchlist":[1],"preferences":{}})"));
        QTest::newRow("deeply nested") << QVariant(QByteArray(100000, '[') + QByteArray(100000, ']'));
        QTest::newRow("invalid UTF-8") << QVariant(
            QByteArray("{\"watchlist\":[{\"id\":\"\xC3\x28\",\"tokenID\":\"BTC\"}],\"preferences\":{}}"));
    }
    void unreadableDocumentsGiveTheDefault()
    {
        QFETCH(QVariant, stored);
        auto defaults = std::make_shared<MemoryDefaultsStore>();
        if (stored.isValid()) {
            defaults->values.insert(LocalStore::kStorageKey, stored);
        }
        LocalStore store(defaults);
        const StoredState first = store.load();
        QCOMPARE(first.watchlist.size(), 1);
        const WatchlistEntry& entry = first.watchlist.first();
        QCOMPARE(entry, (WatchlistEntry{entry.id, QStringLiteral("BTC"), true, true, 0}));
        QVERIFY(!entry.id.isEmpty() && entry.id != store.load().watchlist.first().id); // a fresh id each time
        QVERIFY(first.preferences.sameAs(AppPreferences()));
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
        // Compact UTF-8 JSON, the watchlist before the preferences.
        QVERIFY2(bytes->startsWith(R"({"watchlist":[{)") && bytes->contains(R"(],"preferences":{)") &&
                     !bytes->contains('\n') && bytes->contains(QStringLiteral("ÉTHΣ币").toUtf8()),
                 bytes->constData());
        const StoredState loaded = LocalStore(reopened).load();
        QCOMPARE(loaded.watchlist, state.watchlist);
        QVERIFY(loaded.preferences.sameAs(state.preferences));
    }

    void priceAlertsNeverCostTheRestOfTheDocument()
    {
        auto defaults = std::make_shared<MemoryDefaultsStore>();
        LocalStore store(defaults);
        defaults->values.insert(LocalStore::kStorageKey, kTwoEntries);
        const StoredState plain = store.load();
        QVERIFY(plain.priceAlertsEnabled && plain.priceAlerts.isEmpty());
        // Without alerts the document is written as it always was.
        const QByteArray plainBytes = *plain.encode();
        QVERIFY(!plainBytes.contains("priceAlerts"));

        const QByteArray alert = R"({"id":"A1","tokenID":"btc","kind":"below","threshold":70000.5,"isEnabled":true,
                                     "isFired":true,"isUnseen":false,"evaluatedQuoteTime":1700000000123})";
        const auto withAlerts = [&](const QByteArray& member) {
            defaults->values.insert(LocalStore::kStorageKey,
                                    kTwoEntries.chopped(1) + R"(,"priceAlerts":)" + member + "}");
            return store.load();
        };
        // Each corrupt entry is dropped alone (an unknown kind, a zero threshold, a missing state),
        // and so is an alert for a token no longer watched.
        const auto changed = [&alert](const char* from, const char* to) { return QByteArray(alert).replace(from, to); };
        const QByteArrayList alerts{
            changed(R"("below")", R"("sideways")"), "3",  changed("70000.5", "0"), changed(R"("isFired":true,)", ""),
            changed(R"("btc")", R"("SOL")"),        alert};
        const StoredState read = withAlerts(R"({"enabled":false,"alerts":[)" + alerts.join(',') + "]}");
        QCOMPARE(read.watchlist, plain.watchlist);
        QVERIFY(read.preferences.sameAs(plain.preferences));
        QVERIFY(!read.priceAlertsEnabled);
        QCOMPARE(read.priceAlerts, (QList<PriceAlert>{{"A1", "BTC", PriceAlert::Kind::Below, 70000.5, true, true, false,
                                                       1700000000123}}));
        // A member of the wrong shape reads as no alerts.
        for (const QByteArray& member : {QByteArray("[]"), QByteArray("null"), QByteArray(R"({"alerts":{"a":1}})")}) {
            const StoredState odd = withAlerts(member);
            QCOMPARE(odd.watchlist, plain.watchlist);
            QVERIFY(odd.priceAlertsEnabled && odd.priceAlerts.isEmpty());
        }

        // Written after everything an older version writes, which that version still reads as
        // before (it ignores members it does not know), and read back as saved.
        store.save(read);
        const QByteArray bytes = defaults->values.value(LocalStore::kStorageKey).toByteArray();
        QVERIFY2(bytes.startsWith(plainBytes.chopped(1) + R"(,"priceAlerts":{"alerts":[{)"), bytes.constData());
        const StoredState reread = store.load();
        QCOMPARE(reread.priceAlerts, read.priceAlerts);
        QVERIFY(!reread.priceAlertsEnabled);
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
        QCOMPARE(defaults->writes, 1);
        QCOMPARE(defaults->values.value(LocalStore::kStorageKey), before);
    }

    void settingsStoreTreatsNonBinaryValuesAsAbsentAndWritesTheLatestValue()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("s.conf"));
        SettingsDefaultsStore store(file);
        store.settings().setValue(LocalStore::kStorageKey, QStringLiteral("{}"));
        QVERIFY(!store.data(LocalStore::kStorageKey));
        // Writes happen on another thread: a value reads back at once, a burst of them ends in
        // the file with the last one, and another key written beside it is kept too.
        for (int i = 0; i < 50; ++i) {
            store.set(QByteArray::number(i), LocalStore::kStorageKey);
        }
        store.set(QByteArray("\x00\xff", 2), LocalStore::kStorageKey);
        store.set(QByteArray("other"), QStringLiteral("other"));
        QCOMPARE(*store.data(LocalStore::kStorageKey), QByteArray("\x00\xff", 2));
        store.flush();
        const SettingsDefaultsStore reader(file);
        QCOMPARE(*reader.data(LocalStore::kStorageKey), QByteArray("\x00\xff", 2));
        QCOMPARE(*reader.data(QStringLiteral("other")), QByteArray("other"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
