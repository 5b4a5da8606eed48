// The app in this process on a private session bus, as the desktop's panel host sees it; and the
// zentrow executable as a user or the desktop starts it.
#include "BuildConfig.h"
#include "shell/AppActions.h"
#include "shell/PopoverEdge.h"
#include "shell/PopoverPlacement.h"
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
#include "testlib/StatusItemHost.h"
#include "ui/settings/SettingsView.h"

#include <algorithm>

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QDir>
#include <QEventLoop>
#include <QFontDatabase>
#include <QHostAddress>
#include <QMenu>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>
#include <QUrl>

using namespace std::chrono_literals;
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

const QByteArray kBitcoinQuote = R"({"data":[{"id":"BTC","symbol":"BTC","name":"Bitcoin","price":75456.36,
  "change24h":-2.05,"trend7d":[71000,72200,73650,74120,75900,76320,75456]},
  {"id":"ETH","symbol":"ETH","name":"Ethereum","price":2337.24,"change24h":1.34,"trend7d":[]}]})";
const QString kBitcoinText = QStringLiteral("BTC 75,456.36 -2.05%");
const QString kEtherText = QStringLiteral("ETH 2,337.24 +1.34%");

TokenSummary ether()
{
    TokenSummary token;
    token.id = token.symbol = QStringLiteral("ETH");
    token.price = 2337.24;
    token.change24h = 1.34;
    return token;
}

// The item at `service`, as the desktop's host sees it.
StatusItemHost item(const QString& service)
{
    return {hostBus(), service};
}

SniToolTip toolTip(const QString& service)
{
    SniToolTip tip;
    item(service).property(QStringLiteral("ToolTip")).value<QDBusArgument>() >> tip;
    return tip;
}

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

// Clicks closer together than this count as one.
void pauseBetweenClicks()
{
    // Past the item's coalescing and the popover's double-click guard.
    QTest::qWait(std::max(StatusNotifierItem::kClickCoalesceMs, QApplication::doubleClickInterval()) + 50);
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

    QString itemService()
    {
        QString service;
        (void)QTest::qWaitFor([this, &service] {
            if (!m_h.watcher->items().isEmpty()) {
                service = m_h.watcher->items().first();
            }
            return !service.isEmpty();
        });
        return service;
    }

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
        QVERIFY(service.startsWith(QStringLiteral("org.kde.StatusNotifierItem-")));
        QCOMPARE(item(service).property(QStringLiteral("XAyatanaLabel")).toString(), QStringLiteral("Zentrow"));
        QCOMPARE(item(service).property(QStringLiteral("Title")).toString(), QStringLiteral("Zentrow"));
        QCOMPARE(item(service).property(QStringLiteral("ItemIsMenu")).toBool(), false);
        QCOMPARE(item(service).property(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
        // Before the first quotes: the token is listed with placeholders, and no update time.
        QCOMPARE(item(service).menuTexts(),
                 (QStringList{QStringLiteral("✓ BTC -- --"), QStringLiteral("-"), QStringLiteral("打开 Zentrow"),
                              QStringLiteral("设置"), QStringLiteral("-"), QStringLiteral("退出")}));
        QCOMPARE(toolTip(service).description, QStringLiteral("BTC -- --"));

        m_backendUp = true;
        QVERIFY(periodicRefresh());
        QTRY_COMPARE(item(service).property(QStringLiteral("XAyatanaLabel")).toString(), kBitcoinText);
        QCOMPARE(item(service).property(QStringLiteral("Title")).toString(), kBitcoinText);
        QCOMPARE(item(service).property(QStringLiteral("XAyatanaLabelGuide")).toString(),
                 QStringLiteral("BTC 00,000.00 -0.00%"));
        const SniToolTip tip = toolTip(service);
        QCOMPARE(tip.title, kBitcoinText);
        // The title is the pinned token's line; the body does not say it again.
        QVERIFY2(QRegularExpression(QStringLiteral("^更新于 [0-2]\\d:[0-5]\\d$")).match(tip.description).hasMatch(),
                 qPrintable(tip.description));
        QCOMPARE(item(service).menuTexts().first(), QStringLiteral("✓ ") + kBitcoinText);

        // The icon by name from a theme folder that has it, and as pixels for hosts that want those.
        QCOMPARE(item(service).property(QStringLiteral("IconName")).toString(), QStringLiteral("app.zentrow.Zentrow"));
        const QString themePath = item(service).property(QStringLiteral("IconThemePath")).toString();
        for (const char* file : {"scalable/apps/app.zentrow.Zentrow.svg", "22x22/apps/app.zentrow.Zentrow.png",
                                 "256x256/apps/app.zentrow.Zentrow.png"}) {
            QVERIFY2(QFile::exists(themePath + QStringLiteral("/hicolor/") + QLatin1String(file)), file);
        }
        SniIconPixmapList pixmaps;
        item(service).property(QStringLiteral("IconPixmap")).value<QDBusArgument>() >> pixmaps;
        QVERIFY(!pixmaps.isEmpty());
        for (const SniIconPixmap& pixmap : pixmaps) {
            QCOMPARE(pixmap.bytes.size(), pixmap.width * pixmap.height * 4);
        }
    }

    void menuFollowsTheWatchlistAndPins()
    {
        m_backendUp = true;
        startApp();
        const QString service = itemService();
        QTRY_COMPARE(item(service).property(QStringLiteral("XAyatanaLabel")).toString(), kBitcoinText);
        SignalCounter layouts;
        SignalCounter properties;
        QVERIFY(countSignal(service, StatusItemHost::kMenuPath, StatusItemHost::kMenuInterface,
                            QStringLiteral("LayoutUpdated"), &layouts));
        QVERIFY(countSignal(service, StatusItemHost::kMenuPath, StatusItemHost::kMenuInterface,
                            QStringLiteral("ItemsPropertiesUpdated"), &properties));
        const uint firstRevision = item(service).menuLayout().first;

        m_app->appState().addToken(ether());
        QTRY_COMPARE(item(service).menuTexts(),
                     (QStringList{QStringLiteral("✓ ") + kBitcoinText, kEtherText, QStringLiteral("-"),
                                  QStringLiteral("打开 Zentrow"), QStringLiteral("设置"), QStringLiteral("-"),
                                  QStringLiteral("退出")}));
        QTRY_VERIFY(layouts.count > 0);
        QVERIFY(layouts.last.at(0).toUInt() > firstRevision);
        QCOMPARE(item(service).menuLayout().first, layouts.last.at(0).toUInt());
        QTRY_COMPARE(toolTip(service).description.section(QLatin1Char('\n'), 0, 0), kEtherText);

        // Choosing an entry pins its token: the check mark moves, as does the status text.
        const int layoutsBefore = layouts.count;
        QVERIFY(item(service).menuEvent(item(service).menuId(kEtherText)));
        QTRY_COMPARE(item(service).property(QStringLiteral("XAyatanaLabel")).toString(), kEtherText);
        QCOMPARE(item(service).menuTexts().mid(0, 2), (QStringList{kBitcoinText, QStringLiteral("✓ ") + kEtherText}));
        QTRY_VERIFY(properties.count > 0);
        QCOMPARE(layouts.count, layoutsBefore);
        QCOMPARE(toolTip(service).title, kEtherText);
        QCOMPARE(toolTip(service).description.section(QLatin1Char('\n'), 0, 0), kBitcoinText);

        // The preferences shape every entry's text.
        AppPreferences preferences = m_app->appState().preferences();
        preferences.showsMenuBarSymbol = false;
        m_app->appState().setPreferences(preferences);
        QTRY_COMPARE(item(service).menuTexts().mid(0, 2),
                     (QStringList{QStringLiteral("75,456.36 -2.05%"), QStringLiteral("✓ 2,337.24 +1.34%")}));

        // With nothing listed the menu still offers the popover, settings and quit.
        m_app->appState().removeToken(QStringLiteral("BTC"));
        m_app->appState().removeToken(QStringLiteral("ETH"));
        QTRY_COMPARE(item(service).menuTexts(), (QStringList{QStringLiteral("打开 Zentrow"), QStringLiteral("设置"),
                                                             QStringLiteral("-"), QStringLiteral("退出")}));
        QCOMPARE(item(service).property(QStringLiteral("XAyatanaLabel")).toString(), QStringLiteral("Zentrow"));
    }

    void oddHostCallsChangeNothing()
    {
        m_backendUp = true;
        startApp();
        const QString service = itemService();
        QTRY_COMPARE(item(service).property(QStringLiteral("XAyatanaLabel")).toString(), kBitcoinText);
        m_app->appState().addToken(ether());
        QTRY_COMPARE(item(service).menuLayout().second.size(), 7);
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
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        QVERIFY(!popover.isVisible());

        // Coordinates off every screen open the popover on the screen all the same.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        for (const QPoint& odd : {QPoint(-50000, -3), QPoint(INT_MAX, INT_MAX)}) {
            pauseBetweenClicks();
            QVERIFY(item(service).activate(odd.x(), odd.y()));
            QTRY_VERIFY(popover.isVisible());
            QVERIFY(screen.contains(popover.geometry()));
            pauseBetweenClicks();
            QVERIFY(item(service).activate(odd.x(), odd.y()));
            QTRY_VERIFY(!popover.isVisible());
        }
    }

    void clicksToggleThePopoverBelowTheItem()
    {
        startApp();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        // The popover's content is made when it first opens, and kept.
        QVERIFY(!popover.content());

        const QPoint click(screen.right() - 40, screen.top() + 5);
        QVERIFY(item(service).activate(click.x(), click.y()));
        QTRY_VERIFY(popover.isVisible());
        QWidget* content = popover.content();
        QVERIFY(content && content->isVisible());
        QVERIFY(popover.findChild<QWidget*>(QStringLiteral("titleLabel")));
        QCOMPARE(popover.size(), QSize(368, 620));
        QVERIFY(popover.geometry().top() > click.y());
        QVERIFY(screen.contains(popover.geometry()));

        pauseBetweenClicks();
        QVERIFY(item(service).activate(click.x(), click.y()));
        QTRY_VERIFY(!popover.isVisible());

        // A right click does the same.
        pauseBetweenClicks();
        QVERIFY(item(service).call(StatusItemHost::kItemPath, StatusItemHost::kItemInterface,
                                   QStringLiteral("SecondaryActivate"), {10, 10}));
        QTRY_VERIFY(popover.isVisible());
        pauseBetweenClicks();
        QVERIFY(item(service).call(StatusItemHost::kItemPath, StatusItemHost::kItemInterface,
                                   QStringLiteral("SecondaryActivate"), {10, 10}));
        QTRY_VERIFY(!popover.isVisible());

        // A host opening the menu is not a click; its "打开 Zentrow" entry opens the popover, on
        // the panel's side, and leaves it open when chosen again.
        QVERIFY(item(service).menuEvent(StatusNotifierMenu::kRootId, QStringLiteral("opened")));
        QVERIFY(item(service).menuEvent(StatusNotifierMenu::kRootId, QStringLiteral("closed")));
        QCoreApplication::processEvents();
        QVERIFY(!popover.isVisible());
        for (int i = 0; i < 2; ++i) {
            QVERIFY(item(service).menuEvent(item(service).menuId(QStringLiteral("打开 Zentrow"))));
            QTRY_VERIFY(popover.isVisible());
            QVERIFY(screen.contains(popover.geometry()));
        }
        popover.close();

        // A burst of clicks while the popover opens counts once.
        pauseBetweenClicks();
        for (int i = 0; i < 3; ++i) {
            QVERIFY(item(service).activate(click.x(), click.y()));
        }
        QTRY_VERIFY(popover.isVisible());
        pauseBetweenClicks();
        QVERIFY(popover.isVisible());
        QCOMPARE(popover.content(), content);
    }

    void clicksOnTheItemWhileThePopoverIsOpen()
    {
        startApp();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint click(screen.right() - 40, screen.top() + 5);
        const auto menuTexts = [] {
            QStringList texts;
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (const QAction* action : menu->actions()) {
                    texts.append(action->isSeparator()
                                     ? QStringLiteral("-")
                                     : (action->isChecked() ? QStringLiteral("✓ ") : QString()) + action->text());
                }
            }
            return texts;
        };
        const QStringList entries{QStringLiteral("✓ BTC -- --"), QStringLiteral("-"), QStringLiteral("打开 Zentrow"),
                                  QStringLiteral("设置"),        QStringLiteral("-"), QStringLiteral("退出")};

        // The second click of a double click lands on the popover's grab, outside it: it stays open.
        // (A long double-click time, so a slow machine still clicks within it.)
        const int doubleClickInterval = QApplication::doubleClickInterval();
        QApplication::setDoubleClickInterval(10'000);
        QVERIFY(item(service).activate(click.x(), click.y()));
        QTRY_VERIFY(popover.isVisible());
        QTest::mouseClick(&popover, Qt::LeftButton, {}, popover.mapFromGlobal(click));
        QApplication::setDoubleClickInterval(doubleClickInterval);
        QVERIFY(popover.isVisible());

        // A right click on the item closes the popover and shows the item's menu, whose entries
        // do what the host's do.
        QTest::mouseClick(&popover, Qt::RightButton, {}, popover.mapFromGlobal(click));
        QTRY_VERIFY(!popover.isVisible());
        QTRY_COMPARE(menuTexts(), entries);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        menu->setActiveAction(menu->actions().at(2));
        QTest::keyClick(menu, Qt::Key_Return);
        QTRY_VERIFY(popover.isVisible());
        // A right click elsewhere only closes it.
        QTest::mouseClick(&popover, Qt::RightButton, {}, popover.mapFromGlobal(screen.center() + QPoint(0, 320)));
        QTRY_VERIFY(!popover.isVisible());
        QCOMPARE(QApplication::activePopupWidget(), nullptr);

        // A host that asks the item for its menu gets the same one.
        pauseBetweenClicks();
        QVERIFY(item(service).activate(click.x(), click.y()));
        QTRY_VERIFY(popover.isVisible());
        QVERIFY(item(service).call(StatusItemHost::kItemPath, StatusItemHost::kItemInterface,
                                   QStringLiteral("ContextMenu"), {click.x(), click.y()}));
        QTRY_VERIFY(!popover.isVisible());
        QTRY_COMPARE(menuTexts(), entries);
        QApplication::activePopupWidget()->close();
    }

    void popoverHangsFromTheNearestPanel_data()
    {
        QTest::addColumn<QPoint>("anchor");
        QTest::addColumn<QRect>("available"); // of the 1280 x 800 screen at the origin
        QTest::addColumn<QList<QRect>>("docks");
        QTest::addColumn<QRect>("expected");

        const QRect screen(0, 0, 1280, 800);
        const QRect topStrut(0, 44, 1280, 756);
        const QRect topDock(0, 0, 1280, 44);
        const QRect bottomDock(0, 756, 1280, 44);
        // x: centred on the click, kept 6 px inside the screen; y: 6 px off the panel.
        QTest::newRow("top panel with a strut")
            << QPoint(1200, 20) << topStrut << QList<QRect>{topDock} << QRect(906, 50, 368, 620);
        QTest::newRow("top strut without a dock window")
            << QPoint(600, 20) << topStrut << QList<QRect>{} << QRect(416, 50, 368, 620);
        QTest::newRow("bottom panel windows can cover")
            << QPoint(1000, 780) << screen << QList<QRect>{bottomDock} << QRect(816, 130, 368, 620);
        QTest::newRow("from the expander, far above the bottom panel")
            << QPoint(1000, 420) << screen << QList<QRect>{bottomDock} << QRect(816, 130, 368, 620);
        QTest::newRow("two panels, click near the bottom one")
            << QPoint(300, 700) << topStrut << QList<QRect>{topDock, bottomDock} << QRect(116, 130, 368, 620);
        QTest::newRow("two panels, click near the top one")
            << QPoint(300, 100) << topStrut << QList<QRect>{topDock, bottomDock} << QRect(116, 50, 368, 620);
        QTest::newRow("left panel") << QPoint(20, 400) << screen << QList<QRect>{QRect(0, 0, 48, 800)}
                                    << QRect(54, 90, 368, 620);
        QTest::newRow("floating bottom panel")
            << QPoint(640, 770) << screen << QList<QRect>{QRect(200, 744, 880, 48)} << QRect(456, 118, 368, 620);
        QTest::newRow("a dock window away from the edges is no panel")
            << QPoint(640, 20) << screen << QList<QRect>{QRect(400, 300, 300, 200)} << QRect(456, 32, 368, 620);
        QTest::newRow("no panel, click low")
            << QPoint(640, 790) << screen << QList<QRect>{} << QRect(456, 158, 368, 620);
        QTest::newRow("off every screen")
            << QPoint(-50000, -3) << screen << QList<QRect>{bottomDock} << QRect(6, 130, 368, 620);
        QTest::newRow("second screen's panel")
            << QPoint(1500, 10) << screen << QList<QRect>{bottomDock, QRect(1280, 0, 1920, 30)}
            << QRect(1316, 36, 368, 620);
    }

    void popoverHangsFromTheNearestPanel()
    {
        QFETCH(QPoint, anchor);
        QFETCH(QRect, available);
        QFETCH(QList<QRect>, docks);
        QFETCH(QRect, expected);
        const QList<PopoverPlacement::Screen> screens{{QRect(0, 0, 1280, 800), available},
                                                      {QRect(1280, 0, 1920, 1080), QRect(1280, 0, 1920, 1080)}};
        const QRect placed = PopoverPlacement::place(anchor, expected.size(), screens, docks);
        QCOMPARE(placed, expected);
        for (const QRect& dock : docks) {
            QVERIFY(!placed.intersects(dock) || dock == QRect(400, 300, 300, 200));
        }
    }

    // In a Wayland session the app sees neither the pointer nor clicks outside its windows: the
    // popover hangs from where the host last placed the item, and closes when it loses the focus.
    void waylandPopoverHangsFromTheItemAndClosesWithTheFocus()
    {
        qputenv("WAYLAND_DISPLAY", "wayland-test");
        const auto unset = qScopeGuard([] { qunsetenv("WAYLAND_DISPLAY"); });
        startApp();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        QCOMPARE(popover.kind(), PopoverWindow::Kind::FocusedWindow);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const int openId = item(service).menuId(QStringLiteral("打开 Zentrow"));

        // No host has told where the item is: from the top-right corner of the work area.
        QVERIFY(item(service).menuEvent(openId));
        QTRY_VERIFY(popover.isVisible() && popover.isActiveWindow());
        QCOMPARE(popover.geometry().right(), area.right() - PopoverPlacement::kMargin);
        QVERIFY(popover.geometry().top() > area.top() &&
                popover.geometry().top() <= area.top() + 2 * PopoverPlacement::kMargin);
        // Another window taking the focus closes it, as a click elsewhere does.
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(!popover.isVisible());

        // Once a click told where the item is, the menu opens the popover there too.
        const QPoint click(300, area.top() + 5);
        for (const bool fromMenu : {false, true}) {
            pauseBetweenClicks();
            QVERIFY(fromMenu ? item(service).menuEvent(openId) : item(service).activate(click.x(), click.y()));
            QTRY_VERIFY(popover.isVisible() && popover.isActiveWindow());
            QCOMPARE(popover.geometry().left(), click.x() - popover.width() / 2);
            QVERIFY(popover.geometry().top() > click.y());
            if (fromMenu) {
                QTest::keyClick(&popover, Qt::Key_Escape);
                QVERIFY(!popover.isVisible());
            } else {
                other.activateWindow();
                QTRY_VERIFY(!popover.isVisible());
            }
        }
    }

    void textDrawsFromOneFamilyAndOneCjkFaceSet()
    {
        startApp();
        const QString service = itemService();
        QVERIFY(item(service).activate());
        QTRY_VERIFY(m_app->delegate().statusBarController()->popover().isVisible());
        const QString family = QStringLiteral("Noto Sans CJK SC");
        if (!QFontDatabase::families().contains(family)) {
            QSKIP("Noto Sans CJK is not installed");
        }
        // Only the regular face and the medium one that semibold text takes; no further files.
        QStringList styles = QFontDatabase::styles(family);
        styles.sort();
        QVERIFY2(styles == QStringList{QStringLiteral("Regular")} ||
                     styles == (QStringList{QStringLiteral("Medium"), QStringLiteral("Regular")}),
                 qPrintable(styles.join(u',')));
        // Qt's own widgets in the popover (the frame made at start, the scroll area) take the
        // same family rather than loading the desktop's default sans-serif next to it.
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        QWidgetList widgets = popover.findChildren<QWidget*>();
        widgets.append(&popover);
        for (QWidget* widget : widgets) {
            QVERIFY2(widget->font().family() == family,
                     qPrintable(widget->objectName() + u' ' + widget->font().family()));
        }
    }

    void networkThreadEndsBetweenRefreshesAndComesBack()
    {
        m_backendUp = true;
        startApp();
        const QString service = itemService();
        QTRY_COMPARE(item(service).property(QStringLiteral("Title")).toString(),
                     QStringLiteral("BTC 75,456.36 -2.05%"));
        // Qt names it "QNetworkAccessManager thread".
        QTRY_COMPARE_WITH_TIMEOUT(threadsNamed("QNetworkAccess"), 0, 10000);

        // The next refresh starts it again and gets its answer through.
        m_quote.replace("75456.36", "80000.5");
        QVERIFY(periodicRefresh());
        QTRY_COMPARE(item(service).property(QStringLiteral("Title")).toString(),
                     QStringLiteral("BTC 80,000.50 -2.05%"));
        QTRY_COMPARE_WITH_TIMEOUT(threadsNamed("QNetworkAccess"), 0, 10000);
    }

    void tooltipStaysOffTheOpenPopover()
    {
        m_backendUp = true;
        startApp();
        const QString service = itemService();
        QTRY_COMPARE(item(service).property(QStringLiteral("XAyatanaLabel")).toString(), kBitcoinText);
        SignalCounter toolTips;
        QVERIFY(countSignal(service, StatusItemHost::kItemPath, StatusItemHost::kItemInterface,
                            QStringLiteral("NewToolTip"), &toolTips));
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        QVERIFY(item(service).activate());
        QTRY_VERIFY(popover.isVisible());
        // Announcing a tooltip makes hosts show it over whatever is there: not while the popover is open.
        m_app->appState().addToken(ether());
        QTRY_COMPARE(item(service).menuLayout().second.size(), 7);
        QCOMPARE(toolTips.count, 0);
        pauseBetweenClicks();
        QVERIFY(item(service).activate());
        QTRY_VERIFY(!popover.isVisible());
        QTRY_COMPARE(toolTips.count, 1);
        QVERIFY(toolTip(service).description.contains(QStringLiteral("ETH ")));
    }

    void settingsRequestClosesThePopoverFirst()
    {
        startApp();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        m_app->appState().setIsSearchPresented(true);
        QVERIFY(item(service).activate());
        QTRY_VERIFY(popover.isVisible());
        m_app->delegate().actions().openSettings()->trigger();
        QTRY_VERIFY(!popover.isVisible());
        QVERIFY(!m_app->appState().isSearchPresented());
        SettingsWindowManager& settings = SettingsWindowManager::shared();
        QTRY_VERIFY(settings.window() && settings.window()->isVisible());
        QWidget* window = settings.window();

        // Asked again after it was closed: the same window comes back, bound to this state.
        window->close();
        m_app->delegate().actions().openSettings()->trigger();
        QTRY_VERIFY(window->isVisible());
        QCOMPARE(settings.window(), window);
        QVERIFY(settings.settingsView());
        window->close();

        // The item's menu opens the same window.
        QVERIFY(item(service).menuEvent(item(service).menuId(QStringLiteral("设置"))));
        QTRY_VERIFY(window->isVisible());
        QCOMPARE(settings.window(), window);
        window->close();
    }

    void quitRequestEndsTheEventLoopWithZeroAndWritesNothing()
    {
        startApp();
        const QString service = itemService();
        QTRY_VERIFY(!m_h.backend->requests().isEmpty());
        QTRY_VERIFY(!m_app->appState().isRefreshingWatchlist());
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        QVERIFY(item(service).activate());
        QTRY_VERIFY(popover.isVisible());
        QEventLoop loop;
        QTimer::singleShot(0, m_app->delegate().actions().quit(), &QAction::trigger);
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(7); });
        QCOMPARE(loop.exec(), 0);
        QVERIFY(!popover.isVisible());
        // Nothing changed, so no stored document was written.
        m_app.reset();
        QVERIFY(!QFile::exists(m_h.settingsFile()));
    }

    void popoverShowsAnEdgeOverItsContent()
    {
        PopoverWindow popover;
        auto* content = new QWidget;
        content->setAutoFillBackground(true);
        QPalette palette = content->palette();
        palette.setColor(QPalette::Window, Qt::white);
        content->setPalette(palette);
        popover.setContent(content);
        popover.open(QPoint(400, 10));
        QTRY_VERIFY(popover.isVisible());
        for (const qreal ratio : {1.0, 2.0}) {
            QImage image(popover.size() * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::white);
            popover.render(&image);
            const auto grey = [&image, ratio](int x, int y) {
                return qGray(image.pixel(int(x * ratio), int(y * ratio)));
            };
            // A one-pixel line of black at 0.1 over white on every side; the content inside.
            const int w = popover.width() - 1;
            const int h = popover.height() - 1;
            for (const QPoint& edge : {QPoint(0, 300), QPoint(w, 300), QPoint(184, 0), QPoint(184, h)})
                QVERIFY2(qAbs(grey(edge.x(), edge.y()) - 229) <= 2,
                         qPrintable(QString::number(grey(edge.x(), edge.y()))));
            QCOMPARE(grey(2, 300), 255);
            QCOMPARE(grey(184, 2), 255);
        }
        // The edge lets clicks through to the content.
        QCOMPARE(popover.childAt(QPoint(0, 300)), content);

        // Where the window manager shows corners, they are cut smoothly at every scale: along
        // the curve some pixels are partly covered, and none of them outside it.
        QWidget window;
        window.resize(PopoverWindow::kSize);
        auto* opaque = new QWidget(&window);
        opaque->setAutoFillBackground(true);
        opaque->setPalette(palette);
        opaque->setGeometry(window.rect());
        PopoverEdge edge(&window, true);
        edge.setContent(opaque);
        for (const qreal ratio : {1.0, 1.5, 2.0}) {
            QImage image(window.size() * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::transparent);
            window.render(&image, {}, {}, QWidget::DrawChildren);
            int partial = 0;
            const int corner = int(PopoverEdge::kCornerRadius * ratio);
            for (int y = 0; y < corner; ++y) {
                for (int x = 0; x < corner; ++x) {
                    const int alpha = qAlpha(image.pixel(x, y));
                    partial += alpha > 0 && alpha < 255;
                }
            }
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            QVERIFY2(partial >= corner,
                     qPrintable(QStringLiteral("%1 partly covered pixels at %2x").arg(partial).arg(ratio)));
            QCOMPARE(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 255);
        }
    }

    void resumeAndReturningNetworkRefreshAtOnce()
    {
        // A stand-in logind on a bus of our own, handed to the watcher as its system bus.
        QDBusConnection logind = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("logind"));
        QVERIFY(logind.registerService(QStringLiteral("org.freedesktop.login1")));
        StateHarness h;
        h.storeEntries({"BTC"});
        AppState& state = h.make();
        h.settle();
        h.service->answerRefresh(QList<TokenSummary>{});
        QTRY_VERIFY(!state.isRefreshingWatchlist());
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

    // A second copy stands down and leaves the first running, with a session bus or without one.
    void secondLaunchLeavesTheFirstRunning()
    {
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
            } else {
                // Nothing to show the item on, but the app keeps running.
                QVERIFY(!first.waitForFinished(1500));
            }
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
        const Run result = run(arguments, withoutDisplay(m_h.dir.path()));
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

        QProcess app;
        startExecutable(app, m_h.dir.path());
        QTRY_COMPARE_WITH_TIMEOUT(manager.started, QStringList{"zentrow-backend.socket replace"}, 10'000);
        app.terminate();
        QVERIFY(app.waitForFinished(10'000));
        bus.unregisterService(QStringLiteral("org.freedesktop.systemd1"));
    }
};

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
