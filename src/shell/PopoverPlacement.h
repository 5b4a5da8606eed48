#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// Where the popover goes for a click at an anchor point: hanging from the panel nearest the
// click, clear of every panel, inside the screen. Panels are the dock windows along a screen
// edge and the space a panel reserves (the difference between a screen and its work area); a
// panel set to let windows cover it reserves nothing, so its dock window is what counts.
// All rectangles in the same (device-independent) global coordinates.
class PopoverPlacement {
public:
    struct Screen {
        QRect geometry;
        QRect available; // the work area on this screen
    };

    // Gap between the popover and the panel or screen edge it hangs from.
    static constexpr int kMargin = 6;
    // A dock this close to a screen edge is that edge's panel (Plasma's floating panels keep a
    // small gap).
    static constexpr int kEdgeTolerance = 16;

    static QRect place(const QPoint& anchor, const QSize& size, const QList<Screen>& screens,
                       const QList<QRect>& docks);
};
