// The whole app in the test's process, on the private session bus dbus-run-session gives each
// shell test: a loopback backend, a fake StatusNotifierWatcher as the desktop's host, and a
// virtual clock. Also how a test starts the real zentrow executable beside it. For tests that
// link the shell.
#pragma once

#include "shell/StatusNotifierItem.h"
#include "shell/ZentrowApp.h"
#include "testlib/FakeStatusNotifierWatcher.h"
#include "testlib/LoopbackHttpServer.h"
#include "testlib/ManualSleeper.h"
#include "testlib/StatusItemHost.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace AppOnPrivateBus {

// The desktop's side of the bus: a connection of its own, so calls go through the bus daemon.
inline QDBusConnection hostBus()
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("host"));
}

// The item at `service`, as the desktop's host sees it.
inline StatusItemHost item(const QString& service)
{
    return {hostBus(), service};
}

// The real executable with a configuration folder of its own under `home`, offscreen.
inline void startExecutable(QProcess& process, const QString& home, const QProcessEnvironment& extra = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& key : extra.keys()) {
        environment.insert(key, extra.value(key));
    }
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(ZENTROW_APP_PATH), {});
}

// Clicks closer together than this count as one: past the item's coalescing and the popover's
// double-click guard.
inline void pauseBetweenClicks()
{
    QTest::qWait(std::max(StatusNotifierItem::kClickCoalesceMs, QApplication::doubleClickInterval()) + 50);
}

struct Harness {
    QTemporaryDir dir;
    std::unique_ptr<LoopbackHttpServer> backend;
    std::unique_ptr<FakeStatusNotifierWatcher> watcher;
    std::shared_ptr<ManualSleeper> sleeper;
    std::unique_ptr<ZentrowApp> app;

    // The watcher is made, not started.
    void setUp(LoopbackHttpServer::Handler handler)
    {
        backend = std::make_unique<LoopbackHttpServer>();
        backend->setHandler(std::move(handler));
        watcher = std::make_unique<FakeStatusNotifierWatcher>(hostBus());
        sleeper = std::make_shared<ManualSleeper>();
    }

    ZentrowApp& start(const std::function<void(ZentrowAppOptions&)>& adjust = {})
    {
        ZentrowAppOptions options;
        options.backendURL = backend->baseUrl();
        options.settingsFile = settingsFile();
        options.sleeper = sleeper;
        options.transferTimeout = std::chrono::seconds(2);
        if (adjust) {
            adjust(options);
        }
        app = std::make_unique<ZentrowApp>(options);
        return *app;
    }

    // The item's bus name, once the watcher has it.
    QString itemService() const
    {
        QString service;
        (void)QTest::qWaitFor([&] { return !(service = watcher->items().value(0)).isEmpty(); });
        return service;
    }

    QString settingsFile() const { return dir.filePath(QStringLiteral("zentrow.conf")); }

    // Each test starts from a first launch.
    void tearDown()
    {
        app.reset();
        QFile::remove(settingsFile());
        watcher.reset();
        backend.reset();
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }
};

} // namespace AppOnPrivateBus
