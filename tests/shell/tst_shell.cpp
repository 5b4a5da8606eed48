#include "shell/PopoverWindow.h"
#include "shell/SettingsWindowManager.h"
#include "views/SettingsView.h"
#include "shell/StatusBarController.h"
#include "shell/StatusNotifierItem.h"
#include "shell/ZentrowApp.h"
#include "state/AppState.h"
#include "support/NotificationCenter.h"
#include "testlib/FakeStatusNotifierWatcher.h"
#include "testlib/LoopbackHttpServer.h"
#include "testlib/ManualSleeper.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

const QByteArray kBitcoinQuote = R"({"data":[{"id":"BTC","symbol":"BTC","name":"Bitcoin","price":75456.36,
  "change24h":-2.05,"trend7d":[71000,72200,73650,74120,75900,76320,75456]}]})";

// The desktop's side of the bus: a connection of its own, so calls go through the bus daemon.
QDBusConnection hostBus()
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("host"));
}

QDBusMessage waitFor(const QDBusPendingCall& call)
{
    QDBusPendingCall pending = call;
    if (!QTest::qWaitFor([&pending] { return pending.isFinished(); }, 5000)) {
        return {};
    }
    return pending.reply();
}

QVariant itemProperty(const QString& service, const QString& name)
{
    auto message = QDBusMessage::createMethodCall(service, StatusNotifierItem::kItemPath,
                                                  QStringLiteral("org.freedesktop.DBus.Properties"),
                                                  QStringLiteral("Get"));
    message << QStringLiteral("org.kde.StatusNotifierItem") << name;
    const QDBusMessage reply = waitFor(hostBus().asyncCall(message));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return {};
    }
    return reply.arguments().first().value<QDBusVariant>().variant();
}

bool callItem(const QString& service, const QString& path, const QString& interface, const QString& method,
              const QVariantList& arguments)
{
    auto message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return waitFor(hostBus().asyncCall(message)).type() == QDBusMessage::ReplyMessage;
}

bool activate(const QString& service, int x, int y)
{
    return callItem(service, StatusNotifierItem::kItemPath, QStringLiteral("org.kde.StatusNotifierItem"),
                    QStringLiteral("Activate"), {x, y});
}

// Threads of this process whose name starts with `prefix` (Linux keeps the first 15 bytes).
int threadsNamed(const QByteArray& prefix)
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith(prefix)) {
            ++count;
        }
    }
    return count;
}

// Clicks closer together than this count as one.
void pauseBetweenClicks()
{
    QTest::qWait(StatusNotifierItem::kClickCoalesceMs + 50);
}

} // namespace

class ShellTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LoopbackHttpServer> m_backend;
    std::unique_ptr<FakeStatusNotifierWatcher> m_watcher;
    std::shared_ptr<ManualSleeper> m_sleeper;
    std::unique_ptr<ZentrowApp> m_app;
    bool m_backendUp = false;
    QByteArray m_quote = kBitcoinQuote;

    ZentrowApp& startApp()
    {
        ZentrowAppOptions options;
        options.backendURL = m_backend->baseUrl();
        options.settingsFile = m_dir.filePath(QStringLiteral("zentrow.conf"));
        options.sleeper = m_sleeper;
        options.transferTimeout = 2s;
        m_app = std::make_unique<ZentrowApp>(options);
        return *m_app;
    }

    StatusNotifierItem* notifierItem()
    {
        auto* controller = m_app->delegate().statusBarController();
        return controller ? m_app->delegate().statusItem()->findChild<StatusNotifierItem*>() : nullptr;
    }

    QString itemService()
    {
        QString service;
        (void)QTest::qWaitFor([this, &service] {
            if (!m_watcher->items().isEmpty()) {
                service = m_watcher->items().first();
            }
            return !service.isEmpty();
        });
        return service;
    }

    // One periodic refresh: the loop's wait ends and its request is answered.
    void periodicRefresh()
    {
        const auto before = m_backend->requests().size();
        m_sleeper->advance(AppState::refreshWait(m_app->appState().preferences().refreshInterval));
        QTRY_VERIFY(m_backend->requests().size() > before);
        QTRY_VERIFY(!m_app->appState().isRefreshingWatchlist());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
    }

    void init()
    {
        m_backendUp = false;
        m_backend = std::make_unique<LoopbackHttpServer>();
        m_backend->setHandler([this](const LoopbackHttpServer::Request& request) {
            if (!request.target.startsWith("/api/quotes")) {
                return LoopbackHttpServer::Reply::json(R"({"data":[]})");
            }
            return m_backendUp ? LoopbackHttpServer::Reply::json(m_quote)
                               : LoopbackHttpServer::Reply::json(R"({"error":"down"})", 503);
        });
        m_watcher = std::make_unique<FakeStatusNotifierWatcher>(hostBus());
        QVERIFY(m_watcher->start());
        m_sleeper = std::make_shared<ManualSleeper>();
    }

    void cleanup()
    {
        m_app.reset();
        m_watcher.reset();
        m_backend.reset();
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    void itemRegistersAndFollowsThePinnedToken()
    {
        startApp();
        const QString service = itemService();
        QVERIFY(service.startsWith(QStringLiteral("org.kde.StatusNotifierItem-")));
        QCOMPARE(itemProperty(service, QStringLiteral("XAyatanaLabel")).toString(), QStringLiteral("Zentrow"));
        QCOMPARE(itemProperty(service, QStringLiteral("Title")).toString(), QStringLiteral("Zentrow"));
        QCOMPARE(itemProperty(service, QStringLiteral("ItemIsMenu")).toBool(), false);
        QCOMPARE(itemProperty(service, QStringLiteral("Status")).toString(), QStringLiteral("Active"));

        m_backendUp = true;
        periodicRefresh();
        QTRY_COMPARE(itemProperty(service, QStringLiteral("XAyatanaLabel")).toString(),
                     QStringLiteral("BTC 75,456.36 -2.05%"));
        QCOMPARE(itemProperty(service, QStringLiteral("Title")).toString(), QStringLiteral("BTC 75,456.36 -2.05%"));
        QCOMPARE(itemProperty(service, QStringLiteral("XAyatanaLabelGuide")).toString(),
                 QStringLiteral("BTC 00,000.00 -0.00%"));

        // The menu every host asks for exists and is empty.
        auto layout = QDBusMessage::createMethodCall(service, StatusNotifierItem::kMenuPath,
                                                     QStringLiteral("com.canonical.dbusmenu"),
                                                     QStringLiteral("GetLayout"));
        layout << 0 << -1 << QStringList();
        QCOMPARE(waitFor(hostBus().asyncCall(layout)).type(), QDBusMessage::ReplyMessage);
    }

    void clicksToggleThePopoverBelowTheItem()
    {
        startApp();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

        const QPoint click(screen.right() - 40, screen.top() + 5);
        QVERIFY(activate(service, click.x(), click.y()));
        QTRY_VERIFY(popover.isVisible());
        QCOMPARE(popover.size(), QSize(368, 620));
        QVERIFY(popover.geometry().top() > click.y());
        QVERIFY(screen.contains(popover.geometry()));

        pauseBetweenClicks();
        QVERIFY(activate(service, click.x(), click.y()));
        QTRY_VERIFY(!popover.isVisible());

        // A right click and the menu a host opens on a left click do the same.
        pauseBetweenClicks();
        QVERIFY(callItem(service, StatusNotifierItem::kItemPath, QStringLiteral("org.kde.StatusNotifierItem"),
                         QStringLiteral("SecondaryActivate"), {10, 10}));
        QTRY_VERIFY(popover.isVisible());
        pauseBetweenClicks();
        QVERIFY(callItem(service, StatusNotifierItem::kMenuPath, QStringLiteral("com.canonical.dbusmenu"),
                         QStringLiteral("Event"),
                         {0, QStringLiteral("opened"), QVariant::fromValue(QDBusVariant(0)), 0u}));
        QTRY_VERIFY(!popover.isVisible());

        // A burst of clicks while the popover opens counts once.
        pauseBetweenClicks();
        for (int i = 0; i < 3; ++i) {
            QVERIFY(activate(service, click.x(), click.y()));
        }
        QTRY_VERIFY(popover.isVisible());
        pauseBetweenClicks();
        QVERIFY(popover.isVisible());
    }

    void popoverContentIsMadeOnFirstOpen()
    {
        startApp();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        QVERIFY(!popover.content());

        QVERIFY(activate(service, 100, 5));
        QTRY_VERIFY(popover.isVisible());
        QWidget* content = popover.content();
        QVERIFY(content && content->isVisible());
        QVERIFY(popover.findChild<QWidget*>(QStringLiteral("titleLabel")));
        pauseBetweenClicks();
        QVERIFY(activate(service, 100, 5));
        QTRY_VERIFY(!popover.isVisible());
        pauseBetweenClicks();
        QVERIFY(activate(service, 100, 5));
        QTRY_VERIFY(popover.isVisible());
        QCOMPARE(popover.content(), content);
    }

    void chineseTextDrawsFromOneCjkFaceSet()
    {
        startApp();
        const QString service = itemService();
        QVERIFY(activate(service, 100, 5));
        QTRY_VERIFY(m_app->delegate().statusBarController()->popover().isVisible());
        const QString family = QStringLiteral("Noto Sans CJK SC");
        if (!QFontDatabase::families().contains(family)) {
            QSKIP("Noto Sans CJK is not installed");
        }
        // Bold Chinese titles are emboldened from the regular face instead of mapping more files.
        QCOMPARE(QFontDatabase::styles(family), QStringList{QStringLiteral("Regular")});
    }

    void networkThreadEndsBetweenRefreshesAndComesBack()
    {
        m_backendUp = true;
        startApp();
        const QString service = itemService();
        QTRY_COMPARE(itemProperty(service, QStringLiteral("Title")).toString(), QStringLiteral("BTC 75,456.36 -2.05%"));
        // Qt names it "QNetworkAccessManager thread".
        QTRY_COMPARE_WITH_TIMEOUT(threadsNamed("QNetworkAccess"), 0, 10000);

        // The next refresh starts it again and gets its answer through.
        m_quote.replace("75456.36", "80000.5");
        periodicRefresh();
        QTRY_COMPARE(itemProperty(service, QStringLiteral("Title")).toString(), QStringLiteral("BTC 80,000.50 -2.05%"));
        QTRY_COMPARE_WITH_TIMEOUT(threadsNamed("QNetworkAccess"), 0, 10000);
    }

    void placementStaysOnTheScreen()
    {
        const QRect screen(0, 0, 1280, 800);
        const QRect available(0, 28, 1280, 772);
        const QSize size = PopoverWindow::kSize;
        // Top panel: right below it, centred on the click but inside the screen.
        QCOMPARE(PopoverWindow::placement({1200, 10}, size, screen, available),
                 QRect(QPoint(1280 - 368 - PopoverWindow::kMargin, 28 + PopoverWindow::kMargin), size));
        QCOMPARE(PopoverWindow::placement({600, 10}, size, screen, available).x(), 600 - size.width() / 2);
        // Bottom panel: above it.
        const QRect bottom(0, 0, 1280, 772);
        const QRect above = PopoverWindow::placement({600, 790}, size, screen, bottom);
        QCOMPARE(above.bottom(), 771 - PopoverWindow::kMargin);
        // A screen smaller than the popover: pinned to its top-left corner.
        const QRect tiny(0, 0, 300, 400);
        QCOMPARE(PopoverWindow::placement({150, 5}, size, tiny, tiny).topLeft(),
                 QPoint(PopoverWindow::kMargin, 0));
    }

    void settingsRequestClosesThePopoverFirst()
    {
        startApp();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        m_app->appState().setIsSearchPresented(true);
        QVERIFY(activate(service, 100, 5));
        QTRY_VERIFY(popover.isVisible());
        NotificationCenter::defaultCenter().post(NotificationCenter::kOpenSettings);
        QTRY_VERIFY(!popover.isVisible());
        QVERIFY(!m_app->appState().isSearchPresented());
        SettingsWindowManager& settings = SettingsWindowManager::shared();
        QTRY_VERIFY(settings.window() && settings.window()->isVisible());
        QWidget* window = settings.window();

        // Asked again after it was closed: the same window comes back, bound to this state.
        window->close();
        NotificationCenter::defaultCenter().post(NotificationCenter::kOpenSettings);
        QTRY_VERIFY(window->isVisible());
        QCOMPARE(settings.window(), window);
        QVERIFY(settings.settingsView());
        window->close();
    }

    void quitRequestEndsTheEventLoopWithZero()
    {
        startApp();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        QVERIFY(activate(service, 100, 5));
        QTRY_VERIFY(popover.isVisible());
        QEventLoop loop;
        QTimer::singleShot(0, [] { NotificationCenter::defaultCenter().post(NotificationCenter::kQuitApp); });
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(7); });
        QCOMPARE(loop.exec(), 0);
        QVERIFY(!popover.isVisible());
    }

    void threeFailedPeriodicRefreshesRaiseTheBanner()
    {
        startApp();
        QTRY_VERIFY(!m_backend->requests().isEmpty());
        QTRY_VERIFY(!m_app->appState().isRefreshingWatchlist());
        for (int i = 0; i < 2; ++i) {
            periodicRefresh();
        }
        QVERIFY(!m_app->appState().refreshErrorBanner());
        periodicRefresh();
        QTRY_VERIFY(m_app->appState().refreshErrorBanner());
        QCOMPARE(m_app->appState().refreshErrorBanner()->message, QStringLiteral("服务器返回了异常状态码：503。"));

        // The popover shows it when it opens.
        const QString service = itemService();
        QVERIFY(activate(service, 100, 5));
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        QTRY_VERIFY(popover.isVisible());
        auto* banner = popover.findChild<QWidget*>(QStringLiteral("refreshErrorBanner"));
        QVERIFY(banner);
        QTRY_VERIFY(banner->isVisible());
    }

    void watcherRestartsAndMissingHosts()
    {
        m_watcher->stop();
        startApp();
        QTRY_VERIFY(m_app->delegate().statusBarController());
        QTest::qWait(200);
        QCOMPARE(m_watcher->registrations(), 0);

        // A host that appears later, goes away and returns gets the item each time.
        QVERIFY(m_watcher->start());
        QTRY_COMPARE(m_watcher->registrations(), 1);
        m_watcher->stop();
        QVERIFY(m_watcher->start());
        QTRY_COMPARE(m_watcher->registrations(), 2);
        const QString service = itemService();
        QVERIFY(activate(service, 100, 5));
        QTRY_VERIFY(m_app->delegate().statusBarController()->popover().isVisible());
    }

    void noStoredDocumentIsWrittenAtStartUp()
    {
        startApp();
        QTRY_VERIFY(!m_backend->requests().isEmpty());
        QTRY_VERIFY(!m_app->appState().isRefreshingWatchlist());
        m_app.reset();
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("zentrow.conf"))));
    }

    void secondLaunchLeavesTheFirstRunning()
    {
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess first;
        first.setProcessEnvironment(environment);
        first.start(QStringLiteral(ZENTROW_APP_PATH), {});
        QVERIFY(first.waitForStarted());
        // The first instance owns its name once it is up.
        QTRY_VERIFY_WITH_TIMEOUT(
            hostBus().interface()->isServiceRegistered(QStringLiteral("app.zentrow.Zentrow")).value(), 10000);
        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(QStringLiteral(ZENTROW_APP_PATH), {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
    }

    void runsWithoutASessionBus()
    {
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        QProcess app;
        app.setProcessEnvironment(environment);
        app.start(QStringLiteral(ZENTROW_APP_PATH), {});
        QVERIFY(app.waitForStarted());
        // Nothing to show the item on, but the app keeps running, and a second copy still stands down.
        QVERIFY(!app.waitForFinished(1500));
        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(QStringLiteral(ZENTROW_APP_PATH), {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(app.state(), QProcess::Running);
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }
};

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
