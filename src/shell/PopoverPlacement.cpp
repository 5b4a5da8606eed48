#include "shell/PopoverPlacement.h"

#include <algorithm>
#include <climits>
#include <optional>

namespace {

enum class Edge { Top, Bottom, Left, Right };

struct Panel {
    QRect rect;
    Edge edge;
};

// Distance from a point to a rectangle; 0 inside it.
qint64 distance(const QPoint& point, const QRect& rect)
{
    const qint64 dx = std::max<qint64>({qint64(rect.left()) - point.x(), 0, qint64(point.x()) - rect.right()});
    const qint64 dy = std::max<qint64>({qint64(rect.top()) - point.y(), 0, qint64(point.y()) - rect.bottom()});
    return dx * dx + dy * dy;
}

// The screen edge a dock window runs along, if it runs along one.
std::optional<Edge> edgeOf(const QRect& dock, const QRect& screen)
{
    const int tolerance = PopoverPlacement::kEdgeTolerance;
    const bool horizontal = dock.width() >= dock.height();
    if (horizontal && dock.top() - screen.top() <= tolerance) {
        return Edge::Top;
    }
    if (horizontal && screen.bottom() - dock.bottom() <= tolerance) {
        return Edge::Bottom;
    }
    if (!horizontal && dock.left() - screen.left() <= tolerance) {
        return Edge::Left;
    }
    if (!horizontal && screen.right() - dock.right() <= tolerance) {
        return Edge::Right;
    }
    return std::nullopt;
}

QList<Panel> panelsOf(const PopoverPlacement::Screen& screen, const QList<QRect>& docks)
{
    const QRect& s = screen.geometry;
    QList<Panel> panels;
    for (const QRect& dock : docks) {
        const QRect onScreen = dock.intersected(s);
        if (onScreen.isEmpty()) {
            continue;
        }
        if (const std::optional<Edge> edge = edgeOf(onScreen, s)) {
            panels.append({onScreen, *edge});
        }
    }
    // Space reserved by panels that are not windows of their own (GNOME Shell's top bar).
    const QRect& a = screen.available;
    if (a.isValid() && s.contains(a)) {
        if (a.top() > s.top()) {
            panels.append({QRect(QPoint(s.left(), s.top()), QPoint(s.right(), a.top() - 1)), Edge::Top});
        }
        if (a.bottom() < s.bottom()) {
            panels.append({QRect(QPoint(s.left(), a.bottom() + 1), QPoint(s.right(), s.bottom())), Edge::Bottom});
        }
        if (a.left() > s.left()) {
            panels.append({QRect(QPoint(s.left(), s.top()), QPoint(a.left() - 1, s.bottom())), Edge::Left});
        }
        if (a.right() < s.right()) {
            panels.append({QRect(QPoint(a.right() + 1, s.top()), QPoint(s.right(), s.bottom())), Edge::Right});
        }
    }
    return panels;
}

} // namespace

QRect PopoverPlacement::place(const QPoint& anchor, const QSize& size, const QList<Screen>& screens,
                              const QList<QRect>& docks)
{
    if (screens.isEmpty()) {
        return QRect(anchor, size);
    }
    // The screen the click was on, or the nearest one for a point off every screen.
    const Screen* screen = &screens.first();
    qint64 best = LLONG_MAX;
    for (const Screen& candidate : screens) {
        const qint64 d = distance(anchor, candidate.geometry);
        if (d < best) {
            best = d;
            screen = &candidate;
        }
    }
    const QRect& whole = screen->geometry;
    const QPoint point(std::clamp(anchor.x(), whole.left(), whole.right()),
                       std::clamp(anchor.y(), whole.top(), whole.bottom()));

    // What is left of the screen once every panel is kept clear.
    const QList<Panel> panels = panelsOf(*screen, docks);
    QRect area = whole;
    for (const Panel& panel : panels) {
        switch (panel.edge) {
        case Edge::Top:
            area.setTop(std::max(area.top(), panel.rect.bottom() + 1));
            break;
        case Edge::Bottom:
            area.setBottom(std::min(area.bottom(), panel.rect.top() - 1));
            break;
        case Edge::Left:
            area.setLeft(std::max(area.left(), panel.rect.right() + 1));
            break;
        case Edge::Right:
            area.setRight(std::min(area.right(), panel.rect.left() - 1));
            break;
        }
    }
    if (area.width() < size.width() || area.height() < size.height()) {
        // Panels leave no room: the screen itself is the limit.
        area = whole;
    }

    // Hang from the panel nearest the click; without panels, below or above the click.
    const Panel* nearest = nullptr;
    best = LLONG_MAX;
    for (const Panel& panel : panels) {
        const qint64 d = distance(point, panel.rect);
        if (d < best) {
            best = d;
            nearest = &panel;
        }
    }
    int x = point.x() - size.width() / 2;
    int y = 0;
    const Edge edge = nearest ? nearest->edge : (point.y() - area.top() < area.height() / 2 ? Edge::Top : Edge::Bottom);
    switch (edge) {
    case Edge::Top:
        y = nearest ? area.top() + kMargin : point.y() + 2 * kMargin;
        break;
    case Edge::Bottom:
        y = nearest ? area.bottom() + 1 - size.height() - kMargin : point.y() - 2 * kMargin - size.height();
        break;
    case Edge::Left:
        x = area.left() + kMargin;
        y = point.y() - size.height() / 2;
        break;
    case Edge::Right:
        x = area.right() + 1 - size.width() - kMargin;
        y = point.y() - size.height() / 2;
        break;
    }
    x = std::clamp(x, area.left() + kMargin,
                   std::max(area.left() + kMargin, area.right() + 1 - size.width() - kMargin));
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    return QRect(QPoint(x, y), size);
}
