#include "shell/AdaptiveStatusItem.h"
#include "shell/PopoverWindow.h"
#include "shell/SettingsWindowManager.h"
#include "shell/StatusAreaFallback.h"
#include "shell/StatusAreaFallbackWindow.h"
#include "shell/StatusAreaNotice.h"
#include "shell/StatusBarController.h"
#include "shell/ZentrowApp.h"
#include "state/AppState.h"
#include "testlib/AppOnPrivateBus.h"
#include "testlib/FakeNotificationServer.h"
#include "ui/popover/AddTokenSheet.h"
#include "ui/popover/MenuBarPopoverView.h"

#include <QApplication>
#include <QEventLoop>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWindow>

using namespace std::chrono_literals;
using namespace AppOnPrivateBus;

namespace {

constexpr auto kNoHostDelay = 3s;
constexpr auto kReturnGrace = 10s;

} // namespace

class NoStatusAreaTest : public QObject {
    Q_OBJECT

private:
    Harness m_h;
    std::unique_ptr<FakeNotificationServer> m_notifications;
    std::unique_ptr<ZentrowApp>& m_app = m_h.app;
    std::unique_ptr<FakeStatusNotifierWatcher>& m_watcher = m_h.watcher;

    ZentrowApp& startApp(std::chrono::milliseconds noticeTimeout = StatusAreaNotice::kDefaultTimeout)
    {
        return m_h.start(
            [noticeTimeout](ZentrowAppOptions& options) { options.statusAreaTimings.noticeTimeout = noticeTimeout; });
    }

    // Once the app has launched.
    bool launched()
    {
        return QTest::qWaitFor([this] { return m_app->delegate().statusAreaFallback() != nullptr; });
    }

    StatusAreaFallback& fallback() { return *m_app->delegate().statusAreaFallback(); }

    bool itemHosted() { return static_cast<AdaptiveStatusItem*>(m_app->delegate().statusItem())->isHosted(); }

    // The fallback window while the user can see it, else null.
    StatusAreaFallbackWindow* shownWindow()
    {
        StatusAreaFallbackWindow* window = fallback().window();
        const bool mapped =
            window && window->isVisible() && window->windowHandle() && window->windowHandle()->isExposed();
        return mapped ? window : nullptr;
    }

    // Moves the virtual clock and lets whatever woke up run.
    void advance(std::chrono::milliseconds by)
    {
        m_h.sleeper->advance(by);
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
        // As in main(): the app decides itself when closing a window ends it.
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void init()
    {
        m_h.setUp([](const LoopbackHttpServer::Request&) { return LoopbackHttpServer::Reply::json(R"({"data":[]})"); });
    }

    void cleanup()
    {
        m_app.reset();
        m_notifications.reset();
        if (SettingsWindowManager::shared().window()) {
            SettingsWindowManager::shared().window()->close();
        }
        m_h.tearDown();
    }

    void noHostTellsOnceOpensTheWindowAndGivesWayToAHost()
    {
        m_notifications = std::make_unique<FakeNotificationServer>(FakeNotificationServer::Mode::Answer);
        QVERIFY(m_notifications->start());
        startApp();
        QVERIFY(launched());
        advance(kNoHostDelay - 1ms);
        QVERIFY(!fallback().window());
        QVERIFY(m_notifications->received.isEmpty());

        advance(1ms);
        QTRY_COMPARE(m_notifications->received.size(), 1);
        const FakeNotificationServer::Notification notice = m_notifications->received.first();
        QCOMPARE((QStringList{notice.appName, notice.appIcon, notice.summary}),
                 (QStringList{"Zentrow", "app.zentrow.Zentrow", "找不到状态栏，Zentrow 暂以窗口显示"}));
        // What to install, named so that it can be found.
        QVERIFY2(notice.body.contains(QStringLiteral("“AppIndicator and KStatusNotifierItem Support”扩展")) &&
                     notice.body.contains(QStringLiteral("gnome-shell-extension-appindicator")),
                 qPrintable(notice.body));

        // The popover's view, as an ordinary window of the app.
        QTRY_VERIFY(shownWindow());
        QPointer<StatusAreaFallbackWindow> window = shownWindow();
        auto* view = window->findChild<MenuBarPopoverView*>(QStringLiteral("menuBarPopoverView"));
        QVERIFY(view && view->isVisible());
        QVERIFY(!m_app->delegate().statusBarController()->popover().isVisible());

        // It follows the one state, and its settings entry opens the settings window beside it.
        m_app->appState().setIsSearchPresented(true);
        QTRY_VERIFY(view->addTokenSheet()->isVisible());
        QAction* settings = view->moreMenu()->actions().first();
        settings->trigger();
        QTRY_VERIFY(SettingsWindowManager::shared().window() && SettingsWindowManager::shared().window()->isVisible());
        QVERIFY(shownWindow());

        // A host appears: the item registers, the window goes, the notice is taken back.
        QVERIFY(m_watcher->start());
        QTRY_COMPARE(m_watcher->registrations(), 1);
        QTRY_VERIFY(itemHosted());
        QTRY_VERIFY(!fallback().window());
        QTRY_VERIFY(window.isNull());
        QTRY_COMPARE(m_notifications->closed, QList<uint>{42});

        // From now on the item is the app's face.
        QVERIFY(item(m_watcher->items().value(0)).activate());
        QTRY_VERIFY(m_app->delegate().statusBarController()->popover().isVisible());
    }

    void aShortHostRestartBringsNoWindowALongOneDoesAndClosingItQuits()
    {
        m_notifications = std::make_unique<FakeNotificationServer>(FakeNotificationServer::Mode::Answer);
        QVERIFY(m_notifications->start());
        QVERIFY(m_watcher->start());
        startApp();
        QTRY_COMPARE(m_watcher->registrations(), 1);
        QTRY_VERIFY(itemHosted());
        QVERIFY(launched());
        advance(kNoHostDelay * 2);
        QVERIFY(!fallback().window());

        // The panel restarts within the grace time.
        m_watcher->stop();
        QTRY_VERIFY(!itemHosted());
        advance(kReturnGrace - 1s);
        QVERIFY(m_watcher->start());
        QTRY_COMPARE(m_watcher->registrations(), 2);
        QTRY_VERIFY(itemHosted());
        advance(kReturnGrace * 2);
        QVERIFY(!fallback().window());
        QVERIFY(m_notifications->received.isEmpty());

        // It stays away longer: the window and the one notice, until the panel is back.
        m_watcher->stop();
        QTRY_VERIFY(!itemHosted());
        advance(kReturnGrace);
        QTRY_VERIFY(shownWindow());
        QTRY_COMPARE(m_notifications->received.size(), 1);
        QVERIFY(m_watcher->start());
        QTRY_COMPARE(m_watcher->registrations(), 3);
        QTRY_VERIFY(itemHosted());
        QTRY_VERIFY(!fallback().window());

        // Gone long again: the window returns, the notice does not.
        m_watcher->stop();
        QTRY_VERIFY(!itemHosted());
        advance(kReturnGrace);
        QTRY_VERIFY(shownWindow());
        QCOMPARE(m_notifications->received.size(), 1);

        // Closing the window ends the app as the popover's quit does, and the next start finds
        // the watchlist as it was.
        m_app->appState().addToken(TokenSummary::fallbackCatalog().at(1));
        const QList<WatchlistEntry> watched = m_app->appState().watchlistEntries();
        QEventLoop loop;
        QTimer::singleShot(0, shownWindow(), &QWidget::close);
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(7); });
        QCOMPARE(loop.exec(), 0);
        m_app.reset();
        startApp();
        QCOMPARE(m_app->appState().watchlistEntries(), watched);
    }

    void aHostThatDropsTheItemGetsItAgainOrTheWindowReturns()
    {
        QVERIFY(m_watcher->start());
        startApp(1500ms);
        QVERIFY(launched());
        QTRY_COMPARE(m_watcher->registrations(), 1);
        QTRY_VERIFY(itemHosted());
        const QString service = m_watcher->items().value(0);

        // Dropped once while the watcher runs: the item asks again and is back.
        m_watcher->dropItem(service);
        QTRY_VERIFY(!itemHosted());
        QTRY_COMPARE_WITH_TIMEOUT(m_watcher->registrations(), 2, 15000); // after the item's first 1 s retry
        QTRY_VERIFY(itemHosted());
        // Asked again by object path, which GNOME's extension tracks by our bus name.
        QCOMPARE(m_watcher->items(), QStringList{QStringLiteral("/StatusNotifierItem")});
        advance(kReturnGrace * 2);
        QVERIFY(!fallback().window());

        // Dropped for good, named as GNOME names a path-registered item: the window is back after
        // the grace time.
        m_watcher->setRefusesItems(true);
        m_watcher->dropItem(QDBusConnection::sessionBus().baseService() + QStringLiteral("@/StatusNotifierItem"));
        QTRY_VERIFY(!itemHosted());
        advance(kReturnGrace);
        QTRY_VERIFY(shownWindow());
    }

    void aNotificationServiceThatFailsOrIsSilentBlocksNothing_data()
    {
        QTest::addColumn<int>("mode"); // -1: nobody on the bus shows notifications
        QTest::newRow("no service") << -1;
        QTest::newRow("error") << int(FakeNotificationServer::Mode::Fail);
        QTest::newRow("no answer") << int(FakeNotificationServer::Mode::Silent);
    }

    void aNotificationServiceThatFailsOrIsSilentBlocksNothing()
    {
        QFETCH(int, mode);
        if (mode >= 0) {
            m_notifications = std::make_unique<FakeNotificationServer>(FakeNotificationServer::Mode(mode));
            QVERIFY(m_notifications->start());
        }
        // A short notice timeout, for the service that never answers (or a bus that tries to start one).
        startApp(1500ms);
        QVERIFY(launched());
        advance(kNoHostDelay);
        QTRY_VERIFY(shownWindow());
        StatusAreaNotice* notice = fallback().notice();
        QVERIFY(notice);
        if (mode == int(FakeNotificationServer::Mode::Silent)) {
            // The window is up and the event loop turns while the service keeps us waiting.
            QTRY_COMPARE(m_notifications->received.size(), 1);
            QCOMPARE(notice->outcome(), StatusAreaNotice::Outcome::Pending);
        }
        QTRY_COMPARE_WITH_TIMEOUT(notice->outcome(), StatusAreaNotice::Outcome::Undelivered, 15000);
        QVERIFY(shownWindow());

        // A host still takes over.
        QVERIFY(m_watcher->start());
        QTRY_VERIFY(!fallback().window());
    }
};

QTEST_MAIN(NoStatusAreaTest)
#include "tst_nostatusarea.moc"
