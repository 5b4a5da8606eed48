// The zentrow executable as a user or the desktop starts it: --help and --version without a
// display, and the request to systemd to start the local backend's socket.
#include "BuildConfig.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

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

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(ZENTROW_APP_PATH), arguments);
    if (!process.waitForFinished(10'000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

} // namespace

class TestAppCommandLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_home.isValid()); }
    void answersWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("pattern"); // on stdout for exit code 0, else on stderr; the other stays empty

        const QString version = QStringLiteral("^zentrow \\d+\\.\\d+\\.\\d+\\n$");
        QTest::newRow("--version") << QStringList{"--version"} << 0 << version;
        QTest::newRow("-v") << QStringList{"-v"} << 0 << version;
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
        const Run result = run(arguments, withoutDisplay(m_home.path()));
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
        QVERIFY2(bus.isConnected(), "run under dbus-run-session");
        FakeSystemdManager manager;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/systemd1"), &manager,
                                   QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.systemd1")));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess app;
        app.setProcessEnvironment(environment);
        app.start(QStringLiteral(ZENTROW_APP_PATH), {});
        QTRY_COMPARE_WITH_TIMEOUT(manager.started, QStringList{"zentrow-backend.socket replace"}, 10'000);
        app.terminate();
        QVERIFY(app.waitForFinished(10'000));
        bus.unregisterService(QStringLiteral("org.freedesktop.systemd1"));
    }

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(TestAppCommandLine)
#include "tst_appcommandline.moc"
