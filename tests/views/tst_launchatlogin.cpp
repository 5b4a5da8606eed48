// The settings view's "登录时启动" box against a real autostart folder.
#include "storage/AutostartEntry.h"
#include "testlib/StateHarness.h"
#include "views/SettingsView.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

struct Fixture {
    StateHarness h;
    std::unique_ptr<SettingsView> view;

    explicit Fixture(bool storedChoice = false)
    {
        AppState& state = h.make();
        h.settle();
        AppPreferences preferences = state.preferences();
        preferences.launchesAtLogin = storedChoice;
        state.setPreferences(preferences);
        view = std::make_unique<SettingsView>(state, SettingsTab::general, SettingsView::kLabelColumnWidth,
                                              SettingsView::kContentWidth, [](const QSizeF&) {});
        view->show();
        h.settle();
    }
    ~Fixture()
    {
        view.reset();
        h.settle();
    }

    QCheckBox* box() const { return view->findChild<QCheckBox*>(QStringLiteral("launchesAtLoginCheckBox")); }
    QLabel* message() const { return view->findChild<QLabel*>(QStringLiteral("launchesAtLoginMessage")); }
    void click() const { QTest::mouseClick(box(), Qt::LeftButton, {}, QPoint(8, box()->height() / 2)); }
    bool storedChoice() const { return h.stored().preferences.launchesAtLogin; }
};

} // namespace

class TestLaunchAtLogin : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void showsTheFileNotTheStoredChoice();
    void tickingWritesTheEntryAndUntickingRemovesIt();
    void aFailedWriteShowsTheTruthAndSaysWhy();

private:
    QTemporaryDir m_config;
    QString entryPath() const { return m_config.filePath("autostart/app.zentrow.Zentrow.desktop"); }
};

void TestLaunchAtLogin::initTestCase()
{
    QVERIFY(m_config.isValid());
    // The view writes the user's own entry; here that is a temporary one.
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
}

void TestLaunchAtLogin::cleanup()
{
    QDir(m_config.path()).removeRecursively();
    QVERIFY(QDir().mkpath(m_config.path()));
}

void TestLaunchAtLogin::showsTheFileNotTheStoredChoice()
{
    {
        // Stored as on, but the entry was removed by hand: the session will not start the app.
        Fixture f(true);
        QVERIFY(!f.box()->isChecked());
    }
    QString problem;
    QVERIFY(AutostartEntry::forCurrentUser().setEnabled(true, &problem));
    {
        Fixture f(false);
        QVERIFY(f.box()->isChecked());
    }
    // Switched off in the session's startup settings.
    QFile entry(entryPath());
    QVERIFY(entry.open(QIODevice::Append));
    entry.write("X-GNOME-Autostart-enabled=false\n");
    entry.close();
    Fixture f(true);
    QVERIFY(!f.box()->isChecked());
}

void TestLaunchAtLogin::tickingWritesTheEntryAndUntickingRemovesIt()
{
    Fixture f;
    QCOMPARE(f.box()->text(), QStringLiteral("登录时启动"));
    QCOMPARE(f.view->findChild<QLabel*>("launchAtLoginGroupTitle")->text(), QStringLiteral("启动"));
    const auto top = [&](const char* name) {
        return f.view->findChild<QWidget*>(name)->mapTo(f.view.get(), QPoint()).y();
    };
    // Its own group, between the status-bar options and debugging.
    QVERIFY(top("menuBarGroup") < top("launchAtLoginGroup") && top("launchAtLoginGroup") < top("debugGroup"));
    QVERIFY(!f.message()->isVisible());
    QVERIFY(!f.box()->isChecked());
    f.click();
    QVERIFY(f.box()->isChecked());
    QFile entry(entryPath());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(entry.readAll().contains(
        "\nExec=" + AutostartEntry::execValue(QCoreApplication::applicationFilePath()).toUtf8() + "\n"));
    QVERIFY(f.h.state->preferences().launchesAtLogin);
    QVERIFY(f.storedChoice());

    f.click();
    QVERIFY(!f.box()->isChecked());
    QVERIFY(!QFile::exists(entryPath()));
    QVERIFY(!f.storedChoice());
    QVERIFY(!f.message()->isVisible());
}

void TestLaunchAtLogin::aFailedWriteShowsTheTruthAndSaysWhy()
{
    // A file where the autostart folder should be.
    QFile blocker(m_config.filePath("autostart"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Fixture f;
    const AppPreferences before = f.h.stored().preferences;
    f.click();
    QVERIFY(!f.box()->isChecked());
    QVERIFY(f.message()->isVisible());
    QCOMPARE(f.message()->text(),
             QStringLiteral("无法创建文件夹 %1：同名的文件已存在").arg(m_config.filePath("autostart")));
    QVERIFY(!f.h.state->preferences().launchesAtLogin);
    QVERIFY(f.h.stored().preferences.sameAs(before));

    // Once the folder can be made, the next tick works and the message goes.
    QVERIFY(QFile::remove(m_config.filePath("autostart")));
    f.click();
    QVERIFY(f.box()->isChecked());
    QVERIFY(!f.message()->isVisible());
    QVERIFY(QFile::exists(entryPath()));

    // An entry that cannot be removed stays ticked.
    const QString other = m_config.filePath("other");
    QVERIFY(QDir().mkpath(other + "/app.zentrow.Zentrow.desktop/keep"));
    f.view->setAutostartEntry(AutostartEntry(other, QStringLiteral("/usr/bin/zentrow")));
    QVERIFY(!f.box()->isChecked());
    f.click();
    QVERIFY(!f.box()->isChecked());
    QVERIFY(f.message()->text().startsWith(QStringLiteral("无法写入 ")));
}

QTEST_MAIN(TestLaunchAtLogin)
#include "tst_launchatlogin.moc"
