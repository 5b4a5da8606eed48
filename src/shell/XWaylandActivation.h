#pragma once

#include <QtGlobal>

#include <cstdint>

class QWidget;
struct xcb_connection_t;

// Hands the keyboard to a window of ours under Xwayland, where the app sees none of the user's
// input: the click on the shell's panel that asked for the window leaves the app with an old
// X time, and the window manager turns down an activation stamped with it (focus-stealing
// prevention). The request is stamped with the X server's current time instead, read on a
// connection of our own. Does nothing off X11.
class XWaylandActivation {
public:
    XWaylandActivation();
    ~XWaylandActivation();
    XWaylandActivation(const XWaylandActivation&) = delete;
    XWaylandActivation& operator=(const XWaylandActivation&) = delete;

    // Keeps `window` out of the task list, the window switcher and the overview. Call before
    // each show: the window manager drops these states when the window is hidden.
    static void keepOutOfWindowLists(QWidget& window);
    // Asks the window manager again, right after a show, for those states and for keeping
    // `window` above others: when the window is shown again soon after it was hidden, the
    // window manager may drop the states only once the window is back.
    static void restoreStates(QWidget& window);
    // Asks the window manager to focus and raise the shown `window`.
    void activate(QWidget& window);

private:
    // The X server's current time, or 0 (CurrentTime) when it cannot be read.
    std::uint32_t serverTime();

    xcb_connection_t* m_clock = nullptr;
    std::uint32_t m_clockWindow = 0;
    std::uint32_t m_clockAtom = 0;
};
