#pragma once

#include "state/PriceAlerts.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

class QAction;

// Tells the desktop's notification service of each price alert that fired, one notification per
// notice. Nothing waits on the service: a notice that no service takes (none on the bus, an error,
// no answer in time) goes back to the alerts as undelivered, for the tooltip and the popover to
// show. Where the service draws a default action, activating the notification opens the popover.
class PriceAlertNotifier : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};
    static inline const QString kDefaultAction = QStringLiteral("default");

    PriceAlertNotifier(PriceAlerts& alerts, const QDBusConnection& bus, QAction& openPopover,
                       std::chrono::milliseconds timeout = kDefaultTimeout, QObject* parent = nullptr);

    // The default action's label, for servers that show one.
    static QString openLabel();

private Q_SLOTS:
    // The service's signals reach every client; only ours count.
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    void notify(const QList<PriceAlertNotice>& notices);
    void askCapabilities();
    void sendWaiting();
    void send(const PriceAlertNotice& notice);

    PriceAlerts& m_alerts;
    QDBusConnection m_bus;
    QAction& m_openPopover;
    std::chrono::milliseconds m_timeout;
    // What the service said it can do, asked once; unknown until a service answered.
    std::optional<QStringList> m_capabilities;
    bool m_askingCapabilities = false;
    // Fired while the capabilities were being asked for.
    QList<PriceAlertNotice> m_waiting;
    QSet<uint> m_shownIds;
};
