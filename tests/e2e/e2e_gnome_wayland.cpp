// The status item and its popover in GNOME's Wayland session, where the app runs through
// Xwayland: starts the app in the throwaway session this program runs in
// (tests/e2e/gnome-wayland-session.sh) and drives it with real input through the shell
// (gw-click, gw-key, gw-type). What the shell manages, where, and which window has the keyboard
// come from gw-windows; where the item sits, from the shell's own panel.
//
// ZENTROW_E2E_CYCLES says how many open/close cycles to run (10), ZENTROW_E2E_SCREENSHOTS a
// folder for screenshots of the popover while searching.

#include "shell/StatusNotifierTypes.h"
#include "testlib/CommandOutput.h"
#include "testlib/LoopbackHttpServer.h"
#include "testlib/StatusItemHost.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>

namespace {

const QByteArray kQuotes = R"({"data":[{"id":"BTC","symbol":"BTC","name":"Bitcoin","price":75456.36,
  "change24h":-2.05,"trend7d":[71000,72200,73650,74120,75900,76320,75456]}]})";
const QByteArray kEtherResults = R"({"data":[{"id":"ETH","symbol":"ETH","name":"Ethereum","price":3012.5,
  "change24h":1.25,"trend7d":[2900,2950,3000,2990,3010,3020,3012]}]})";
constexpr QSize kPopoverSize{368, 620};
const QString kNativeTitle = QStringLiteral("A Wayland window");
// A desktop point away from the panel, the native window (centred) and the popover (right).
const QPoint kDesktop{60, 700};
// The popover's "+" button, from its top-left corner.
const QPoint kAddButton{33, 29};
constexpr int kKeyEscape = 0xff1b;
constexpr int kKeyShift = 0xffe1;

QString run(const QString& program, const QStringList& arguments)
{
    return commandOutput(program, arguments).trimmed();
}

struct ShellWindow {
    QString title;
    QRect frame;
    bool focused = false;
    bool overrideRedirect = false;
};

QList<ShellWindow> shellWindows()
{
    static const QRegularExpression line(
        QStringLiteral(R"re(^"(.*)" (-?\d+) (-?\d+) (\d+) (\d+) focus=(\d) override-redirect=(\d)$)re"));
    QList<ShellWindow> windows;
    for (const QString& text : run(QStringLiteral("gw-windows"), {}).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch()) {
            windows.append({match.captured(1),
                            QRect(match.captured(2).toInt(), match.captured(3).toInt(), match.captured(4).toInt(),
                                  match.captured(5).toInt()),
                            match.captured(6) == QLatin1String("1"), match.captured(7) == QLatin1String("1")});
        }
    }
    return windows;
}

std::optional<ShellWindow> shellWindow(const std::function<bool(const ShellWindow&)>& which)
{
    for (const ShellWindow& window : shellWindows()) {
        if (which(window)) {
            return window;
        }
    }
    return std::nullopt;
}

QString rectText(const QRect& r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

class GnomeWaylandEndToEnd : public QObject {
    Q_OBJECT

private:
    int m_cycles = 10;
    QTemporaryDir m_home;
    LoopbackHttpServer m_backend;
    QProcess m_app;
    QProcess m_native;
    QString m_service;
    QRect m_item; // the item's button in the top bar

    StatusItemHost item() const { return {QDBusConnection::sessionBus(), m_service}; }

    static void click(const QPoint& point, int count = 1)
    {
        run(QStringLiteral("gw-click"),
            {QString::number(point.x()), QString::number(point.y()), QStringLiteral("1"), QString::number(count)});
    }

    static void key(int keyval) { run(QStringLiteral("gw-key"), {QStringLiteral("0x%1").arg(keyval, 0, 16)}); }

    static QString eval(const QString& js) { return run(QStringLiteral("gw-eval"), {js}); }

    // The item's button in the top bar, as the AppIndicator extension placed it.
    static QRect itemButton()
    {
        const QString js =
            QStringLiteral("(() => { const b = Object.values(Main.panel.statusArea).find(b => b._indicator && "
                           "b._indicator.id === 'app.zentrow.Zentrow'); if (!b || !b.visible) return []; "
                           "const [x, y] = b.get_transformed_position(); const [w, h] = b.get_transformed_size(); "
                           "return [x, y, w, h].map(Math.round); })()");
        const QJsonArray box = QJsonDocument::fromJson(eval(js).toUtf8()).array();
        return box.size() == 4 ? QRect(box[0].toInt(), box[1].toInt(), box[2].toInt(), box[3].toInt()) : QRect();
    }

    // The centre of the item's menu entry "打开 Zentrow" while the menu is open, else null.
    static QPoint openEntry()
    {
        const QString js = QStringLiteral(
            "(() => { const b = Object.values(Main.panel.statusArea).find(b => b._indicator && "
            "b._indicator.id === 'app.zentrow.Zentrow'); if (!b || !b.menu.isOpen) return []; "
            "const i = b.menu._getMenuItems().find(i => i.label && i.label.text === '打开 Zentrow'); "
            "if (!i || !i.mapped) return []; const [x, y] = i.get_transformed_position(); "
            "const [w, h] = i.get_transformed_size(); return [x + w / 2, y + h / 2].map(Math.round); })()");
        const QJsonArray centre = QJsonDocument::fromJson(eval(js).toUtf8()).array();
        return centre.size() == 2 ? QPoint(centre[0].toInt(), centre[1].toInt()) : QPoint();
    }

    static std::optional<ShellWindow> popover()
    {
        return shellWindow([](const ShellWindow& w) { return w.frame.size() == kPopoverSize; });
    }

    static bool focused(const QString& title)
    {
        return shellWindow([&title](const ShellWindow& w) { return w.title == title && w.focused; }).has_value();
    }

    // The app takes clicks closer together than this as one (a host reporting a click twice),
    // and a click on the item right after an outside click closed the popover as that click.
    static void pauseLikeAPerson() { QTest::qWait(500); }

    void saveScreenshot(const QString& name) const
    {
        const QString folder = qEnvironmentVariable("ZENTROW_E2E_SCREENSHOTS");
        if (!folder.isEmpty()) {
            QDir().mkpath(folder);
            run(QStringLiteral("gw-shot"), {QDir(folder).filePath(name)});
        }
    }

    // Opens the popover by a double click on the item, which GNOME answers with Activate, and
    // checks that it hangs under the item with the keyboard.
    void openByDoubleClick()
    {
        pauseLikeAPerson();
        click(m_item.center(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(popover().has_value(), 10000);
        checkPopoverUnderTheItemWithTheKeyboard();
    }

    void checkPopoverUnderTheItemWithTheKeyboard()
    {
        // Mapped at once; the window manager hands it the keyboard a moment later.
        QTRY_VERIFY_WITH_TIMEOUT(popover() && popover()->focused, 10000);
        const ShellWindow window = *popover();
        QVERIFY(!window.overrideRedirect);
        const QRect& frame = window.frame;
        const int gap = frame.top() - m_item.bottom();
        QVERIFY2(gap >= 0 && gap < 32,
                 qPrintable(QStringLiteral("popover %1 below the item %2").arg(rectText(frame), rectText(m_item))));
        QVERIFY2(frame.left() <= m_item.center().x() && frame.right() >= m_item.center().x() - 200,
                 qPrintable(QStringLiteral("popover %1, item %2").arg(rectText(frame), rectText(m_item))));
    }

    void waitUntilClosed(const char* how)
    {
        QTRY_VERIFY2_WITH_TIMEOUT(!popover().has_value(), qPrintable(QStringLiteral("still open after %1").arg(how)),
                                  10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("ZENTROW_E2E_CYCLES")) {
            m_cycles = qEnvironmentVariableIntValue("ZENTROW_E2E_CYCLES");
        }
        QVERIFY2(!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"), "run inside tests/e2e/gnome-wayland-session.sh");
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no session bus");
        registerStatusNotifierTypes();

        m_backend.setHandler([](const LoopbackHttpServer::Request& request) {
            if (request.target.startsWith("/api/quotes")) {
                return LoopbackHttpServer::Reply::json(kQuotes);
            }
            return LoopbackHttpServer::Reply::json(request.target.contains("q=eth") ? kEtherResults : R"({"data":[]})");
        });
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path());
        environment.insert(QStringLiteral("ZENTROW_BACKEND_URL"), m_backend.baseUrl().toString());
        // The app picks Xwayland by itself, as it does when a user starts it.
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_app.setProcessEnvironment(environment);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        m_app.start(QStringLiteral(ZENTROW_APP_PATH), {});
        QVERIFY(m_app.waitForStarted());
        m_service = QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(m_app.processId());
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(m_service).value(),
                                 15000);

        // A native Wayland client, to hold the keyboard and to be clicked on.
        m_native.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment gtk = QProcessEnvironment::systemEnvironment();
        gtk.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
        m_native.setProcessEnvironment(gtk);
        // The system interpreter, which has the GTK bindings.
        m_native.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral("-c"),
                        QStringLiteral("import gi; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk; "
                                       "w = Gtk.Window(title='%1'); w.set_default_size(400, 300); "
                                       "w.connect('destroy', Gtk.main_quit); w.show_all(); Gtk.main()")
                            .arg(kNativeTitle)});
        QVERIFY(m_native.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(shellWindow([](const ShellWindow& w) { return w.title == kNativeTitle; }), 15000);

        // The top bar draws the item once its label came; it may still move while the bar lays out.
        QTRY_VERIFY_WITH_TIMEOUT(item().property(QStringLiteral("XAyatanaLabel")).toString().startsWith(u"BTC "),
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(itemButton().isValid(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(std::exchange(m_item, itemButton()) == m_item && m_item.isValid(), 10000);
        // Xwayland takes the first key of the shell's new virtual keyboard as a keymap change and
        // drops it; a Shift here, on the Wayland window that has the keyboard, is that key.
        key(kKeyShift);
    }

    void cleanupTestCase()
    {
        for (QProcess* process : {&m_app, &m_native}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                process->waitForFinished(10000);
            }
        }
    }

    void menuOpensThePopoverUnderTheItemWhereverThePointerWas()
    {
        // The pointer last over another X window (the settings window), far from the item: the
        // only position Xwayland knows.
        QVERIFY(item().menuEvent(item().menuId(QStringLiteral("设置"))));
        std::optional<ShellWindow> settings;
        QTRY_VERIFY_WITH_TIMEOUT((settings = shellWindow([](const ShellWindow& w) {
                                      return !w.overrideRedirect && w.title != kNativeTitle &&
                                             w.frame.size() != kPopoverSize;
                                  })),
                                 10000);
        run(QStringLiteral("gw-move"),
            {QString::number(settings->frame.center().x()), QString::number(settings->frame.center().y())});
        pauseLikeAPerson();
        // Closed again with Escape; Xwayland keeps the pointer where it last saw it.
        QTRY_VERIFY_WITH_TIMEOUT(focused(settings->title), 10000);
        key(kKeyEscape);
        QTRY_VERIFY_WITH_TIMEOUT(!focused(settings->title), 10000);

        // On GNOME a click opens the item's menu; its entry is clicked as a person would, once
        // the menu has finished sliding in.
        click(m_item.center());
        QPoint entry;
        QPoint last;
        QTRY_VERIFY_WITH_TIMEOUT((last = std::exchange(entry, openEntry()), !entry.isNull() && entry == last), 10000);
        click(entry);
        QTRY_VERIFY_WITH_TIMEOUT(popover().has_value(), 10000);
        checkPopoverUnderTheItemWithTheKeyboard();
        key(kKeyEscape);
        waitUntilClosed("Escape");
    }

    void keysReachTheSearchWhicheverWindowHadThem()
    {
        // A native Wayland window holds the keyboard.
        const std::optional<ShellWindow> native =
            shellWindow([](const ShellWindow& w) { return w.title == kNativeTitle; });
        QVERIFY(native);
        pauseLikeAPerson();
        click(native->frame.center());
        QTRY_VERIFY_WITH_TIMEOUT(focused(kNativeTitle), 10000);
        openByDoubleClick();
        click(popover()->frame.topLeft() + kAddButton);
        // The search field takes the keyboard a moment after the sheet shows.
        QTest::qWait(400);
        run(QStringLiteral("gw-type"), {QStringLiteral("eth")});
        QTRY_VERIFY_WITH_TIMEOUT(
            [this] {
                for (const LoopbackHttpServer::Request& request : m_backend.requests()) {
                    if (request.target == "/api/search?q=eth") {
                        return true;
                    }
                }
                return false;
            }(),
            10000);
        QVERIFY(!focused(kNativeTitle));
        if (qEnvironmentVariableIsSet("ZENTROW_E2E_SCREENSHOTS")) {
            // Once the results have been drawn.
            QTest::qWait(1000);
            saveScreenshot(QStringLiteral("gnome-wayland-search.png"));
        }

        // A click on the native window closes the popover and leaves that window the keyboard.
        click(native->frame.center());
        waitUntilClosed("a click on a native window");
        QTRY_VERIFY_WITH_TIMEOUT(focused(kNativeTitle), 10000);
    }

    void overviewClosesThePopover()
    {
        openByDoubleClick();
        // "Activities", at the top bar's left end.
        click(QPoint(30, m_item.center().y()));
        waitUntilClosed("opening the overview");
        QTRY_COMPARE_WITH_TIMEOUT(eval(QStringLiteral("Main.overview.visible")), QStringLiteral("true"), 5000);
        key(kKeyEscape);
        QTRY_COMPARE_WITH_TIMEOUT(eval(QStringLiteral("Main.overview.visible")), QStringLiteral("false"), 5000);
    }

    void opensAndClosesEveryTime()
    {
        for (int cycle = 0; cycle < m_cycles; ++cycle) {
            openByDoubleClick();
            if (cycle % 2 == 0) {
                key(kKeyEscape);
                waitUntilClosed("Escape");
            } else {
                click(kDesktop);
                waitUntilClosed("a click on the desktop");
            }
        }
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    GnomeWaylandEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "e2e_gnome_wayland.moc"
