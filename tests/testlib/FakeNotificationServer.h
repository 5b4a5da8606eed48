#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// A notification server on the test's session bus, on a connection of its own so calls go
// through the bus daemon. It records what it is asked to show and answers, fails, or never
// answers; it names the capabilities it is given and can report an activated action.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    enum class Mode { Answer, Fail, Silent };
    struct Notification {
        QString appName;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };

    explicit FakeNotificationServer(Mode mode = Mode::Answer, QStringList capabilities = {QStringLiteral("body")});
    ~FakeNotificationServer() override;

    // Takes the service's name on the bus.
    bool start();
    // As a user's click on the notification `id` (or one of its buttons) would.
    void invokeAction(uint id, const QString& actionKey);

    QList<Notification> received;
    QList<uint> closed;

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout);
    void CloseNotification(uint id);
    QStringList GetCapabilities();

private:
    QDBusConnection m_bus;
    Mode m_mode;
    QStringList m_capabilities;
};
