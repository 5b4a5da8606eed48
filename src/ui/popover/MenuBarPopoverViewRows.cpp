// The popover's rows: one row widget per row of the state's watchlist model, made, moved,
// updated and dropped as the model says.
#include "ui/popover/MenuBarPopoverView.h"

#include "state/AppState.h"
#include "ui/popover/MenuWatchlistRowView.h"
#include "ui/popover/PriceAlertPanel.h"
#include "ui/popover/WatchlistNavigation.h"

#include <QAction>
#include <QMenu>
#include <QVBoxLayout>

#include <algorithm>

MenuWatchlistRowView* MenuBarPopoverView::row(const QString& tokenID) const
{
    const auto it = std::find_if(m_rowOrder.cbegin(), m_rowOrder.cend(),
                                 [&tokenID](const MenuWatchlistRowView* row) { return row->token().id == tokenID; });
    return it == m_rowOrder.cend() ? nullptr : *it;
}

bool MenuBarPopoverView::isPinned(const QString& tokenID) const
{
    const QString normalized = tokenID.toUpper();
    const auto& entries = m_appState.watchlistEntries();
    return std::any_of(entries.cbegin(), entries.cend(), [&normalized](const WatchlistEntry& entry) {
        return entry.isPinnedToMenuBar && entry.tokenID == normalized;
    });
}

void MenuBarPopoverView::insertRows(int first, int last)
{
    const WatchlistModel& model = m_appState.watchlistModel();
    const bool debugFrames = m_appState.preferences().showsLayoutDebugOutlines;
    for (int i = first; i <= last; ++i) {
        const QModelIndex index = model.index(i);
        const QString tokenID = index.data(WatchlistModel::TokenIDRole).toString();
        auto* row = new MenuWatchlistRowView(
            index.data(WatchlistModel::TokenRole).value<TokenSummary>(),
            index.data(WatchlistModel::PriceTextRole).toString(), index.data(WatchlistModel::ChangeTextRole).toString(),
            index.data(WatchlistModel::IsExpandedRole).toBool(), debugFrames, m_rowsContainer);
        connect(row, &MenuWatchlistRowView::tapped, this, [this, tokenID] { m_appState.toggleExpandedToken(tokenID); });
        connect(row, &MenuWatchlistRowView::contextMenuRequested, this,
                [this, row](const QPoint& globalPos) { showRowContextMenu(row, globalPos); });
        row->setAlertMark(index.data(WatchlistModel::AlertMarkRole).value<PriceAlerts::Mark>());
        if (row->isExpanded()) {
            ensureAlertPanel(row);
        }
        m_navigation->watchRow(*row);
        m_rowOrder.insert(i, row);
        m_rowsLayout->insertWidget(i, row);
        row->show();
    }
    showRowsOrEmptyState();
}

void MenuBarPopoverView::removeRows(int first, int last)
{
    for (int i = last; i >= first; --i) {
        MenuWatchlistRowView* row = m_rowOrder.takeAt(i);
        m_rowsLayout->removeWidget(row);
        row->hide();
        // The removal may come from inside one of the row's own handlers.
        row->deleteLater();
    }
    showRowsOrEmptyState();
}

void MenuBarPopoverView::moveRows(int first, int last, int destination)
{
    // The destination counts rows before the move; the moved rows go in before it.
    const int count = last - first + 1;
    const int to = destination > last ? destination - count : destination;
    QList<MenuWatchlistRowView*> moved = m_rowOrder.mid(first, count);
    m_rowOrder.remove(first, count);
    for (int i = 0; i < count; ++i) {
        MenuWatchlistRowView* row = moved.at(i);
        m_rowOrder.insert(to + i, row);
        // The same widget, taken out and put back: its hover and springs carry on.
        m_rowsLayout->removeWidget(row);
        m_rowsLayout->insertWidget(to + i, row);
    }
}

void MenuBarPopoverView::updateRows(int first, int last, const QList<int>& roles)
{
    const WatchlistModel& model = m_appState.watchlistModel();
    const auto named = [&roles](int role) { return roles.isEmpty() || roles.contains(role); };
    for (int i = first; i <= last && i < m_rowOrder.size(); ++i) {
        const QModelIndex index = model.index(i);
        MenuWatchlistRowView* row = m_rowOrder.at(i);
        if (named(WatchlistModel::TokenRole)) {
            row->setToken(index.data(WatchlistModel::TokenRole).value<TokenSummary>());
        }
        if (named(WatchlistModel::PriceTextRole)) {
            row->setPriceText(index.data(WatchlistModel::PriceTextRole).toString());
        }
        if (named(WatchlistModel::ChangeTextRole)) {
            row->setChangeText(index.data(WatchlistModel::ChangeTextRole).toString());
        }
        if (named(WatchlistModel::IsExpandedRole)) {
            row->setExpanded(index.data(WatchlistModel::IsExpandedRole).toBool());
            if (row->isExpanded()) {
                ensureAlertPanel(row);
            }
        }
        if (named(WatchlistModel::AlertMarkRole)) {
            row->setAlertMark(index.data(WatchlistModel::AlertMarkRole).value<PriceAlerts::Mark>());
        }
    }
    updateRowMenu();
}

void MenuBarPopoverView::ensureAlertPanel(MenuWatchlistRowView* row)
{
    // Made when the row first opens: a list of hundreds of rows makes none.
    if (!row->accessory()) {
        row->setAccessory(new PriceAlertPanel(m_appState, row->token().id));
    }
}

void MenuBarPopoverView::resetRows()
{
    if (!m_rowOrder.isEmpty()) {
        removeRows(0, int(m_rowOrder.size()) - 1);
    }
    const int count = m_appState.watchlistModel().rowCount();
    if (count > 0) {
        insertRows(0, count - 1);
    }
    showRowsOrEmptyState();
}

void MenuBarPopoverView::showRowsOrEmptyState()
{
    m_emptyState->setVisible(m_rowOrder.isEmpty());
    m_rowsContainer->setVisible(!m_rowOrder.isEmpty());
    updateRowMenu();
}

void MenuBarPopoverView::showRowContextMenu(MenuWatchlistRowView* row, const QPoint& globalPos)
{
    m_menuTokenID = row->token().id;
    updateRowMenu();
    m_rowMenu->popup(globalPos);
}

void MenuBarPopoverView::updateRowMenu()
{
    if (!m_menuTokenID) {
        return;
    }
    if (!row(*m_menuTokenID)) {
        // Its row is gone: the menu must not act on a token that is no longer listed.
        m_rowMenu->close();
        m_menuTokenID.reset();
        return;
    }
    m_pinAction->setText(isPinned(*m_menuTokenID) ? tr("正在状态栏显示") : tr("在状态栏显示"));
}
