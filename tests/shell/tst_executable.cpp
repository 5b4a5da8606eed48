// The zentrow executable as a user or the desktop starts it, beside the test on its private bus.
#include "BuildConfig.h"
#include "testlib/AppOnPrivateBus.h"
#include "testlib/CommandOutput.h"
#include "testlib/FakeNotificationServer.h"

#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QUrl>

using namespace AppOnPrivateBus;

namespace {
// Stands in for the user's systemd manager on the test's private bus.
class FakeSystemdManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Manager")
public:
    QStringList started;

public Q_SLOTS:
    Q_SCRIPTABLE QDBusObjectPath StartUnit(const QString& name, const QString& mode)
    {
        started.append(name + QLatin1Char(' ') + mode);
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/1"));
    }
};

// The environment of a session without any display: an app that touched one would abort.
QProcessEnvironment withoutDisplay(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
    return environment;
}

} // namespace

class ExecutableTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase() { QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session"); }

    // A second copy stands down and leaves the first running, with a session bus or without one.
    // The first has no status area and nobody to show a notification: it says so on standard error.
    void secondLaunchLeavesTheFirstRunning()
    {
        // The notice's summary and body in one line; their wording is checked in the notification.
        const QRegularExpression notice(
            QStringLiteral("^Zentrow: 找不到状态栏，Zentrow 暂以窗口显示。当前桌面没有状态区域"
                           ".*gnome-shell-extension-appindicator"),
            QRegularExpression::MultilineOption);
        QTemporaryDir home;
        QProcessEnvironment noBus;
        noBus.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        noBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        for (const QProcessEnvironment& extra : {QProcessEnvironment(), noBus}) {
            QProcess first;
            startExecutable(first, home.path(), extra);
            QVERIFY(first.waitForStarted());
            if (extra.isEmpty()) {
                // The first instance owns its name once it is up.
                QTRY_VERIFY_WITH_TIMEOUT(
                    hostBus().interface()->isServiceRegistered(QStringLiteral("app.zentrow.Zentrow")).value(), 10000);
            }
            QByteArray errors;
            QTRY_VERIFY2_WITH_TIMEOUT(
                notice.match(QString::fromUtf8(errors += first.readAllStandardError())).hasMatch(), errors, 15000);
            QProcess second;
            startExecutable(second, home.path(), extra);
            QVERIFY(second.waitForFinished(10000));
            QCOMPARE(second.exitCode(), 0);
            QCOMPARE(first.state(), QProcess::Running);
            first.terminate();
            QVERIFY(first.waitForFinished(10000));
        }
    }

    // The executable on its own.
    void answersWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("pattern"); // on stdout for exit code 0, else on stderr; the other stays empty

        const QString version = QStringLiteral("^zentrow \\d+\\.\\d+\\.\\d+\\n$");
        QTest::newRow("--version") << QStringList{"--version"} << 0 << version;
        // Qt's own options are no mistake.
        QTest::newRow("Qt option") << QStringList{"-platform", "offscreen", "--version"} << 0 << version;
        QTest::newRow("--help") << QStringList{"--help"} << 0
                                << QStringLiteral("^(?=[\\s\\S]*--version)(?=[\\s\\S]*%1)")
                                       .arg(QRegularExpression::escape(QString::fromLatin1(kDefaultBackendURL)));
        QTest::newRow("unknown option")
            << QStringList{"--bogus"} << 2
            << "^zentrow: Unknown option 'bogus'\\.\\nRun 'zentrow --help' for the options\\.\\n$";
        QTest::newRow("stray argument") << QStringList{"watch"} << 2 << "^zentrow: unexpected argument 'watch'\\n";
    }

    void answersWithoutADisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, pattern);
        const CommandRun result =
            runCommand(QStringLiteral(ZENTROW_APP_PATH), arguments, withoutDisplay(m_home.path()), 10'000);
        QCOMPARE(result.exitCode, exitCode);
        const QByteArray& said = exitCode == 0 ? result.out : result.err;
        QVERIFY2(QRegularExpression(pattern).match(QString::fromUtf8(said)).hasMatch(), result.out + result.err);
        QVERIFY((exitCode == 0 ? result.err : result.out).isEmpty());
        // Help lists the app's own options, not Qt's.
        QVERIFY(!result.out.contains("platform"));
    }

    void startsTheLocalBackendSocket()
    {
        if (!QHostAddress(QUrl(QString::fromLatin1(kDefaultBackendURL)).host()).isLoopback())
            QSKIP("built for a backend on another machine: no local socket to start");
        QDBusConnection bus = QDBusConnection::sessionBus();
        FakeSystemdManager manager;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/systemd1"), &manager,
                                   QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.systemd1")));

        QProcess app;
        startExecutable(app, m_home.path());
        QTRY_COMPARE_WITH_TIMEOUT(manager.started, QStringList{"zentrow-backend.socket replace"}, 10'000);
        app.terminate();
        QVERIFY(app.waitForFinished(10'000));
        bus.unregisterService(QStringLiteral("org.freedesktop.systemd1"));
    }

    void aPriceCrossingIsNotifiedOnceAndNotAgainAfterARestart()
    {
        // A desktop with a host for the item, so that the only notifications are the alert's.
        FakeStatusNotifierWatcher watcher(hostBus());
        QVERIFY(watcher.start());
        FakeNotificationServer notifications(FakeNotificationServer::Mode::Answer, {"body", "actions"});
        QVERIFY(notifications.start());
        // BTC below the alert's threshold in the first quote and above it from then on; each
        // quote is newer than the one before.
        int quotesServed = 0;
        LoopbackHttpServer backend;
        backend.setHandler([&quotesServed](const LoopbackHttpServer::Request& request) {
            if (!request.target.startsWith("/api/quotes")) {
                return LoopbackHttpServer::Reply::json(R"({"data":[]})");
            }
            ++quotesServed;
            const QByteArray price = quotesServed == 1 ? "79876.50" : "80123.45";
            return LoopbackHttpServer::Reply::json(R"({"data":[{"id":"BTC","symbol":"BTC","name":"Bitcoin","price":)" +
                                                   price + R"(,"change24h":1.5,"trend7d":[],"quotedAt":)" +
                                                   QByteArray::number(1'780'000'000'000 + quotesServed * 5000) + "}]}");
        });
        QTemporaryDir home;
        QSettings(home.filePath(QStringLiteral("Zentrow/Zentrow.conf")), QSettings::IniFormat)
            .setValue(QStringLiteral("zentrow.stored-state"),
                      QByteArray(R"({"watchlist":[{"id":"6F1C2E0A-3B9D-4E57-9C21-8A4F0D7E5B13","tokenID":"BTC",)"
                                 R"("isPinnedToMenuBar":true,"showsTrend":true,"displayOrder":0}],)"
                                 R"("preferences":{"refreshInterval":5},"priceAlerts":{"enabled":true,"alerts":[)"
                                 R"({"id":"0B8E4D7C-51A2-4F3E-8D6B-2C9A7E1F4B60","tokenID":"BTC","kind":"above",)"
                                 R"("threshold":80000,"isEnabled":true,"isFired":false,"isUnseen":false}]}})"));
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("ZENTROW_BACKEND_URL"), backend.baseUrl().toString());

        QProcess app;
        startExecutable(app, home.path(), environment);
        QTRY_COMPARE_WITH_TIMEOUT(notifications.received.size(), 1, 30'000);
        const FakeNotificationServer::Notification& shown = notifications.received.first();
        QCOMPARE((QStringList{shown.appName, shown.summary, shown.body}),
                 (QStringList{"Zentrow", "BTC 价格提醒", "BTC 已升至 80,123.45（高于 80,000.00）"}));
        // The next quote, still above, tells nothing new.
        QTRY_VERIFY_WITH_TIMEOUT(quotesServed >= 3, 30'000);
        app.terminate();
        QVERIFY(app.waitForFinished(10'000));

        // Started again, with the price still past the threshold: nothing to tell.
        const int before = quotesServed;
        startExecutable(app, home.path(), environment);
        QTRY_VERIFY_WITH_TIMEOUT(quotesServed >= before + 2, 30'000);
        QCOMPARE(notifications.received.size(), 1);
        app.terminate();
        QVERIFY(app.waitForFinished(10'000));
    }
};

QTEST_MAIN(ExecutableTest)
#include "tst_executable.moc"
