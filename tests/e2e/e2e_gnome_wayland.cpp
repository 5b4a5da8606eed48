// The status item and its popover in GNOME's Wayland session, where the app runs through
// Xwayland: starts the app in the throwaway session this program runs in
// (tests/e2e/gnome-wayland-session.sh) and drives it with real input through the shell, each
// step's input in one call of the shell's Eval (the session's global.gw helpers). What the shell
// manages, where, and which window has the keyboard come from the shell too; so does where the
// item sits on its panel. All positions are the shell's, in physical pixels on a scaled screen.
//
// ZENTROW_E2E_CYCLES says how many open/close cycles to run (10), ZENTROW_E2E_SCREENSHOTS a
// folder for screenshots of the popover while searching.

#include "shell/StatusNotifierTypes.h"
#include "testlib/LoopbackHttpServer.h"
#include "testlib/StatusItemHost.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
// A desktop point away from the panel, the native window (centred) and the popover (right), at
// scale 1.
const QPoint kDesktop{60, 700};
// The popover's "+" button, from its top-left corner, at scale 1.
const QPoint kAddButton{33, 29};
constexpr int kKeyEscape = 0xff1b;
constexpr int kKeyShift = 0xffe1;
constexpr int kKeyBackSpace = 0xff08;
constexpr int kKeySuper = 0xffeb;

// Runs `js` in the shell; its result as JSON, null when the shell refused or did not answer.
QJsonValue eval(const QString& js)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
                                       QStringLiteral("org.gnome.Shell"), QStringLiteral("Eval"));
    call << js;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    const QVariantList answer = reply.arguments();
    if (answer.size() != 2 || !answer[0].toBool()) {
        qWarning("the shell did not run %s: %s", qPrintable(js), qPrintable(answer.value(1).toString()));
        return QJsonValue::Null;
    }
    // Eval answers JSON.stringify of the result, which may be a bare value.
    return QJsonDocument::fromJson("[" + answer[1].toString().toUtf8() + "]").array().at(0);
}

struct ShellWindow {
    QString title;
    QRect frame;
    bool focused = false;
    bool overrideRedirect = false;
    bool drawn = false;
};

QList<ShellWindow> shellWindows()
{
    QList<ShellWindow> windows;
    for (const QJsonValue& value : eval(QStringLiteral("global.gw.windows()")).toArray()) {
        const QJsonObject w = value.toObject();
        windows.append({w[u"title"].toString(),
                        QRect(w[u"x"].toInt(), w[u"y"].toInt(), w[u"width"].toInt(), w[u"height"].toInt()),
                        w[u"focus"].toBool(), w[u"overrideRedirect"].toBool(), w[u"drawn"].toBool()});
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

// The box of a top-bar button in the shell, `js` naming the button's actor; null when hidden.
QRect panelButton(const QString& js)
{
    const QJsonArray box =
        eval(QStringLiteral("(() => { const b = %1; if (!b || !b.visible) return []; "
                            "const [x, y] = b.get_transformed_position(); const [w, h] = b.get_transformed_size(); "
                            "return [x, y, w, h].map(Math.round); })()")
                 .arg(js))
            .toArray();
    return box.size() == 4 ? QRect(box[0].toInt(), box[1].toInt(), box[2].toInt(), box[3].toInt()) : QRect();
}

void click(const QPoint& point, int count = 1)
{
    eval(QStringLiteral("global.gw.click(%1, %2, 1, %3)").arg(point.x()).arg(point.y()).arg(count));
}

void key(int keyval)
{
    eval(QStringLiteral("global.gw.keys([%1])").arg(keyval));
}

bool overviewShown()
{
    return eval(QStringLiteral("Main.overview.visible")).toBool();
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
    int m_scale = 1;
    QTemporaryDir m_home;
    LoopbackHttpServer m_backend;
    QProcess m_app;
    QProcess m_native;
    QString m_service;
    QRect m_item; // the item's button in the top bar

    StatusItemHost item() const { return {QDBusConnection::sessionBus(), m_service}; }

    // The item's button in the top bar, as the AppIndicator extension placed it.
    static QRect itemButton()
    {
        return panelButton(QStringLiteral("Object.values(Main.panel.statusArea).find(b => b._indicator && "
                                          "b._indicator.id === 'app.zentrow.Zentrow')"));
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
        const QJsonArray centre = eval(js).toArray();
        return centre.size() == 2 ? QPoint(centre[0].toInt(), centre[1].toInt()) : QPoint();
    }

    std::optional<ShellWindow> popover() const
    {
        return shellWindow([this](const ShellWindow& w) { return w.frame.size() == kPopoverSize * m_scale; });
    }

    static bool focused(const QString& title)
    {
        return shellWindow([&title](const ShellWindow& w) { return w.title == title && w.focused; }).has_value();
    }

    // The shell takes two clicks closer together than its double-click time as a double click;
    // the app takes clicks closer together than 300 ms as one (a host reporting a click twice),
    // and a click on the item right after an outside click closed the popover as that click.
    static void pauseLikeAPerson() { QTest::qWait(500); }

    void saveScreenshot(const QString& name) const
    {
        const QString folder = qEnvironmentVariable("ZENTROW_E2E_SCREENSHOTS");
        if (!folder.isEmpty() && QDir().mkpath(folder)) {
            QProcess::execute(QStringLiteral("gw-shot"), {QDir(folder).filePath(name)});
        }
    }

    // Opens the popover by a double click on the item, which GNOME answers with Activate, and
    // checks that it hangs under the item with the keyboard.
    void openByDoubleClick()
    {
        pauseLikeAPerson();
        click(m_item.center(), 2);
        checkPopoverUnderTheItemWithTheKeyboard();
    }

    void checkPopoverUnderTheItemWithTheKeyboard()
    {
        // Mapped at once; the window manager hands it the keyboard a moment later.
        QTRY_VERIFY_WITH_TIMEOUT(popover() && popover()->focused, 10000);
        const ShellWindow window = popover().value_or(ShellWindow{});
        QVERIFY(!window.overrideRedirect);
        const QRect& frame = window.frame;
        const int gap = frame.top() - m_item.bottom();
        QVERIFY2(gap >= 0 && gap < 32 * m_scale,
                 qPrintable(QStringLiteral("popover %1 below the item %2").arg(rectText(frame), rectText(m_item))));
        QVERIFY2(frame.left() <= m_item.center().x() && frame.right() >= m_item.center().x() - 200 * m_scale,
                 qPrintable(QStringLiteral("popover %1, item %2").arg(rectText(frame), rectText(m_item))));
        // Nobody acts the moment the popover shows: the windows that take clicks outside it take
        // none before they are drawn, and keys that come before the app has seen the window
        // manager's focus go to no window of the app.
        QTRY_VERIFY_WITH_TIMEOUT(!shellWindow([](const ShellWindow& w) { return w.title == u"Zentrow" && !w.drawn; }),
                                 10000);
        pauseLikeAPerson();
    }

    void waitUntilClosed(const char* how)
    {
        QTRY_VERIFY2_WITH_TIMEOUT(
            !popover().has_value(),
            qPrintable(QStringLiteral("still open after %1; windows: %2").arg(QLatin1String(how), windowsText())),
            10000);
    }

    static QString windowsText()
    {
        QStringList texts;
        for (const ShellWindow& w : shellWindows()) {
            texts.append(QStringLiteral("\"%1\" %2%3%4")
                             .arg(w.title, rectText(w.frame), w.focused ? QStringLiteral(" focused") : QString(),
                                  w.overrideRedirect ? QStringLiteral(" unmanaged") : QString()));
        }
        return texts.join(QStringLiteral(", "));
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
        m_scale = eval(QStringLiteral("imports.gi.St.ThemeContext.get_for_stage(global.stage).scale_factor")).toInt();
        QVERIFY2(m_scale >= 1, "the shell's input helpers are missing");

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

        // A native Wayland client, to hold the keyboard and to be clicked on; started alongside.
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
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(m_service).value(),
                                 15000);
        QTRY_VERIFY_WITH_TIMEOUT(shellWindow([](const ShellWindow& w) { return w.title == kNativeTitle; }), 15000);

        // The top bar draws the item once its label came, and widens it (and its menu) once the
        // price is in; it may still move while the bar lays out.
        QTRY_VERIFY_WITH_TIMEOUT(item().property(QStringLiteral("XAyatanaLabel")).toString().startsWith(u"BTC 75"),
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
        const auto isSettings = [this](const ShellWindow& w) {
            return !w.overrideRedirect && w.title != kNativeTitle && w.frame.size() != kPopoverSize * m_scale;
        };
        QTRY_VERIFY_WITH_TIMEOUT(shellWindow(isSettings).value_or(ShellWindow{}).focused, 10000);
        const ShellWindow settings = shellWindow(isSettings).value_or(ShellWindow{});
        eval(
            QStringLiteral("global.gw.move(%1, %2)").arg(settings.frame.center().x()).arg(settings.frame.center().y()));
        // Closed again with Escape; Xwayland keeps the pointer where it last saw it. The window
        // manager hands the keyboard on, and the shell closes a menu that opened before that.
        key(kKeyEscape);
        QTRY_VERIFY_WITH_TIMEOUT(shellWindow([&settings](const ShellWindow& w) {
                                     return w.focused && w.title != settings.title;
                                 }).has_value(),
                                 10000);

        // On GNOME a click opens the item's menu; its entry is clicked as a person would, once
        // the menu has finished sliding in.
        click(m_item.center());
        QPoint entry;
        QPoint last;
        QTRY_VERIFY_WITH_TIMEOUT((last = std::exchange(entry, openEntry()), !entry.isNull() && entry == last), 10000);
        click(entry);
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
        click(native->frame.center());
        QTRY_VERIFY_WITH_TIMEOUT(focused(kNativeTitle), 10000);
        openByDoubleClick();
        click(popover()->frame.topLeft() + kAddButton * m_scale);
        // The search field takes the keyboard a moment after the sheet shows, later on a busy
        // machine; what is typed before that goes nowhere, and is typed again over what did land.
        const auto searched = [this] {
            for (const LoopbackHttpServer::Request& request : m_backend.requests()) {
                if (request.target == "/api/search?q=eth") {
                    return true;
                }
            }
            return false;
        };
        bool typed = false;
        for (int attempt = 0; attempt < 5 && !typed; ++attempt) {
            eval(QStringLiteral("global.gw.keys([%1, %1, %1]) && global.gw.type('eth')").arg(kKeyBackSpace));
            typed = QTest::qWaitFor(searched, 3000);
        }
        QVERIFY(typed);
        QVERIFY(!focused(kNativeTitle));
        if (qEnvironmentVariableIsSet("ZENTROW_E2E_SCREENSHOTS")) {
            // Once the results have been drawn.
            QTest::qWait(1000);
            saveScreenshot(QStringLiteral("gnome-wayland-search.png"));
        }

        // Escape leaves the add-token screen first, so later openings start on the watchlist; a
        // click on the native window then closes the popover and leaves that window the keyboard.
        key(kKeyEscape);
        click(native->frame.center());
        waitUntilClosed("a click on a native window");
        QTRY_VERIFY_WITH_TIMEOUT(focused(kNativeTitle), 10000);
    }

    // The shell takes the keyboard for its menus and its overview without telling Xwayland; the
    // popover closes as the shell's own menus do, and opens again afterwards.
    void theShellTakingTheKeyboardClosesThePopover()
    {
        const QRect dateMenu = panelButton(QStringLiteral("Main.panel.statusArea.dateMenu"));
        const QRect activities = panelButton(QStringLiteral("Main.panel.statusArea.activities"));
        QVERIFY(dateMenu.isValid() && activities.isValid());

        openByDoubleClick();
        click(dateMenu.center());
        waitUntilClosed("a click on the top bar's date menu");
        openByDoubleClick();
        click(m_item.center());
        waitUntilClosed("a click on the item");

        openByDoubleClick();
        key(kKeySuper);
        waitUntilClosed("the overview, by the Super key");
        QVERIFY(overviewShown());
        key(kKeyEscape);
        QTRY_VERIFY_WITH_TIMEOUT(!overviewShown(), 5000);

        openByDoubleClick();
        click(activities.center());
        waitUntilClosed("a click on Activities");
        QVERIFY(!overviewShown());
        // From the overview, whose top bar stays within reach, the popover shows over the desktop.
        click(activities.center());
        QTRY_VERIFY_WITH_TIMEOUT(overviewShown(), 5000);
        openByDoubleClick();
        QVERIFY(!overviewShown());
        key(kKeyEscape);
        waitUntilClosed("Escape");
    }

    void opensAndClosesEveryTime()
    {
        for (int cycle = 0; cycle < m_cycles && !QTest::currentTestFailed(); ++cycle) {
            openByDoubleClick();
            if (cycle % 2 == 0) {
                key(kKeyEscape);
                waitUntilClosed("Escape");
            } else {
                click(kDesktop * m_scale);
                waitUntilClosed("a click on the desktop");
            }
        }
    }

    // Mutter names what it finds wrong with a window in its log (a transient parent it does not
    // manage, say).
    void theShellFoundNothingWrongWithOurWindows()
    {
        QFile log(qEnvironmentVariable("GW_SHELL_LOG"));
        QVERIFY2(log.open(QIODevice::ReadOnly), "the session names no shell log");
        const QList<QByteArray> lines = log.readAll().split('\n');
        for (const QByteArray& line : lines) {
            QVERIFY2(!line.contains("Invalid WM_TRANSIENT_FOR"), line.constData());
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
