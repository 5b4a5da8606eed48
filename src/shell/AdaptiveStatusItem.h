#pragma once

#include "shell/StatusItem.h"

#include <QDBusConnection>

#include <memory>

class QTimer;
class StatusNotifierItem;
class TrayIconStatusItem;

// The status item the app shows: a StatusNotifierItem while a watcher hosts it, a
// QSystemTrayIcon while none does (an XEmbed tray), and nothing visible when the desktop has
// no tray at all; it says which, so the app can stand in with a window (StatusAreaFallback).
class AdaptiveStatusItem final : public StatusItem {
    Q_OBJECT

public:
    explicit AdaptiveStatusItem(const QDBusConnection& bus, QObject* parent = nullptr);
    ~AdaptiveStatusItem() override;

    void setTitle(const QString& title) override;
    QString title() const override { return m_content.title; }
    void setContent(const StatusItemContent& content) override;
    void setPopoverShown(bool shown) override;
    void showMenu(const QPoint& at) override;

    StatusNotifierItem* notifierItem() const { return m_notifier.get(); }
    bool usesTrayIcon() const;
    // Whether anything shows the item: a watcher accepted it, or a tray holds its icon.
    bool isHosted() const { return m_hosted; }

Q_SIGNALS:
    void hostedChanged(bool hosted);

private Q_SLOTS:
    // A watcher may drop an item it has accepted (GNOME's AppIndicator extension does when it
    // trips over its own start-up); the item then shows nowhere although it is registered.
    void watcherDroppedItem(const QString& service);

private:
    void chooseHost();
    void setHosted(bool hosted);
    void registerAgain();
    void forwardRequests(StatusItem* item);

    QDBusConnection m_bus;
    StatusItemContent m_content;
    std::unique_ptr<StatusNotifierItem> m_notifier;
    std::unique_ptr<TrayIconStatusItem> m_trayIcon;
    QTimer* m_trayPoll = nullptr;
    QTimer* m_registerAgain = nullptr;
    int m_registerAttempts = 0;
    bool m_droppedByWatcher = false;
    bool m_hosted = false;
};
