#include "testlib/FakeNotificationServer.h"

#include <QDBusMessage>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

FakeNotificationServer::FakeNotificationServer(Mode mode, QStringList capabilities)
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notifications")))
    , m_mode(mode)
    , m_capabilities(std::move(capabilities))
{
}

FakeNotificationServer::~FakeNotificationServer()
{
    m_bus.unregisterService(kService);
    m_bus.unregisterObject(kPath);
}

bool FakeNotificationServer::start()
{
    return m_bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots) && m_bus.registerService(kService);
}

void FakeNotificationServer::invokeAction(uint id, const QString& actionKey)
{
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked"));
    signal << id << actionKey;
    m_bus.send(signal);
}

uint FakeNotificationServer::Notify(const QString& appName, uint, const QString& appIcon, const QString& summary,
                                    const QString& body, const QStringList& actions, const QVariantMap& hints, int)
{
    received.append({appName, appIcon, summary, body, actions, hints});
    if (m_mode == Mode::Fail) {
        sendErrorReply(QDBusError::Failed, QStringLiteral("out of order"));
    } else if (m_mode == Mode::Silent) {
        setDelayedReply(true);
    }
    return 41 + uint(received.size());
}

void FakeNotificationServer::CloseNotification(uint id)
{
    closed.append(id);
}

QStringList FakeNotificationServer::GetCapabilities()
{
    return m_capabilities;
}
