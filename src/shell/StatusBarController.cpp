#include "shell/StatusBarController.h"

#include "shell/PopoverWindow.h"
#include "shell/StatusItem.h"
#include "state/AppState.h"
#include "support/NotificationCenter.h"

#include <QCoreApplication>
#include <QTimer>

StatusBarController::StatusBarController(AppState& appState, StatusItem& statusItem,
                                         std::function<QWidget*(AppState&)> makeContent,
                                         std::function<void(AppState&)> showSettings, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
    , m_statusItem(statusItem)
    , m_popover(std::make_unique<PopoverWindow>())
    , m_showSettings(std::move(showSettings))
    , m_makeContent(std::move(makeContent))
{
    connect(&m_statusItem, &StatusItem::clicked, this, &StatusBarController::togglePopover);
    updateStatusItemTitle();

    // The change signal fires before the write; re-reading on the next pass sees the new value.
    connect(&m_appState, &AppState::objectWillChange, this, &StatusBarController::updateStatusItemTitle,
            Qt::QueuedConnection);
    connect(&NotificationCenter::defaultCenter(), &NotificationCenter::posted, this,
            &StatusBarController::handleNotification, Qt::QueuedConnection);
}

StatusBarController::~StatusBarController() = default;

void StatusBarController::togglePopover(const QPoint& anchor)
{
    ensurePopoverContent();
    m_popover->toggle(anchor);
}

void StatusBarController::ensurePopoverContent()
{
    // Built on the first click: until then the app holds no views, fonts or row caches.
    if (!m_popover->content() && m_makeContent) {
        m_popover->setContent(m_makeContent(m_appState));
    }
}

void StatusBarController::updateStatusItemTitle()
{
    m_statusItem.setTitle(m_appState.menuBarDisplayText());
}

void StatusBarController::handleNotification(const QString& name)
{
    if (name == NotificationCenter::kOpenSettings) {
        m_appState.setIsSearchPresented(false);
        m_popover->close();
        // After the popover's close has been processed.
        QTimer::singleShot(0, this, [this] {
            if (m_showSettings) {
                m_showSettings(m_appState);
            }
        });
    } else if (name == NotificationCenter::kQuitApp) {
        m_popover->close();
        QCoreApplication::exit(0);
    }
}
