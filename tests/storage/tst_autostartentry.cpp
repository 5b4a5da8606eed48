#include "storage/AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

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

class TestAutostartEntry : public QObject {
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
        QVERIFY(problem.isEmpty());
        QVERIFY(entry.isEnabled());
        QCOMPARE(entry.filePath(), folder + "/app.zentrow.Zentrow.desktop");
        const QByteArray written = readAll(entry.filePath());
        QVERIFY(written.startsWith("[Desktop Entry]\nType=Application\n"));
        QVERIFY(written.contains("\nExec=\"/opt/Zentrow Apps/zentrow\"\n"));
        QVERIFY(written.contains("\nX-GNOME-Autostart-enabled=true\n"));
        // Nothing but the entry is left behind (QSaveFile's temporary file is renamed over it).
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"app.zentrow.Zentrow.desktop"});
        // desktop-file-validate comes with the Debian package desktop-file-utils.
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (!validator.isEmpty()) {
            QProcess validate;
            validate.start(validator, {entry.filePath()});
            QVERIFY(validate.waitForFinished(10'000));
            QVERIFY2(validate.exitCode() == 0 && validate.readAllStandardOutput().isEmpty(),
                     validate.readAllStandardError().constData());
        }

        QVERIFY(entry.setEnabled(false, &problem));
        QVERIFY(!QFile::exists(entry.filePath()));
        QVERIFY(!entry.isEnabled());
        // Nothing to remove is no failure.
        QVERIFY(entry.setEnabled(false, &problem));
        QVERIFY(problem.isEmpty());
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

    // Reading the file as it is
    void readsSwitchedOffEntriesAsOff()
    {
        const AutostartEntry entry(m_dir->path(), QStringLiteral("/usr/bin/zentrow"));
        QVERIFY(writeFile(entry.filePath(), "[Desktop Entry]\nType=Application\nExec=zentrow\nHidden=true\n"));
        QVERIFY(!entry.isEnabled());
        QVERIFY(writeFile(entry.filePath(), "[Desktop Entry]\nExec=zentrow\nX-GNOME-Autostart-enabled = false\n"));
        QVERIFY(!entry.isEnabled());
        // Keys of other groups are not the entry's.
        QVERIFY(writeFile(entry.filePath(), "[Desktop Entry]\nExec=zentrow\n[Desktop Action quit]\nHidden=true\n"));
        QVERIFY(entry.isEnabled());

        QString problem;
        QVERIFY(entry.setEnabled(true, &problem));
        QVERIFY(entry.isEnabled());
    }

    // Exec quoting
    void quotesTheExecutable_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/zentrow" << QStringLiteral("/usr/bin/zentrow");
        QTest::newRow("space") << "/opt/my apps/zentrow" << QStringLiteral("\"/opt/my apps/zentrow\"");
        QTest::newRow("dollar") << "/opt/a$b/zentrow" << QStringLiteral("\"/opt/a\\\\$b/zentrow\"");
        QTest::newRow("double quote") << "/opt/a\"b/zentrow" << QStringLiteral("\"/opt/a\\\\\"b/zentrow\"");
        QTest::newRow("backslash") << "/opt/a\\b/zentrow" << QStringLiteral("\"/opt/a\\\\\\\\b/zentrow\"");
        QTest::newRow("percent") << "/opt/100%/zentrow" << QStringLiteral("/opt/100%%/zentrow");
        QTest::newRow("non-ASCII") << "/home/张三/bin/zentrow" << QStringLiteral("/home/张三/bin/zentrow");
    }

    void quotesTheExecutable()
    {
        QFETCH(QString, executable);
        QFETCH(QString, exec);
        QCOMPARE(AutostartEntry::execValue(executable), exec);
    }

    // Bad folders
    void refusesAFileWhereTheFolderShouldBe()
    {
        const QString folder = m_dir->filePath("autostart");
        QVERIFY(writeFile(folder, "not a folder"));
        const AutostartEntry entry(folder, QStringLiteral("/usr/bin/zentrow"));
        QVERIFY(!entry.isEnabled());

        QString problem;
        QVERIFY(!entry.setEnabled(true, &problem));
        QCOMPARE(problem, QStringLiteral("无法创建文件夹 %1：同名的文件已存在").arg(folder));
        QCOMPARE(readAll(folder), QByteArray("not a folder"));
        QVERIFY(!entry.isEnabled());
        problem.clear();
        QVERIFY(entry.setEnabled(false, &problem));
        QCOMPARE(readAll(folder), QByteArray("not a folder"));
    }

    void keepsAnEntryItCannotReplaceOrRemove()
    {
        // A folder in the entry's place fails every write, even for root.
        const AutostartEntry entry(m_dir->path(), QStringLiteral("/usr/bin/zentrow"));
        QVERIFY(QDir().mkpath(entry.filePath() + "/keep"));
        QVERIFY(!entry.isEnabled());

        QString problem;
        QVERIFY(!entry.setEnabled(true, &problem));
        QVERIFY2(problem.startsWith(QStringLiteral("无法写入 %1：").arg(entry.filePath())), qPrintable(problem));
        problem.clear();
        QVERIFY(!entry.setEnabled(false, &problem));
        QVERIFY2(problem.startsWith(QStringLiteral("无法删除 %1：").arg(entry.filePath())), qPrintable(problem));
        QVERIFY(QFileInfo(entry.filePath() + "/keep").isDir());
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
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

        // A read-only configuration folder without the autostart folder cannot get one.
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString locked = m_dir->filePath("locked");
        QVERIFY(QDir().mkpath(locked));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        const AutostartEntry inLocked(locked + "/autostart", QStringLiteral("/usr/bin/zentrow"));
        QVERIFY(!inLocked.setEnabled(true, &problem));
        QCOMPARE(problem, QStringLiteral("无法创建文件夹 %1").arg(locked + "/autostart"));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestAutostartEntry)
#include "tst_autostartentry.moc"
