#include "shell/AdaptiveStatusItem.h"

#include "shell/StatusNotifierItem.h"
#include "shell/TrayIconStatusItem.h"

#include <QSystemTrayIcon>
#include <QTimer>

namespace {
// How long a watcher may take to accept the item before the tray icon stands in.
constexpr int kWatcherGraceMs = 1500;
} // namespace

AdaptiveStatusItem::AdaptiveStatusItem(const QDBusConnection& bus, QObject* parent)
    : StatusItem(parent)
{
    m_notifier = std::make_unique<StatusNotifierItem>(bus);
    forwardRequests(m_notifier.get());
    connect(m_notifier.get(), &StatusNotifierItem::registeredChanged, this, [this] { chooseHost(); });
    QTimer::singleShot(kWatcherGraceMs, this, [this] { chooseHost(); });
}

AdaptiveStatusItem::~AdaptiveStatusItem() = default;

void AdaptiveStatusItem::forwardRequests(StatusItem* item)
{
    connect(item, &StatusItem::clicked, this, &StatusItem::clicked);
    connect(item, &StatusItem::openRequested, this, &StatusItem::openRequested);
    connect(item, &StatusItem::pinRequested, this, &StatusItem::pinRequested);
    connect(item, &StatusItem::settingsRequested, this, &StatusItem::settingsRequested);
    connect(item, &StatusItem::quitRequested, this, &StatusItem::quitRequested);
}

void AdaptiveStatusItem::setTitle(const QString& title)
{
    StatusItemContent content = m_content;
    content.title = title;
    setContent(content);
}

void AdaptiveStatusItem::setContent(const StatusItemContent& content)
{
    m_content = content;
    m_notifier->setContent(content);
    if (m_trayIcon) {
        m_trayIcon->setContent(content);
    }
}

void AdaptiveStatusItem::setPopoverShown(bool shown)
{
    m_notifier->setPopoverShown(shown);
}

bool AdaptiveStatusItem::usesTrayIcon() const
{
    return m_trayIcon != nullptr;
}

void AdaptiveStatusItem::chooseHost()
{
    const bool hosted = m_notifier->isRegistered();
    if (hosted) {
        m_trayIcon.reset();
        return;
    }
    if (!m_trayIcon && QSystemTrayIcon::isSystemTrayAvailable()) {
        m_trayIcon = std::make_unique<TrayIconStatusItem>();
        m_trayIcon->setContent(m_content);
        forwardRequests(m_trayIcon.get());
        m_trayIcon->setVisible(true);
    }
}
