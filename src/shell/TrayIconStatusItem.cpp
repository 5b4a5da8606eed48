#include "shell/TrayIconStatusItem.h"

#include "shell/AppIcon.h"

TrayIconStatusItem::TrayIconStatusItem(QObject* parent)
    : StatusItem(parent)
{
    m_icon.setIcon(AppIcon::icon());
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) {
            const QRect geometry = m_icon.geometry();
            Q_EMIT clicked(geometry.isValid() ? QPoint(geometry.center().x(), geometry.bottom()) : QPoint());
        }
    });
}

void TrayIconStatusItem::setTitle(const QString& title)
{
    StatusItemContent content;
    content.title = title;
    setContent(content);
}

void TrayIconStatusItem::setContent(const StatusItemContent& content)
{
    // The tray draws the icon only: the tooltip carries the pinned text and the whole list.
    m_title = content.title;
    QStringList lines = QStringList{content.title} + content.alerts;
    for (const StatusItemToken& token : content.tokens) {
        lines.append(token.text);
    }
    if (!content.updatedAt.isEmpty()) {
        lines.append(content.updatedAt);
    }
    m_icon.setToolTip(lines.join(QLatin1Char('\n')));
}

void TrayIconStatusItem::setVisible(bool visible)
{
    m_icon.setVisible(visible);
}
