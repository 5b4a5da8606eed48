#include "shell/StatusBarController.h"

#include "shell/AppActions.h"
#include "shell/PopoverWindow.h"
#include "state/AppState.h"
#include "state/PriceAlerts.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

StatusBarController::StatusBarController(AppState& appState, StatusItem& statusItem, AppActions& actions,
                                         std::function<QWidget*(AppState&)> makeContent, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
    , m_statusItem(statusItem)
    , m_popover(std::make_unique<PopoverWindow>())
    , m_makeContent(std::move(makeContent))
{
    connect(&m_statusItem, &StatusItem::clicked, this, &StatusBarController::togglePopover);
    connect(actions.openPopover(), &QAction::triggered, this, &StatusBarController::openPopoverFromMenu);
    connect(actions.openSettings(), &QAction::triggered, this, &StatusBarController::openSettings);
    connect(actions.quit(), &QAction::triggered, this, &StatusBarController::quit);
    connect(&m_statusItem, &StatusItem::openRequested, actions.openPopover(), &QAction::trigger);
    connect(&m_statusItem, &StatusItem::settingsRequested, actions.openSettings(), &QAction::trigger);
    connect(&m_statusItem, &StatusItem::quitRequested, actions.quit(), &QAction::trigger);
    // A right click while the popover is open lands on the popover's grab, not on the host: the
    // popover closes and the item's menu comes up as the host would have shown it.
    connect(&m_statusItem, &StatusItem::menuRequested, this, [this](const QPoint& anchor) {
        m_popover->close();
        m_statusItem.showMenu(anchor);
    });
    connect(m_popover.get(), &PopoverWindow::secondaryClickOutside, this, [this](const QPoint& at, bool onAnchor) {
        if (onAnchor) {
            m_statusItem.showMenu(at);
        }
    });
    connect(&m_statusItem, &StatusItem::pinRequested, this, &StatusBarController::pin);
    m_popover->installEventFilter(this);
    updateStatusItem();

    // The change signal fires before the write; re-reading on the next pass sees the new value,
    // and one re-read then covers every change that arrived before it.
    connect(&m_appState, &AppState::objectWillChange, this, &StatusBarController::scheduleStatusItemUpdate);
    connect(&m_appState, &AppState::lastQuotesUpdateChanged, this, &StatusBarController::scheduleStatusItemUpdate);
    connect(&m_appState.priceAlerts(), &PriceAlerts::undeliveredChanged, this, [this] {
        m_undeliveredSeen =
            m_undeliveredSeen || (m_popover->isVisible() && !m_appState.priceAlerts().undelivered().isEmpty());
        scheduleStatusItemUpdate();
    });
}

StatusBarController::~StatusBarController()
{
    m_popover->removeEventFilter(this);
}

void StatusBarController::togglePopover(const QPoint& anchor)
{
    ensurePopoverContent();
    if (!anchor.isNull()) {
        m_itemPosition = anchor;
    }
    m_popover->toggle(anchor.isNull() && !pointerIsKnown() ? anchorWithoutPointer() : anchor);
}

bool StatusBarController::pointerIsKnown() const
{
    return m_popover->kind() != PopoverWindow::Kind::FocusedWindow;
}

QPoint StatusBarController::anchorWithoutPointer() const
{
    const QScreen* screen = m_itemPosition.isNull() ? nullptr : QGuiApplication::screenAt(m_itemPosition);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    return anchorWithoutPointer(m_itemPosition, screen ? screen->availableGeometry() : QRect());
}

QPoint StatusBarController::anchorWithoutPointer(const QPoint& lastItemPosition, const QRect& available)
{
    if (!lastItemPosition.isNull() || !available.isValid()) {
        return lastItemPosition;
    }
    // Just above the work area: the popover hangs from the top panel, or from the screen's top.
    return QPoint(available.right(), available.top() - 1);
}

void StatusBarController::ensurePopoverContent()
{
    // Built on the first click: until then the app holds no views, fonts or row caches.
    if (!m_popover->content() && m_makeContent) {
        m_popover->setContent(m_makeContent(m_appState));
    }
}

void StatusBarController::openPopoverFromMenu()
{
    ensurePopoverContent();
    if (m_popover->isVisible()) {
        m_popover->bringForward();
        return;
    }
    if (!pointerIsKnown()) {
        m_popover->open(anchorWithoutPointer());
        return;
    }
    const QPoint pointer = QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(pointer);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    m_popover->open(screen ? menuAnchor(pointer, screen->geometry(), screen->availableGeometry()) : pointer);
}

QPoint StatusBarController::menuAnchor(const QPoint& pointer, const QRect& screen, const QRect& available)
{
    if (!available.isValid() || !screen.contains(available)) {
        return pointer;
    }
    const bool topPanel = available.top() > screen.top();
    const bool bottomPanel = available.bottom() < screen.bottom();
    const bool nearerTop = pointer.y() - available.top() <= available.bottom() - pointer.y();
    if (topPanel && (!bottomPanel || nearerTop)) {
        return QPoint(pointer.x(), available.top() - 1);
    }
    if (bottomPanel) {
        return QPoint(pointer.x(), available.bottom() + 1);
    }
    return pointer;
}

StatusItemContent StatusBarController::statusItemContent(const AppState& appState)
{
    StatusItemContent content;
    content.title = appState.menuBarDisplayText();
    bool pinSeen = false;
    for (const WatchlistEntry& entry : appState.watchlistEntries()) {
        const auto snapshot = appState.tokenSnapshots().constFind(entry.tokenID);
        TokenSummary token;
        if (snapshot != appState.tokenSnapshots().constEnd()) {
            token = *snapshot;
        } else {
            // Not quoted yet: the id stands in for the symbol, and the figures read "--".
            token.id = entry.tokenID;
            token.symbol = entry.tokenID;
        }
        // Only the first pinned entry counts, as for the status text.
        const bool pinned = entry.isPinnedToMenuBar && !pinSeen;
        pinSeen = pinSeen || pinned;
        content.tokens.append(StatusItemToken{entry.tokenID, appState.menuBarText(token), pinned});
    }
    for (const PriceAlertNotice& notice : appState.priceAlerts().undelivered()) {
        content.alerts.append(notice.body.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    }
    if (appState.lastQuotesUpdate().isValid()) {
        // Hours and minutes the same way in every locale.
        content.updatedAt = kUpdatedAtPrefix + appState.lastQuotesUpdate().time().toString(QStringLiteral("HH:mm"));
    }
    return content;
}

bool StatusBarController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_popover.get() && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        const bool shown = event->type() == QEvent::Show;
        m_statusItem.setPopoverShown(shown);
        // The popover lists the alerts no notification showed: once it has been open with them and
        // closes, the user has seen them.
        PriceAlerts& alerts = m_appState.priceAlerts();
        if (shown) {
            m_undeliveredSeen = !alerts.undelivered().isEmpty();
        } else if (std::exchange(m_undeliveredSeen, false)) {
            alerts.dismissUndelivered();
        }
    }
    return QObject::eventFilter(watched, event);
}

void StatusBarController::scheduleStatusItemUpdate()
{
    if (!m_updatePending) {
        m_updatePending = true;
        QMetaObject::invokeMethod(this, &StatusBarController::updateStatusItem, Qt::QueuedConnection);
    }
}

void StatusBarController::updateStatusItem()
{
    m_updatePending = false;
    m_statusItem.setContent(statusItemContent(m_appState));
}

void StatusBarController::pin(const QString& tokenID)
{
    // Only a token still listed: pinning an unlisted id would unpin everything.
    for (const WatchlistEntry& entry : m_appState.watchlistEntries()) {
        if (entry.tokenID == tokenID) {
            m_appState.pinToMenuBar(tokenID);
            return;
        }
    }
}

void StatusBarController::openSettings()
{
    m_appState.setIsSearchPresented(false);
    m_popover->close();
    // After the popover's close has been processed.
    QTimer::singleShot(0, this, &StatusBarController::settingsWindowRequested);
}

void StatusBarController::quit()
{
    m_popover->close();
    QCoreApplication::exit(0);
}
