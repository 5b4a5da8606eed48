#include "ui/popover/WatchlistNavigation.h"

#include "state/AppState.h"
#include "ui/kit/FocusRing.h"
#include "ui/popover/MenuWatchlistRowView.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLayout>
#include <QScrollArea>

namespace {

// A row is a list item that can expand; its actions are its keys.
class RowAccessible final : public QAccessibleWidget {
public:
    explicit RowAccessible(MenuWatchlistRowView* row)
        : QAccessibleWidget(row, QAccessible::ListItem)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const bool expanded = static_cast<MenuWatchlistRowView*>(widget())->isExpanded();
        state.expandable = true;
        state.expanded = expanded;
        state.collapsed = !expanded;
        return state;
    }

    QStringList actionNames() const override { return {pressAction(), showMenuAction(), setFocusAction()}; }

    void doAction(const QString& name) override
    {
        if (name == pressAction()) {
            sendKey(Qt::Key_Space);
        } else if (name == showMenuAction()) {
            sendKey(Qt::Key_Menu);
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    void sendKey(int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(widget(), &press);
    }
};

QAccessibleInterface* rowInterface(const QString& className, QObject* object)
{
    if (className == QLatin1String("MenuWatchlistRowView")) {
        return new RowAccessible(static_cast<MenuWatchlistRowView*>(object));
    }
    return nullptr;
}

// The stop itself when it takes the focus, else its first child that does.
QWidget* focusTarget(QWidget* stop)
{
    if (!stop || !stop->isVisible()) {
        return nullptr;
    }
    if (stop->focusPolicy() & Qt::TabFocus) {
        return stop;
    }
    const auto children = stop->findChildren<QWidget*>();
    for (QWidget* child : children) {
        if ((child->focusPolicy() & Qt::TabFocus) && child->isVisible() && child->isEnabled()) {
            return child;
        }
    }
    return nullptr;
}

} // namespace

WatchlistNavigation::WatchlistNavigation(AppState& appState, QWidget& view, QWidget& rows, QList<QWidget*> stops)
    : QObject(&view)
    , m_appState(appState)
    , m_view(view)
    , m_rows(rows)
{
    static const bool installed = (QAccessible::installFactory(&rowInterface), true);
    Q_UNUSED(installed);
    for (QWidget* stop : stops) {
        m_stops.append(stop);
    }
    m_view.installEventFilter(this);
}

void WatchlistNavigation::watchRow(MenuWatchlistRowView& row)
{
    row.setFocusPolicy(Qt::ClickFocus);
    row.installEventFilter(this);
}

QList<MenuWatchlistRowView*> WatchlistNavigation::rows() const
{
    QList<MenuWatchlistRowView*> list;
    const QLayout* layout = m_rows.layout();
    for (int i = 0; layout && i < layout->count(); ++i) {
        if (auto* row = qobject_cast<MenuWatchlistRowView*>(layout->itemAt(i)->widget())) {
            list.append(row);
        }
    }
    return list;
}

bool WatchlistNavigation::focusList(Qt::FocusReason reason)
{
    const QList<MenuWatchlistRowView*> list = rows();
    MenuWatchlistRowView* row = m_current && list.contains(m_current.data()) ? m_current.data() : nullptr;
    if (!row && !list.isEmpty()) {
        row = list.first();
    }
    if (!row || !m_rows.isVisible()) {
        return false;
    }
    row->setFocus(reason);
    return true;
}

bool WatchlistNavigation::focusNext(bool next)
{
    if (!m_rows.parentWidget() || !m_rows.window()->isVisible()) {
        return false;
    }
    // The stops in order, then the list (a null entry), then the controls under the open row; those
    // not showing are passed over.
    QList<QWidget*> targets;
    for (const QPointer<QWidget>& stop : std::as_const(m_stops)) {
        if (QWidget* target = focusTarget(stop)) {
            targets.append(target);
        }
    }
    const int list = int(targets.size());
    targets.append(nullptr);
    targets.append(openRowControls());
    QWidget* focused = m_view.focusWidget();
    const bool onRow = qobject_cast<MenuWatchlistRowView*>(focused);
    const int at = onRow ? list : focused ? int(targets.indexOf(focused)) : -1;
    const int stops = int(targets.size());
    FocusRing::markKeyboardMove(m_view);
    const Qt::FocusReason reason = next ? Qt::TabFocusReason : Qt::BacktabFocusReason;
    int to = at < 0 ? (next ? 0 : stops - 1) : (at + (next ? 1 : stops - 1)) % stops;
    for (int tried = 0; tried < stops; ++tried, to = (to + (next ? 1 : stops - 1)) % stops) {
        if (to != list) {
            targets.at(to)->setFocus(reason);
            return true;
        }
        if (focusList(reason)) {
            return true;
        }
    }
    return false;
}

QList<QWidget*> WatchlistNavigation::openRowControls() const
{
    QList<QWidget*> controls;
    for (MenuWatchlistRowView* row : rows()) {
        QWidget* panel = row->isExpanded() ? row->accessory() : nullptr;
        if (!panel || !panel->isVisible()) {
            continue;
        }
        // In the order the panel chains its own focus: the order its controls were made in.
        for (QWidget* w = panel->nextInFocusChain(); w != panel && panel->isAncestorOf(w); w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled()) {
                controls.append(w);
            }
        }
    }
    return controls;
}

bool WatchlistNavigation::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_view) {
        // The popover hands its focus to the view; the view hands it to the list.
        if (event->type() == QEvent::FocusIn) {
            focusList(static_cast<QFocusEvent*>(event)->reason());
        }
        return false;
    }
    auto* row = qobject_cast<MenuWatchlistRowView*>(watched);
    if (!row) {
        return false;
    }
    switch (event->type()) {
    case QEvent::FocusIn:
        m_current = row;
        for (QWidget* parent = row->parentWidget(); parent; parent = parent->parentWidget()) {
            if (auto* scroll = qobject_cast<QScrollArea*>(parent)) {
                scroll->ensureWidgetVisible(row, 0, 0);
                break;
            }
        }
        row->update();
        return false;
    case QEvent::FocusOut:
        row->update();
        return false;
    case QEvent::KeyPress:
        return rowKey(*row, *static_cast<QKeyEvent*>(event));
    default:
        return false;
    }
}

bool WatchlistNavigation::rowKey(MenuWatchlistRowView& row, const QKeyEvent& key)
{
    const bool menuKey =
        key.key() == Qt::Key_Menu || (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier);
    if (menuKey) {
        const QRect shape = row.rect();
        Q_EMIT row.contextMenuRequested(row.mapToGlobal(QPoint(shape.width() / 2, shape.height() / 2)));
        return true;
    }
    if (key.modifiers() & ~Qt::KeypadModifier) {
        return false;
    }
    switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        m_appState.toggleExpandedToken(row.token().id);
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const QList<MenuWatchlistRowView*> list = rows();
        const int to = int(list.indexOf(&row)) + (key.key() == Qt::Key_Down ? 1 : -1);
        if (to >= 0 && to < list.size()) {
            FocusRing::markKeyboardMove(row);
            list.at(to)->setFocus(Qt::OtherFocusReason);
        }
        // At either end the list stays put rather than scrolling away from the focus.
        return true;
    }
    default:
        return false;
    }
}
