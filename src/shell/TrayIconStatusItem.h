#pragma once

#include "shell/StatusItem.h"

#include <QSystemTrayIcon>

// The status item through QSystemTrayIcon, for desktops without a StatusNotifierWatcher
// (an XEmbed tray). The tray's icon slot is square and holds the app's icon; the text is in
// the tooltip.
class TrayIconStatusItem final : public StatusItem {
    Q_OBJECT

public:
    explicit TrayIconStatusItem(QObject* parent = nullptr);

    void setTitle(const QString& title) override;
    QString title() const override { return m_title; }
    void setContent(const StatusItemContent& content) override;
    void setVisible(bool visible);

private:
    QSystemTrayIcon m_icon;
    QString m_title;
};
