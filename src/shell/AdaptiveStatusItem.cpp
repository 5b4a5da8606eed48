#include "shell/AdaptiveStatusItem.h"

#include "shell/StatusNotifierItem.h"
#include "shell/TrayIconStatusItem.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {
// How long a watcher may take to accept the item before the tray icon stands in.
constexpr int kWatcherGraceMs = 1500;
// Nothing announces a tray that starts or stops; without a watcher, look this often.
constexpr int kTrayPollMs = 1000;
// A dropped item asks the watcher again after these pauses, then waits for the watcher to restart.
constexpr int kRegisterAgainMs[] = {1000, 2000, 4000};
} // namespace

AdaptiveStatusItem::AdaptiveStatusItem(const QDBusConnection& bus, QObject* parent)
    : StatusItem(parent)
    , m_bus(bus)
{
    m_notifier = std::make_unique<StatusNotifierItem>(bus);
    forwardRequests(m_notifier.get());
    connect(m_notifier.get(), &StatusNotifierItem::registeredChanged, this, [this] {
        // A registration of the item's own (a watcher that restarted) starts afresh.
        m_droppedByWatcher = false;
        m_registerAttempts = 0;
        m_registerAgain->stop();
        chooseHost();
    });
    QTimer::singleShot(kWatcherGraceMs, this, [this] { chooseHost(); });
    m_trayPoll = new QTimer(this);
    m_trayPoll->setInterval(kTrayPollMs);
    connect(m_trayPoll, &QTimer::timeout, this, [this] { chooseHost(); });
    m_registerAgain = new QTimer(this);
    m_registerAgain->setSingleShot(true);
    connect(m_registerAgain, &QTimer::timeout, this, &AdaptiveStatusItem::registerAgain);
    m_bus.connect(StatusNotifierItem::kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
                  StatusNotifierItem::kWatcherService, QStringLiteral("StatusNotifierItemUnregistered"), this,
                  SLOT(watcherDroppedItem(QString)));
}

AdaptiveStatusItem::~AdaptiveStatusItem() = default;

void AdaptiveStatusItem::forwardRequests(StatusItem* item)
{
    connect(item, &StatusItem::clicked, this, &StatusItem::clicked);
    connect(item, &StatusItem::menuRequested, this, &StatusItem::menuRequested);
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

void AdaptiveStatusItem::showMenu(const QPoint& at)
{
    m_notifier->showMenu(at);
}

bool AdaptiveStatusItem::usesTrayIcon() const
{
    return m_trayIcon != nullptr;
}

void AdaptiveStatusItem::chooseHost()
{
    if (m_notifier->isRegistered()) {
        // A watcher that dropped the item is still the host to win back. Qt's tray icon would
        // go through that same watcher, under the item's own object path.
        m_trayIcon.reset();
        m_trayPoll->stop();
        setHosted(!m_droppedByWatcher);
        return;
    }
    const bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    if (!m_trayIcon && trayAvailable) {
        m_trayIcon = std::make_unique<TrayIconStatusItem>();
        m_trayIcon->setContent(m_content);
        forwardRequests(m_trayIcon.get());
        m_trayIcon->setVisible(true);
    }
    if (!m_trayPoll->isActive()) {
        m_trayPoll->start();
    }
    // The tray icon re-docks by itself when its tray restarts; meanwhile nothing shows it.
    setHosted(m_trayIcon && trayAvailable);
}

void AdaptiveStatusItem::setHosted(bool hosted)
{
    if (hosted == m_hosted) {
        return;
    }
    m_hosted = hosted;
    Q_EMIT hostedChanged(hosted);
}

void AdaptiveStatusItem::watcherDroppedItem(const QString& service)
{
    // A watcher names an item by the service it registered with, or by bus name and object path
    // for one that registered with its path ("<name>@<path>" from GNOME, "<name><path>" from KDE).
    const QString path = StatusNotifierItem::kItemPath;
    const QString unique = m_bus.baseService();
    const bool ours =
        service == m_notifier->serviceName() || service == unique + QLatin1Char('@') + path || service == unique + path;
    if (!ours || !m_notifier->isRegistered()) {
        return;
    }
    m_droppedByWatcher = true;
    chooseHost();
    if (m_registerAttempts < int(std::size(kRegisterAgainMs))) {
        m_registerAgain->start(kRegisterAgainMs[m_registerAttempts++]);
    }
}

void AdaptiveStatusItem::registerAgain()
{
    if (!m_droppedByWatcher || !m_notifier->isRegistered()) {
        return;
    }
    auto message = QDBusMessage::createMethodCall(
        StatusNotifierItem::kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
        StatusNotifierItem::kWatcherService, QStringLiteral("RegisterStatusNotifierItem"));
    // By object path this time: GNOME's extension then identifies the item by our bus name and
    // skips the name watch whose start-up race made it drop the item.
    message << StatusNotifierItem::kItemPath;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        if (!finished->isError() && m_droppedByWatcher) {
            m_droppedByWatcher = false;
            chooseHost();
        }
    });
}
