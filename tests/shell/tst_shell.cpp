// The app in this process on a private session bus, as the desktop's panel host sees it.
#include "shell/PopoverWindow.h"
#include "shell/SettingsWindowManager.h"
#include "shell/StatusBarController.h"
#include "shell/StatusNotifierItem.h"
#include "shell/StatusNotifierMenu.h"
#include "shell/SystemWakeWatcher.h"
#include "shell/ZentrowApp.h"
#include "state/AppState.h"
#include "testlib/AppOnPrivateBus.h"
#include "testlib/StateHarness.h"
#include "ui/popover/MenuBarPopoverView.h"

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>

using namespace std::chrono_literals;
using namespace AppOnPrivateBus;

namespace {
const QByteArray kBitcoinQuote = R"({"data":[{"id":"BTC","symbol":"BTC","name":"Bitcoin","price":75456.36,
  "change24h":-2.05,"trend7d":[71000,72200,73650,74120,75900,76320,75456]},
  {"id":"ETH","symbol":"ETH","name":"Ethereum","price":2337.24,"change24h":1.34,"trend7d":[]}]})";
const QString kBitcoinText = QStringLiteral("BTC 75,456.36 -2.05%");
const QString kEtherText = QStringLiteral("ETH 2,337.24 +1.34%");
// The item's menu below its tokens.
const QStringList kMenuTail{"-", "打开 Zentrow", "设置", "-", "退出"};

const TokenSummary kEther = FakeMarketDataService::token(QStringLiteral("ETH"), 2337.24, 1.34);

// Counts a D-Bus signal of the item as a host receives it.
class SignalCounter : public QObject {
    Q_OBJECT
public:
    int count = 0;
    QVariantList last;
public Q_SLOTS:
    void received(const QDBusMessage& message)
    {
        ++count;
        last = message.arguments();
    }
};

bool countSignal(const QString& service, const QString& path, const QString& interface, const QString& name,
                 SignalCounter* counter)
{
    return hostBus().connect(service, path, interface, name, counter, SLOT(received(QDBusMessage)));
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

} // namespace

class ShellTest : public QObject {
    Q_OBJECT

private:
    Harness m_h;
    bool m_backendUp = false;
    QByteArray m_quote = kBitcoinQuote;

    ZentrowApp& startApp() { return m_h.start(); }
    std::unique_ptr<ZentrowApp>& m_app = m_h.app;

    QString itemService() { return m_h.itemService(); }

    qsizetype quotesRequests() const
    {
        const auto requests = m_h.backend->requests();
        return std::count_if(requests.begin(), requests.end(),
                             [](const auto& request) { return request.target.startsWith("/api/quotes"); });
    }

    // One periodic refresh: the loop's wait ends and its request is answered. The loop must be
    // waiting first, and no other refresh running: one still in flight (the start-up refresh, say)
    // would swallow the loop's.
    [[nodiscard]] bool periodicRefresh()
    {
        const AppState& state = m_app->appState();
        // The loop starts waiting only after the start-up refresh has begun.
        if (!QTest::qWaitFor([&] { return m_h.sleeper->pendingCount() > 0 && !state.isRefreshingWatchlist(); })) {
            return false;
        }
        const qsizetype before = quotesRequests();
        m_h.sleeper->advance(AppState::refreshWait(state.preferences().refreshInterval));
        return QTest::qWaitFor([&] { return quotesRequests() > before && !state.isRefreshingWatchlist(); });
    }

    // The app with quotes answered, once the item shows them.
    void startWithQuotes()
    {
        m_backendUp = true;
        startApp();
        QTRY_COMPARE(item(itemService()).text("XAyatanaLabel"), kBitcoinText);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session"); }

    void init()
    {
        m_backendUp = false;
        m_quote = kBitcoinQuote;
        m_h.setUp([this](const LoopbackHttpServer::Request& request) {
            if (!request.target.startsWith("/api/quotes")) {
                return LoopbackHttpServer::Reply::json(R"({"data":[]})");
            }
            return m_backendUp ? LoopbackHttpServer::Reply::json(m_quote)
                               : LoopbackHttpServer::Reply::json(R"({"error":"down"})", 503);
        });
        QVERIFY(m_h.watcher->start());
    }

    void cleanup() { m_h.tearDown(); }

    void itemRegistersAndFollowsThePinnedToken()
    {
        startApp();
        const QString service = itemService();
        QCOMPARE((QStringList{item(service).text("XAyatanaLabel"), item(service).text("Title"),
                              item(service).text("ItemIsMenu"), item(service).text("Status")}),
                 (QStringList{"Zentrow", "Zentrow", "false", "Active"}));
        // Before the first quotes: the token is listed with placeholders, and no update time.
        QCOMPARE(item(service).menuTexts(), QStringList{"✓ BTC -- --"} + kMenuTail);
        QCOMPARE(item(service).toolTip().description, QStringLiteral("BTC -- --"));

        m_backendUp = true;
        QVERIFY(periodicRefresh());
        QTRY_COMPARE(item(service).text("XAyatanaLabel"), kBitcoinText);
        const SniToolTip tip = item(service).toolTip();
        QCOMPARE((QStringList{item(service).text("Title"), tip.title, item(service).text("XAyatanaLabelGuide")}),
                 (QStringList{kBitcoinText, kBitcoinText, "BTC 00,000.00 -0.00%"}));
        // The title is the pinned token's line; the body does not say it again.
        QVERIFY2(QRegularExpression(QStringLiteral("^更新于 [0-2]\\d:[0-5]\\d$")).match(tip.description).hasMatch(),
                 qPrintable(tip.description));
        QCOMPARE(item(service).menuTexts().first(), QStringLiteral("✓ ") + kBitcoinText);
        QCOMPARE(item(service).text("IconName"), QStringLiteral("app.zentrow.Zentrow"));

        // Between refreshes Qt's "QNetworkAccessManager thread" ends; the next refresh starts it
        // again and gets its answer through.
        QTRY_COMPARE_WITH_TIMEOUT(threadsNamed("QNetworkAccess"), 0, 10000);
        m_quote.replace("75456.36", "80000.5");
        QVERIFY(periodicRefresh());
        QTRY_COMPARE(item(service).text("Title"), QStringLiteral("BTC 80,000.50 -2.05%"));
        QTRY_COMPARE_WITH_TIMEOUT(threadsNamed("QNetworkAccess"), 0, 10000);
    }

    void menuFollowsTheWatchlistAndPins()
    {
        startWithQuotes();
        const QString service = itemService();
        SignalCounter layouts;
        SignalCounter properties;
        QVERIFY(countSignal(service, StatusItemHost::kMenuPath, StatusItemHost::kMenuInterface,
                            QStringLiteral("LayoutUpdated"), &layouts));
        QVERIFY(countSignal(service, StatusItemHost::kMenuPath, StatusItemHost::kMenuInterface,
                            QStringLiteral("ItemsPropertiesUpdated"), &properties));
        const uint firstRevision = item(service).menuLayout().first;

        m_app->appState().addToken(kEther);
        QTRY_COMPARE(item(service).menuTexts(), (QStringList{"✓ " + kBitcoinText, kEtherText} + kMenuTail));
        QTRY_VERIFY(layouts.count > 0);
        QVERIFY(layouts.last.at(0).toUInt() > firstRevision);
        QCOMPARE(item(service).menuLayout().first, layouts.last.at(0).toUInt());
        QTRY_COMPARE(item(service).toolTip().description.section(QLatin1Char('\n'), 0, 0), kEtherText);

        // Choosing an entry pins its token: the check mark moves, as does the status text.
        const int layoutsBefore = layouts.count;
        QVERIFY(item(service).menuEvent(item(service).menuId(kEtherText)));
        QTRY_COMPARE(item(service).text("XAyatanaLabel"), kEtherText);
        QCOMPARE(item(service).menuTexts().mid(0, 2), (QStringList{kBitcoinText, QStringLiteral("✓ ") + kEtherText}));
        QTRY_VERIFY(properties.count > 0);
        QCOMPARE(layouts.count, layoutsBefore);
        QCOMPARE(item(service).toolTip().title, kEtherText);
        QCOMPARE(item(service).toolTip().description.section(QLatin1Char('\n'), 0, 0), kBitcoinText);

        // The preferences shape every entry's text.
        AppPreferences preferences = m_app->appState().preferences();
        preferences.showsMenuBarSymbol = false;
        m_app->appState().setPreferences(preferences);
        QTRY_COMPARE(item(service).menuTexts().mid(0, 2), (QStringList{"75,456.36 -2.05%", "✓ 2,337.24 +1.34%"}));

        // With nothing listed the menu still offers the popover, settings and quit.
        m_app->appState().removeToken(QStringLiteral("BTC"));
        m_app->appState().removeToken(QStringLiteral("ETH"));
        QTRY_COMPARE(item(service).menuTexts(), kMenuTail.mid(1));
        QCOMPARE(item(service).text("XAyatanaLabel"), QStringLiteral("Zentrow"));
    }

    void tooltipWaitsForThePopoverAndOddHostCallsChangeNothing()
    {
        startWithQuotes();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        SignalCounter toolTips;
        QVERIFY(countSignal(service, StatusItemHost::kItemPath, StatusItemHost::kItemInterface,
                            QStringLiteral("NewToolTip"), &toolTips));
        QVERIFY(item(service).activate());
        QTRY_VERIFY(popover.isVisible());
        // Announcing a tooltip makes hosts show it over whatever is there: not while the popover is open.
        m_app->appState().addToken(kEther);
        QTRY_COMPARE(item(service).menuLayout().second.size(), 7);
        QCOMPARE(toolTips.count, 0);
        pauseBetweenClicks();
        QVERIFY(item(service).activate());
        QTRY_VERIFY(!popover.isVisible());
        QTRY_COMPARE(toolTips.count, 1);
        QVERIFY(item(service).toolTip().description.contains(QStringLiteral("ETH ")));

        const int etherId = item(service).menuId(QStringLiteral("ETH "));
        QVERIFY(etherId >= StatusNotifierMenu::kFirstTokenId);
        m_app->appState().removeToken(QStringLiteral("ETH"));
        QTRY_COMPARE(item(service).menuLayout().second.size(), 6);

        // Events on unknown and vanished entries, and on the root, pin nothing.
        for (int id : {etherId, 99999, -1, 0, int(StatusNotifierMenu::kTokensSeparatorId)}) {
            QVERIFY(item(service).menuEvent(id));
        }
        auto group = QDBusMessage::createMethodCall(service, StatusItemHost::kMenuPath, StatusItemHost::kMenuInterface,
                                                    QStringLiteral("EventGroup"));
        DBusMenuEventList events{{etherId, QStringLiteral("clicked"), QDBusVariant(0), 0},
                                 {StatusNotifierMenu::kOpenId, QStringLiteral("hovered"), QDBusVariant(0), 0}};
        group << QVariant::fromValue(events);
        const QDBusMessage groupReply = item(service).call(group);
        QCOMPARE(groupReply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(qdbus_cast<QList<int>>(groupReply.arguments().at(0)), QList<int>{etherId});
        // Asking for the layout below an entry that is gone is an error, not a crash.
        auto layout = QDBusMessage::createMethodCall(service, StatusItemHost::kMenuPath, StatusItemHost::kMenuInterface,
                                                     QStringLiteral("GetLayout"));
        layout << etherId << -1 << QStringList();
        QCOMPARE(item(service).call(layout).type(), QDBusMessage::ErrorMessage);
        QCoreApplication::processEvents();
        QCOMPARE(m_app->appState().watchlistEntries().size(), 1);
        QVERIFY(m_app->appState().watchlistEntries().first().isPinnedToMenuBar);
        QVERIFY(!popover.isVisible());

        // Coordinates that overflow on their way to the screen open the popover on it all the same
        // (other points off every screen are rows of popoverHangsFromTheNearestPanel).
        pauseBetweenClicks();
        QVERIFY(item(service).activate(INT_MAX, INT_MAX));
        QTRY_VERIFY(popover.isVisible());
        QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(popover.geometry()));
    }

    void settingsAndQuitFromThePopoverMenu()
    {
        startApp();
        const QString service = itemService();
        QTRY_VERIFY(!m_h.backend->requests().isEmpty());
        QTRY_VERIFY(!m_app->appState().isRefreshingWatchlist());
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        const auto moreMenuEntry = [&popover](int index) {
            return popover.findChild<MenuBarPopoverView*>()->moreMenu()->actions().at(index);
        };
        // Settings close the popover, and its search, first.
        m_app->appState().setIsSearchPresented(true);
        QVERIFY(item(service).activate());
        QTRY_VERIFY(popover.isVisible());
        moreMenuEntry(0)->trigger();
        QTRY_VERIFY(!popover.isVisible());
        QVERIFY(!m_app->appState().isSearchPresented());
        SettingsWindowManager& settings = SettingsWindowManager::shared();
        QTRY_VERIFY(settings.window() && settings.window()->isVisible());
        settings.window()->close();

        // Quit from the open popover ends the event loop with zero.
        pauseBetweenClicks();
        QVERIFY(item(service).activate());
        QTRY_VERIFY(popover.isVisible());
        QEventLoop loop;
        QTimer::singleShot(0, moreMenuEntry(2), &QAction::trigger);
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(7); });
        QCOMPARE(loop.exec(), 0);
        QVERIFY(!popover.isVisible());
        // Nothing changed, so no stored document was written.
        m_app.reset();
        QVERIFY(!QFile::exists(m_h.settingsFile()));
    }

    void resumeAndReturningNetworkRefreshAtOnce()
    {
        // A stand-in logind on a bus of our own, handed to the watcher as its system bus.
        QDBusConnection logind = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("logind"));
        QVERIFY(logind.registerService(QStringLiteral("org.freedesktop.login1")));
        StateHarness h;
        h.storeEntries({"BTC"});
        AppState& state = h.start();
        SystemWakeWatcher watcher(state, QDBusConnection::sessionBus());
        const auto sleepSignal = [&logind](bool sleeping) {
            auto message = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                      QStringLiteral("org.freedesktop.login1.Manager"),
                                                      QStringLiteral("PrepareForSleep"));
            message << sleeping;
            QVERIFY(logind.send(message));
        };

        sleepSignal(true);
        sleepSignal(false);
        QTRY_COMPARE(h.service->refreshCalls().size(), 2);
        h.service->answerRefresh(QList<TokenSummary>{});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        h.settle();
        QCOMPARE(h.service->refreshCalls().size(), 2);

        using Reachability = QNetworkInformation::Reachability;
        watcher.handleReachability(Reachability::Disconnected);
        watcher.handleReachability(Reachability::Online);
        QTRY_COMPARE(h.service->refreshCalls().size(), 3);
        h.service->answerRefresh(QList<TokenSummary>{});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
        // Staying online, or a first report after an unknown state, is no return of the network.
        watcher.handleReachability(Reachability::Online);
        h.settle();
        QCOMPARE(h.service->refreshCalls().size(), 3);
        QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
    }
};

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
