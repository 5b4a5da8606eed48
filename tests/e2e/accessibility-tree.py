#!/usr/bin/python3
# accessibility-tree.py ZENTROW
# The running app as a screen reader reads it, over AT-SPI: starts ZENTROW with accessibility on
# (against a loopback backend), opens the popover through its status item, then the add-token
# screen and the settings window through the controls' own accessible actions, and checks each
# tree: every control a person can reach has a name and a role. Then it listens through two
# refreshes with new prices, which may only rename what changed. Runs inside
# tests/e2e/desktop-session.sh, whose panel provides the StatusNotifierWatcher.
import http.server
import json
import os
import subprocess
import sys
import threading
import time

import pyatspi
from gi.repository import Gio, GLib

BTC = {"id": "BTC", "symbol": "BTC", "name": "Bitcoin", "price": 75456.36, "change24h": -2.05,
       "trend7d": [71000, 72200, 73650, 74120, 75900, 76320, 75456]}
ETH = {"id": "ETH", "symbol": "ETH", "name": "Ethereum", "price": 3456.7, "change24h": 1.5,
       "trend7d": [3300, 3400, 3456.7]}
# Roles that say nothing of what a control is.
VAGUE_ROLES = {pyatspi.ROLE_INVALID, pyatspi.ROLE_UNKNOWN, pyatspi.ROLE_FILLER, pyatspi.ROLE_PANEL}
# Up to this long for the app, the bus and the desktop to answer; a condition ends every wait.
PATIENCE_S = float(os.environ.get("ZENTROW_E2E_PATIENCE_S", "30"))


class Backend(http.server.BaseHTTPRequestHandler):
    quotes_served = 0
    drifting = False  # each answer a cent dearer than the last

    def do_GET(self):
        data = [ETH, BTC] if self.path.startswith("/api/search") else [BTC]
        if not self.path.startswith("/api/search"):
            Backend.quotes_served += 1
            if Backend.drifting:
                data = [dict(BTC, price=BTC["price"] + Backend.quotes_served / 100)]
        body = json.dumps({"data": data}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)
    return ok


def wait_for(what, probe):
    deadline = time.monotonic() + PATIENCE_S
    while time.monotonic() < deadline:
        try:
            found = probe()
        except GLib.Error:
            found = None
        if found:
            return found
        time.sleep(0.2)
    sys.exit(f"accessibility-tree: gave up waiting for {what}")


def states(node):
    return node.getState()


def showing(node):
    # The application itself is never "showing"; its windows and their contents are.
    return node.getRole() == pyatspi.ROLE_APPLICATION or states(node).contains(pyatspi.STATE_SHOWING)


def walk(node):
    """The showing nodes under `node`, itself included."""
    if node is None or not showing(node):
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i))


def actions(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def describe(node):
    return f"{node.getRoleName()} {node.name!r}"


def check_controls(window, screen):
    """Every node a person can reach (focusable, or with actions) has a name and a telling role."""
    for node in walk(window):
        reachable = states(node).contains(pyatspi.STATE_FOCUSABLE) or actions(node)
        if reachable:
            check(node.name.strip() != "", f"{screen}: unnamed {describe(node)}")
            check(node.getRole() not in VAGUE_ROLES, f"{screen}: vague role of {describe(node)}")


def find(window, role, name=None, prefix=None):
    for node in walk(window):
        if node.getRole() == role and (name is None or node.name == name) and \
                (prefix is None or node.name.startswith(prefix)):
            return node
    return None


def press(node, name="Press"):
    action = node.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    check(any(n.lower() == name.lower() for n in names), f"{describe(node)} has no {name} action: {names}")
    for i, n in enumerate(names):
        if n.lower() == name.lower():
            action.doAction(i)
            return


def app_node():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Zentrow":
            return app
    return None


def window(app, name):
    for i in range(app.childCount):
        node = app.getChildAtIndex(i)
        if node is not None and node.name == name and showing(node):
            return node
    return None


def open_popover(bus, pid):
    def item():
        reply = bus.call_sync("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                              "org.freedesktop.DBus.Properties", "Get",
                              GLib.Variant("(ss)", ("org.kde.StatusNotifierWatcher",
                                                    "RegisteredStatusNotifierItems")),
                              None, Gio.DBusCallFlags.NONE, -1, None)
        for entry in reply.unpack()[0]:
            service, _, path = entry.partition("/")
            owner_pid = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                      "GetConnectionUnixProcessID", GLib.Variant("(s)", (service,)),
                                      None, Gio.DBusCallFlags.NONE, -1, None).unpack()[0]
            if owner_pid == pid:
                return service, "/" + (path or "StatusNotifierItem")
        return None

    service, path = wait_for("the app's status item", item)
    bus.call_sync(service, path, "org.kde.StatusNotifierItem", "Activate", GLib.Variant("(ii)", (640, 12)),
                  None, Gio.DBusCallFlags.NONE, -1, None)


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Backend)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
               ZENTROW_BACKEND_URL=f"http://127.0.0.1:{server.server_port}")
    app_process = subprocess.Popen([sys.argv[1]], env=env)
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        app = wait_for("the app on the accessibility bus", app_node)
        open_popover(bus, app_process.pid)

        popover = wait_for("the popover among the app's windows", lambda: window(app, "Zentrow"))
        check(popover.getRole() in (pyatspi.ROLE_FRAME, pyatspi.ROLE_WINDOW), f"popover is a {describe(popover)}")
        row = wait_for("BTC's row with its price", lambda: find(popover, pyatspi.ROLE_LIST_ITEM, prefix="BTC, Bitcoin, 75,456.36"))
        print("row:", row.name)
        check(row.parent.getRole() == pyatspi.ROLE_LIST, "rows sit in a list")
        check(states(row).contains(pyatspi.STATE_EXPANDABLE), "a row says it can expand")
        press(row)
        wait_for("the row expanded", lambda: states(row).contains(pyatspi.STATE_EXPANDED))
        more = find(popover, pyatspi.ROLE_PUSH_BUTTON, "更多")
        check(more is not None, "the 更多 button")
        check_controls(popover, "watchlist")

        add = find(popover, pyatspi.ROLE_PUSH_BUTTON, "添加代币")
        press(add)
        field = wait_for("the search field", lambda: find(popover, pyatspi.ROLE_TEXT, "搜索代币")
                         or find(popover, pyatspi.ROLE_ENTRY, "搜索代币"))
        wait_for("the focus in the search field", lambda: states(field).contains(pyatspi.STATE_FOCUSED))
        subprocess.run(["xdotool", "type", "--delay", "50", "e"], check=True)
        subprocess.run(["xdotool", "key", "Return"], check=True)
        results = wait_for("the results list", lambda: find(popover, pyatspi.ROLE_LIST, "搜索结果"))
        wait_for("ETH among the results", lambda: find(results, pyatspi.ROLE_LIST_ITEM, "ETH, Ethereum"))
        check_controls(popover, "add-token screen")

        # Back, then settings through the "more" menu, whose items are read like any other.
        press(find(popover, pyatspi.ROLE_PUSH_BUTTON, "返回"))
        more = wait_for("the 更多 button again", lambda: find(popover, pyatspi.ROLE_PUSH_BUTTON, "更多"))
        press(more)
        # The menu is a window of its own.
        press(wait_for("the 设置 menu item", lambda: find(app, pyatspi.ROLE_MENU_ITEM, "设置")))
        settings = wait_for("the settings window", lambda: window(app, "设置"))
        check(settings.getRole() == pyatspi.ROLE_FRAME, f"settings window is a {describe(settings)}")
        stepper = find(settings, pyatspi.ROLE_SPIN_BUTTON)
        if check(stepper is not None, "the refresh stepper is a spin button"):
            value = stepper.queryValue()
            check((value.minimumValue, value.maximumValue, value.minimumIncrement) == (5, 300, 5),
                  f"stepper bounds {value.minimumValue}..{value.maximumValue} step {value.minimumIncrement}")
            before = value.currentValue
            press(stepper, "Increase")
            wait_for("the stepper one step up", lambda: value.currentValue == before + 5)
            value.currentValue = 5
            wait_for("the stepper at 5 s", lambda: value.currentValue == 5)
        check_controls(settings, "settings")

        # Two refreshes with new prices: a screen reader hears the row and the status preview
        # renamed in place, and nothing else (moves and resizes it does not read out).
        heard = []

        def hear(event):
            if not event.type.startswith("object:bounds-changed"):
                heard.append(f"{event.type} on {event.source.getRoleName() if event.source else '?'}")

        pyatspi.Registry.registerEventListener(hear, "object", "window", "focus")
        Backend.drifting = True
        served = Backend.quotes_served
        context = GLib.MainContext.default()

        def refreshed():
            while context.iteration(False):
                pass
            return Backend.quotes_served >= served + 2

        wait_for("two refreshes", refreshed)
        print("heard on refresh:", heard)
        renamed = {"object:property-change:accessible-name on list item",
                   "object:property-change:accessible-name on label"}
        check(heard and set(heard) <= renamed, f"a refresh raised more than renames of what changed: {heard}")
    finally:
        app_process.terminate()
        app_process.wait()
        server.shutdown()
    if failures:
        sys.exit(f"accessibility-tree: {len(failures)} failure(s)")
    print("accessibility-tree: all checks passed")


if __name__ == "__main__":
    main()
