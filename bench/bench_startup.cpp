// Start-up cost of the real app: time from process start to its status item registering with
// the desktop's watcher, resident memory once started, and CPU time while idle.
// Run under its own session bus: `dbus-run-session -- build/bench/bench_startup [--idle-seconds N]`.
#include "testlib/FakeStatusNotifierWatcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

// User plus system CPU time of a process, in milliseconds.
qint64 cpuMillis(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
    return ticks * 1000 / sysconf(_SC_CLK_TCK);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 10;
    int idleSeconds = 60;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--runs")) {
            runs = args.at(i + 1).toInt();
        } else if (args.at(i) == QLatin1String("--idle-seconds")) {
            idleSeconds = args.at(i + 1).toInt();
        }
    }
    if (!QDBusConnection::sessionBus().isConnected()) {
        std::fprintf(stderr, "run under dbus-run-session\n");
        return 2;
    }
    FakeStatusNotifierWatcher watcher;
    if (!watcher.start()) {
        std::fprintf(stderr, "a StatusNotifierWatcher is already running on this bus\n");
        return 2;
    }

    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QList<double> startMillis;
    qint64 rss = -1;
    qint64 idleCpu = -1;
    for (int run = 0; run < runs; ++run) {
        const int before = watcher.registrations();
        QProcess process;
        process.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(ZENTROW_APP_PATH), {});
        if (!QTest::qWaitFor([&] { return watcher.registrations() > before; }, 10000)) {
            std::fprintf(stderr, "the app did not register its status item\n");
            return 1;
        }
        startMillis.append(clock.nsecsElapsed() / 1e6);
        if (run == runs - 1) {
            QTest::qWait(2000);
            rss = residentKiB(process.processId());
            const qint64 cpuBefore = cpuMillis(process.processId());
            QTest::qWait(idleSeconds * 1000);
            idleCpu = cpuMillis(process.processId()) - cpuBefore;
        }
        process.terminate();
        process.waitForFinished(5000);
    }
    std::sort(startMillis.begin(), startMillis.end());
    const double median = startMillis.size() % 2 ? startMillis.at(startMillis.size() / 2)
                                                 : (startMillis.at(startMillis.size() / 2 - 1)
                                                    + startMillis.at(startMillis.size() / 2)) / 2;
    std::printf("start to registered item: median %.1f ms over %d runs (min %.1f, max %.1f)\n", median, runs,
                startMillis.first(), startMillis.last());
    std::printf("resident memory after start: %.1f MB\n", rss / 1024.0);
    std::printf("CPU time over %d idle seconds: %lld ms\n", idleSeconds, static_cast<long long>(idleCpu));
    return 0;
}
