#include "shell/PriceAlertNotifier.h"

#include "shell/AppIcon.h"
#include "shell/StatusAreaNotice.h"

#include <QAction>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

// The freedesktop urgency levels: 0 low, 1 normal, 2 critical.
constexpr uchar kNormalUrgency = 1;

} // namespace

PriceAlertNotifier::PriceAlertNotifier(PriceAlerts& alerts, const QDBusConnection& bus, QAction& openPopover,
                                       std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent)
    , m_alerts(alerts)
    , m_bus(bus)
    , m_openPopover(openPopover)
    , m_timeout(timeout)
{
    const QString& service = StatusAreaNotice::kService;
    const QString& path = StatusAreaNotice::kPath;
    m_bus.connect(service, path, service, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    m_bus.connect(service, path, service, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint, uint)));
    connect(&m_alerts, &PriceAlerts::fired, this, &PriceAlertNotifier::notify);
}

QString PriceAlertNotifier::openLabel()
{
    return tr("打开 Zentrow");
}

void PriceAlertNotifier::notify(const QList<PriceAlertNotice>& notices)
{
    if (!m_bus.isConnected()) {
        for (const PriceAlertNotice& notice : notices) {
            m_alerts.addUndelivered(notice);
        }
        return;
    }
    m_waiting.append(notices);
    if (m_capabilities) {
        sendWaiting();
    } else {
        askCapabilities();
    }
}

void PriceAlertNotifier::askCapabilities()
{
    if (std::exchange(m_askingCapabilities, true)) {
        return;
    }
    const auto message = QDBusMessage::createMethodCall(StatusAreaNotice::kService, StatusAreaNotice::kPath,
                                                        StatusAreaNotice::kService, QStringLiteral("GetCapabilities"));
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(message, int(m_timeout.count())), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        m_askingCapabilities = false;
        const QDBusPendingReply<QStringList> reply = *finished;
        // Without an answer the notices still go out, plainly; the next ones ask again.
        if (!reply.isError()) {
            m_capabilities = reply.value();
        }
        sendWaiting();
    });
}

void PriceAlertNotifier::sendWaiting()
{
    for (const PriceAlertNotice& notice : std::exchange(m_waiting, {})) {
        send(notice);
    }
}

void PriceAlertNotifier::send(const PriceAlertNotice& notice)
{
    const QStringList capabilities = m_capabilities.value_or(QStringList());
    QStringList actions;
    if (capabilities.contains(QStringLiteral("actions"))) {
        actions = QStringList{kDefaultAction, openLabel()};
    }
    // A server that reads markup in the body would take a symbol's "<" or "&" for it.
    const QString body =
        capabilities.contains(QStringLiteral("body-markup")) ? notice.body.toHtmlEscaped() : notice.body;
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), AppIcon::kName},
        {QStringLiteral("urgency"), QVariant::fromValue(kNormalUrgency)},
    };
    auto message = QDBusMessage::createMethodCall(StatusAreaNotice::kService, StatusAreaNotice::kPath,
                                                  StatusAreaNotice::kService, QStringLiteral("Notify"));
    message << StatusAreaNotice::kAppName << 0u << StatusAreaNotice::kAppIcon << notice.title << body << actions
            << hints << -1;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(message, int(m_timeout.count())), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, notice](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isError()) {
            m_alerts.addUndelivered(notice);
            // The service may be gone, and the next one may draw other things.
            m_capabilities.reset();
            return;
        }
        m_shownIds.insert(reply.value());
    });
}

void PriceAlertNotifier::actionInvoked(uint id, const QString& actionKey)
{
    if (m_shownIds.contains(id) && actionKey == kDefaultAction) {
        m_openPopover.trigger();
    }
}

void PriceAlertNotifier::notificationClosed(uint id, uint reason)
{
    Q_UNUSED(reason);
    m_shownIds.remove(id);
}
