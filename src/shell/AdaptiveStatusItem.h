#pragma once

#include "shell/StatusItem.h"

#include <QDBusConnection>

#include <memory>

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
    QString title() const override { return m_content.title; }
    void setContent(const StatusItemContent& content) override;
    void setPopoverShown(bool shown) override;

    StatusNotifierItem* notifierItem() const { return m_notifier.get(); }
    bool usesTrayIcon() const;

private:
    void chooseHost();
    void forwardRequests(StatusItem* item);

    StatusItemContent m_content;
    std::unique_ptr<StatusNotifierItem> m_notifier;
    std::unique_ptr<TrayIconStatusItem> m_trayIcon;
};
