// Start-up cost of the real app next to the bare status item (bench/bare_status_item.cpp), both on
// one X display: time from process start to the item registering with the watcher, resident and
// private memory after start and after the popover opens, threads, and CPU time while idle.
// A second floor, "bare+text", is the bare item whose popup draws two lines of Chinese and Latin
// text (bare_status_item --text), so the cost of the CJK faces shows apart from the app's own.
// The app watches 10 tokens and refreshes them from a loopback backend; runs alternate.
//
//   dbus-run-session -- build/bench/bench_startup [--runs N] [--idle-seconds N] [--settle-ms N]
//
// It starts Xvfb on a free display unless DISPLAY is set. Two helper modes serve the soak script
// (bench/app-soak.sh): `--write-settings CONFIG_HOME [--refresh SECONDS]` writes the 10-token
// settings, `--watcher` plays the desktop's StatusNotifierWatcher until terminated.
#include "model/StoredState.h"
#include "storage/LocalStore.h"
#include "storage/SettingsDefaultsStore.h"
#include "testlib/FakeStatusNotifierWatcher.h"
#include "testlib/LoopbackHttpServer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

const QStringList kTokens{QStringLiteral("BTC"),  QStringLiteral("ETH"),  QStringLiteral("BNB"), QStringLiteral("SOL"),
                          QStringLiteral("XRP"),  QStringLiteral("DOGE"), QStringLiteral("ADA"), QStringLiteral("TRX"),
                          QStringLiteral("AVAX"), QStringLiteral("LINK")};

// The app's own settings file under a config home, with the 10 tokens, the first one pinned.
void writeSettings(const QString& configHome, double refreshSeconds)
{
    QDir().mkpath(configHome + QStringLiteral("/Zentrow"));
    StoredState state;
    for (qsizetype i = 0; i < kTokens.size(); ++i) {
        state.watchlist.append(WatchlistEntry{WatchlistEntry::makeID(), kTokens.at(i), i == 0, true, i});
    }
    state.preferences.refreshInterval = refreshSeconds;
    LocalStore(std::make_shared<SettingsDefaultsStore>(configHome + QStringLiteral("/Zentrow/Zentrow.conf")))
        .save(state);
}

// Quotes for whatever ids are asked, with prices that move a little from one answer to the next.
LoopbackHttpServer::Reply answer(const LoopbackHttpServer::Request& request)
{
    static int sequence = 0;
    const QUrl url(QString::fromLatin1(request.target));
    if (url.path() != QLatin1String("/api/quotes")) {
        return LoopbackHttpServer::Reply::json(R"({"data":[]})");
    }
    ++sequence;
    QJsonArray data;
    const QStringList ids = QUrlQuery(url).queryItemValue(QStringLiteral("ids")).split(QLatin1Char(','));
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const double base = 100.0 * (i + 1);
        QJsonArray trend;
        for (int day = 0; day < 7; ++day) {
            trend.append(base * (1 + 0.02 * std::sin(day + i + sequence)));
        }
        data.append(QJsonObject{{QStringLiteral("id"), ids.at(i)},
                                {QStringLiteral("symbol"), ids.at(i)},
                                {QStringLiteral("name"), ids.at(i) + QStringLiteral(" Coin")},
                                {QStringLiteral("price"), base * (1 + 0.01 * std::sin(sequence + i))},
                                {QStringLiteral("change24h"), 2.5 * std::cos(sequence + i)},
                                {QStringLiteral("trend7d"), trend}});
    }
    return LoopbackHttpServer::Reply::json(QJsonDocument(QJsonObject{{QStringLiteral("data"), data}}).toJson());
}

struct ProcessSample {
    qint64 rssKiB = -1;
    qint64 anonKiB = -1;
    QStringList threads;
};

ProcessSample sample(qint64 pid)
{
    ProcessSample result;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            const auto value = [&line] {
                return line.mid(line.indexOf(':') + 1).trimmed().split(' ').first().toLongLong();
            };
            if (line.startsWith("VmRSS:")) {
                result.rssKiB = value();
            } else if (line.startsWith("RssAnon:")) {
                result.anonKiB = value();
            }
        }
    }
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + QLatin1Char('/') + task + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly)) {
            result.threads.append(QString::fromUtf8(comm.readAll().trimmed()));
        }
    }
    return result;
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

bool activate(qint64 pid)
{
    auto message = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(pid), QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
    message << 900 << 5;
    QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(message);
    return QTest::qWaitFor([&call] { return call.isFinished(); }, 5000) && !call.isError();
}

// One program's figures over the runs.
struct Series {
    QString name;
    QString path;
    QStringList arguments = {};
    QList<double> startMillis = {};
    QList<double> rssAfterStart = {}, anonAfterStart = {}, rssOpen = {}, anonOpen = {};
    QStringList threads = {};
    qint64 idleCpu = -1;
};

double median(QList<double> values)
{
    if (values.isEmpty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

// Starts Xvfb on a display it picks itself; returns the display name or an empty string.
QString startXvfb(QProcess& xvfb)
{
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!xvfb.waitForStarted(5000)) {
        return {};
    }
    QByteArray number;
    if (!QTest::qWaitFor(
            [&] {
                number += xvfb.readAllStandardOutput();
                return number.contains('\n') || xvfb.state() != QProcess::Running;
            },
            10000)) {
        return {};
    }
    number = number.trimmed();
    return number.isEmpty() ? QString() : QStringLiteral(":") + QString::fromLatin1(number);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 5;
    int idleSeconds = 30;
    int settleMs = 5000;
    double refreshSeconds = 30;
    QString settingsHome;
    bool watcherOnly = false;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const QString next = args.value(i + 1);
        if (arg == QLatin1String("--watcher")) {
            watcherOnly = true;
            continue;
        }
        if (arg == QLatin1String("--runs")) {
            runs = std::max(1, next.toInt());
        } else if (arg == QLatin1String("--idle-seconds")) {
            idleSeconds = std::max(0, next.toInt());
        } else if (arg == QLatin1String("--settle-ms")) {
            settleMs = std::max(0, next.toInt());
        } else if (arg == QLatin1String("--write-settings")) {
            settingsHome = next;
        } else if (arg == QLatin1String("--refresh")) {
            refreshSeconds = next.toDouble();
        } else {
            std::fprintf(stderr, "unknown argument %s\n", qPrintable(arg));
            return 2;
        }
        ++i;
    }
    if (!settingsHome.isEmpty()) {
        writeSettings(settingsHome, refreshSeconds);
        return 0;
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
    if (watcherOnly) {
        return QCoreApplication::exec();
    }

    QProcess xvfb;
    QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty()) {
        display = startXvfb(xvfb);
        if (display.isEmpty()) {
            std::fprintf(stderr, "could not start Xvfb\n");
            return 2;
        }
    }
    LoopbackHttpServer backend;
    backend.setHandler(answer);
    QTemporaryDir home;
    writeSettings(home.path(), refreshSeconds);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    environment.insert(QStringLiteral("ZENTROW_BACKEND_URL"), backend.baseUrl().toString());

    Series bare{QStringLiteral("bare item"), QStringLiteral(ZENTROW_BARE_ITEM_PATH)};
    Series bareText{
        QStringLiteral("bare item + text"), QStringLiteral(ZENTROW_BARE_ITEM_PATH), {QStringLiteral("--text")}};
    Series zentrow{QStringLiteral("Zentrow"), QStringLiteral(ZENTROW_APP_PATH)};
    std::array<Series*, 3> order{&bare, &bareText, &zentrow};
    const auto toMB = [](qint64 kib) { return kib / 1024.0; };

    for (int run = 0; run < runs; ++run) {
        const bool last = run == runs - 1;
        std::vector<std::pair<Series*, std::unique_ptr<QProcess>>> keep;
        // Each program goes first, second and last in turn.
        std::rotate(order.begin(), order.begin() + 1, order.end());
        for (Series* series : order) {
            const int before = watcher.registrations();
            auto process = std::make_unique<QProcess>();
            process->setProcessEnvironment(environment);
            process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            QElapsedTimer clock;
            clock.start();
            process->start(series->path, series->arguments);
            if (!QTest::qWaitFor([&] { return watcher.registrations() > before; }, 10000)) {
                std::fprintf(stderr, "%s did not register its status item\n", qPrintable(series->name));
                return 1;
            }
            series->startMillis.append(clock.nsecsElapsed() / 1e6);
            const qint64 pid = process->processId();
            QTest::qWait(settleMs);
            const ProcessSample started = sample(pid);
            series->rssAfterStart.append(toMB(started.rssKiB));
            series->anonAfterStart.append(toMB(started.anonKiB));
            series->threads = started.threads;
            if (!activate(pid)) {
                std::fprintf(stderr, "%s did not answer Activate\n", qPrintable(series->name));
                return 1;
            }
            QTest::qWait(settleMs);
            const ProcessSample open = sample(pid);
            series->rssOpen.append(toMB(open.rssKiB));
            series->anonOpen.append(toMB(open.anonKiB));
            if (last) {
                // Closed again, and kept for the idle measurement below.
                activate(pid);
                keep.emplace_back(series, std::move(process));
            } else {
                process->terminate();
                process->waitForFinished(5000);
            }
        }
        if (last) {
            QTest::qWait(settleMs);
            QList<qint64> cpuBefore;
            for (const auto& [series, process] : keep) {
                cpuBefore.append(cpuMillis(process->processId()));
            }
            QTest::qWait(idleSeconds * 1000);
            for (size_t i = 0; i < keep.size(); ++i) {
                auto& [series, process] = keep.at(i);
                series->idleCpu = cpuMillis(process->processId()) - cpuBefore.at(qsizetype(i));
                process->terminate();
                process->waitForFinished(5000);
            }
        }
    }
    if (xvfb.state() == QProcess::Running) {
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    }

    std::printf("display %s, 10 watched tokens, medians of %d alternating runs\n", qPrintable(display), runs);
    std::printf("%-30s %10s %11s %9s %8s %11s\n", "", "bare item", "bare+text", "Zentrow", "ratio", "ratio text");
    const auto row = [&](const char* what, QList<double> Series::*values, const char* format) {
        const double a = median(bare.*values), t = median(bareText.*values), b = median(zentrow.*values);
        char left[32], middle[32], right[32];
        std::snprintf(left, sizeof left, format, a);
        std::snprintf(middle, sizeof middle, format, t);
        std::snprintf(right, sizeof right, format, b);
        std::printf("%-30s %10s %11s %9s %8.2f %11.2f\n", what, left, middle, right, b / a, b / t);
    };
    row("start to registered item (ms)", &Series::startMillis, "%.1f");
    row("RSS after start (MB)", &Series::rssAfterStart, "%.1f");
    row("RssAnon after start (MB)", &Series::anonAfterStart, "%.1f");
    row("RSS popover open (MB)", &Series::rssOpen, "%.1f");
    row("RssAnon popover open (MB)", &Series::anonOpen, "%.1f");
    std::printf("%-30s %10lld %11lld %9lld\n", qPrintable(QStringLiteral("CPU over %1 idle s (ms)").arg(idleSeconds)),
                static_cast<long long>(bare.idleCpu), static_cast<long long>(bareText.idleCpu),
                static_cast<long long>(zentrow.idleCpu));
    std::printf("ratio: Zentrow / bare item; ratio text: Zentrow / bare item whose popup draws a regular and a "
                "medium line of Noto Sans CJK SC\n");
    const auto listed = [](const QList<double>& values) {
        QStringList texts;
        for (double value : values) {
            texts.append(QString::number(value, 'f', 1));
        }
        return texts.join(QLatin1Char(' '));
    };
    std::printf("start to registered, each run (ms): bare item %s; Zentrow %s\n", qPrintable(listed(bare.startMillis)),
                qPrintable(listed(zentrow.startMillis)));
    std::printf("threads after start: bare item %s\n", qPrintable(bare.threads.join(QLatin1Char(' '))));
    std::printf("threads after start: Zentrow   %s\n", qPrintable(zentrow.threads.join(QLatin1Char(' '))));
    return 0;
}
