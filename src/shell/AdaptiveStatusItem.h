#pragma once

#include "shell/StatusItem.h"

#include <QDBusConnection>

#include <memory>

class QTimer;
class StatusNotifierItem;
class TrayIconStatusItem;

// The status item the app shows: a StatusNotifierItem while a watcher hosts it, a
// QSystemTrayIcon while none does (an XEmbed tray), and nothing visible when the desktop has
// no tray at all, in which case the app keeps running and shows up as soon as a host appears.
class AdaptiveStatusItem final : public StatusItem {
    Q_OBJECT

public:
    explicit AdaptiveStatusItem(const QDBusConnection& bus, QObject* parent = nullptr);
    ~AdaptiveStatusItem() override;

    void setTitle(const QString& title) override;
    QString title() const override { return m_title; }

    StatusNotifierItem* notifierItem() const { return m_notifier.get(); }
    bool usesTrayIcon() const;
    // Whether anything shows the item: a watcher accepted it, or a tray holds its icon.
    bool isHosted() const { return m_hosted; }

Q_SIGNALS:
    void hostedChanged(bool hosted);

private:
    void chooseHost();
    void setHosted(bool hosted);

    QString m_title;
    std::unique_ptr<StatusNotifierItem> m_notifier;
    std::unique_ptr<TrayIconStatusItem> m_trayIcon;
    QTimer* m_trayPoll = nullptr;
    bool m_hosted = false;
};
