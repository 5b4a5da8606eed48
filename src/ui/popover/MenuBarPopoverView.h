#pragma once

#include <QList>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <optional>

class AddTokenSheet;
class AppState;
class GlyphButton;
class MenuWatchlistRowView;
class PriceAlertNoticesView;
class QAction;
class QMenu;
class QScrollArea;
class QVBoxLayout;
class RefreshErrorBannerView;
class WatchlistNavigation;

// The whole content of the status item's popover: the watchlist screen (header with add button,
// title and "more" menu; the network-error banner; the scrolling rows or the empty state; the
// brand mark) or, while AppState says so, the add-token sheet in its place.
//
// It keeps nothing of its own. Its rows follow the state's watchlist model: one row widget per
// entry, made, moved, updated and dropped as the model says, so hover state and running
// animations survive refreshes and reorders. The rest (screen, banner) is re-read when the state
// says the search was presented or dismissed or the banner changed, at most once per pass of the
// event loop. It fills whatever size it is given; the shell hosts it at kHostedSize.
class MenuBarPopoverView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kHostedSize{368, 620};
    // The scroll content is at least this much shorter than the popover, which puts the brand
    // mark at the bottom of a short list.
    static constexpr int kScrollContentInset = 58;

    explicit MenuBarPopoverView(AppState& appState, QWidget* parent = nullptr);
    ~MenuBarPopoverView() override;

    // Made on first use.
    AddTokenSheet* addTokenSheet();
    // Made when the first error shows; null until then.
    RefreshErrorBannerView* banner() const { return m_banner; }
    // Fired alerts no notification took; hidden while there are none.
    PriceAlertNoticesView* alertNotices() const { return m_alertNotices; }
    // The listed rows, top to bottom, and the first row showing a token id.
    QList<MenuWatchlistRowView*> rows() const { return m_rowOrder; }
    MenuWatchlistRowView* row(const QString& tokenID) const;
    QMenu* moreMenu() const { return m_moreMenu; }
    QMenu* rowContextMenu() const { return m_rowMenu; }
    // The token the row menu was last opened for.
    std::optional<QString> contextMenuTokenID() const { return m_menuTokenID; }

    QSize sizeHint() const override;

Q_SIGNALS:
    // The "more" menu's entries, for the shell to answer.
    void settingsRequested();
    void quitRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QWidget* buildHeader();
    QWidget* buildEmptyState();
    void buildMenus();
    void scheduleRender();
    void render();
    void renderBanner();
    // Row widgets for the model's rows first to last, at those positions.
    void insertRows(int first, int last);
    void removeRows(int first, int last);
    void moveRows(int first, int last, int destination);
    void updateRows(int first, int last, const QList<int>& roles);
    void resetRows();
    // The alert panel of an open row, made when it first opens.
    void ensureAlertPanel(MenuWatchlistRowView* row);
    void showRowsOrEmptyState();
    void showRowContextMenu(MenuWatchlistRowView* row, const QPoint& globalPos);
    void updateRowMenu();
    bool isPinned(const QString& tokenID) const;

    AppState& m_appState;
    QWidget* m_watchlistScreen = nullptr;
    AddTokenSheet* m_sheet = nullptr;
    GlyphButton* m_addButton = nullptr;
    GlyphButton* m_moreButton = nullptr;
    QMenu* m_moreMenu = nullptr;
    QMenu* m_rowMenu = nullptr;
    QAction* m_pinAction = nullptr;
    QAction* m_moveToTopAction = nullptr;
    QAction* m_removeAction = nullptr;
    QWidget* m_bannerContainer = nullptr;
    RefreshErrorBannerView* m_banner = nullptr;
    PriceAlertNoticesView* m_alertNotices = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_scrollContent = nullptr;
    QVBoxLayout* m_bodyLayout = nullptr;
    QWidget* m_emptyState = nullptr;
    QWidget* m_rowsContainer = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    // One per row of the watchlist model, in its order.
    QList<MenuWatchlistRowView*> m_rowOrder;
    std::optional<QString> m_menuTokenID;
    WatchlistNavigation* m_navigation = nullptr;
    bool m_renderPending = false;
};
