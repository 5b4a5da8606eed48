#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class AppState;
class MenuWatchlistRowView;
class QWidget;

// The watchlist screen by keyboard, and its rows as list items for assistive technology. Opening
// the popover focuses a row; Up and Down move between rows, Return or Space expands or collapses
// one, the Menu key or Shift+F10 opens its context menu; Tab cycles through the header buttons,
// the banners, the list and the controls under the open row. Rows are focused in code, so the list is one stop for Tab
// however long.
class WatchlistNavigation : public QObject {
    Q_OBJECT
public:
    // `rows` is the widget whose layout holds the rows in order; `stops` the other Tab stops in
    // order (hidden ones are skipped).
    WatchlistNavigation(AppState& appState, QWidget& view, QWidget& rows, QList<QWidget*> stops);

    void watchRow(MenuWatchlistRowView& row);
    // Moves the focus to the next or previous Tab stop; false when the screen is not showing.
    bool focusNext(bool next);
    // Focuses the last focused row (the first when that one is gone); false without rows.
    bool focusList(Qt::FocusReason reason);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<MenuWatchlistRowView*> rows() const;
    // The keyboard stops of the open row's panel, after the list in the Tab order.
    QList<QWidget*> openRowControls() const;
    bool rowKey(MenuWatchlistRowView& row, const class QKeyEvent& key);

    AppState& m_appState;
    QWidget& m_view;
    QWidget& m_rows;
    QList<QPointer<QWidget>> m_stops;
    QPointer<MenuWatchlistRowView> m_current;
};
