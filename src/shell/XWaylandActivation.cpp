#include "shell/XWaylandActivation.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <memory>

namespace {

using Reply = std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const Reply reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, quint16(qstrlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : XCB_NONE;
}

xcb_connection_t* qtConnection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootOf(xcb_connection_t* connection)
{
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    return screens.rem > 0 ? screens.data->root : XCB_NONE;
}

// Long enough for a loaded X server, short enough not to be felt if it never answers.
constexpr std::chrono::milliseconds kClockTimeout{500};

} // namespace

XWaylandActivation::XWaylandActivation() = default;

XWaylandActivation::~XWaylandActivation()
{
    if (m_clock) {
        xcb_disconnect(m_clock);
    }
}

void XWaylandActivation::keepOutOfWindowLists(QWidget& window)
{
    xcb_connection_t* connection = qtConnection();
    if (!connection)
        return;
    const auto id = xcb_window_t(window.winId());
    const xcb_atom_t states[] = {atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 atom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    // Qt adds its own states to what the property holds when it maps the window.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2,
                        states);
    xcb_flush(connection);
}

void XWaylandActivation::restoreStates(QWidget& window)
{
    xcb_connection_t* connection = qtConnection();
    if (!connection)
        return;
    const xcb_atom_t state = atom(connection, "_NET_WM_STATE");
    const xcb_atom_t pairs[][2] = {
        {atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"), atom(connection, "_NET_WM_STATE_SKIP_PAGER")},
        {atom(connection, "_NET_WM_STATE_ABOVE"), XCB_NONE}};
    for (const auto& pair : pairs) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = xcb_window_t(window.winId());
        message.type = state;
        message.data.data32[0] = 1; // add
        message.data.data32[1] = pair[0];
        message.data.data32[2] = pair[1];
        message.data.data32[3] = 2; // on the user's behalf
        xcb_send_event(connection, 0, rootOf(connection),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
    }
    xcb_flush(connection);
}

void XWaylandActivation::activate(QWidget& window)
{
    xcb_connection_t* connection = qtConnection();
    if (!connection)
        return;
    const auto id = xcb_window_t(window.winId());
    const xcb_window_t root = rootOf(connection);
    const xcb_atom_t activeWindow = atom(connection, "_NET_ACTIVE_WINDOW");
    const std::uint32_t time = serverTime();
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> active(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, root, activeWindow, XCB_ATOM_WINDOW, 0, 1),
                               nullptr),
        &std::free);
    if (active && xcb_get_property_value_length(active.get()) == 4 &&
        *static_cast<const xcb_window_t*>(xcb_get_property_value(active.get())) == id) {
        // The window manager counts the window as focused, yet the X focus stayed elsewhere: it
        // focused the window while the shell held the keyboard (its menu was open). Take it.
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, id, time);
        xcb_flush(connection);
        return;
    }
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = activeWindow;
    // On the user's behalf: the request follows their click on the panel.
    message.data.data32[0] = 2;
    message.data.data32[1] = time;
    message.data.data32[2] = XCB_NONE;
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

std::uint32_t XWaylandActivation::serverTime()
{
    if (!m_clock) {
        // Qt's connection reads its events on a thread of its own; waiting for one of ours there
        // would race it.
        m_clock = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_connection_has_error(m_clock) ? XCB_NONE : rootOf(m_clock);
        if (root == XCB_NONE) {
            xcb_disconnect(m_clock);
            m_clock = nullptr;
            return XCB_CURRENT_TIME;
        }
        m_clockWindow = xcb_generate_id(m_clock);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_clock, XCB_COPY_FROM_PARENT, m_clockWindow, root, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
        m_clockAtom = atom(m_clock, "_ZENTROW_SERVER_TIME");
    }
    // An empty append changes nothing but is answered with a PropertyNotify stamped with the
    // server's time.
    xcb_change_property(m_clock, XCB_PROP_MODE_APPEND, m_clockWindow, m_clockAtom, XCB_ATOM_INTEGER, 32, 0, nullptr);
    xcb_flush(m_clock);
    const auto deadline = std::chrono::steady_clock::now() + kClockTimeout;
    while (!xcb_connection_has_error(m_clock)) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_clock)) {
            const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> owned(event, &std::free);
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                return reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd fd{xcb_get_file_descriptor(m_clock), POLLIN, 0};
        poll(&fd, 1, int(left.count()));
    }
    return XCB_CURRENT_TIME;
}
