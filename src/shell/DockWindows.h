#pragma once

#include <QList>
#include <QRect>

// The desktop's dock windows (panels and docks, _NET_WM_WINDOW_TYPE_DOCK) that are mapped now,
// read from the X server, so the popover can keep clear of panels that reserve no space.
class DockWindows {
public:
    // Their frames in Qt's device-independent global coordinates; empty off X11.
    static QList<QRect> geometries();
    // A rectangle in the X server's pixels as Qt's global coordinates: each screen keeps its
    // origin and scales distances from it.
    static QRect fromNative(const QRect& native);
};
