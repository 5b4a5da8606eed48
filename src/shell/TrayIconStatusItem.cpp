#include "shell/TrayIconStatusItem.h"

#include "shell/StatusNotifierItem.h"

#include <QPainter>

TrayIconStatusItem::TrayIconStatusItem(QObject* parent)
    : StatusItem(parent)
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(QPixmap::fromImage(renderStatusIcon(size)));
    }
    m_icon.setIcon(icon);
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) {
            const QRect geometry = m_icon.geometry();
            Q_EMIT clicked(geometry.isValid() ? QPoint(geometry.center().x(), geometry.bottom()) : QPoint());
        }
    });
}

void TrayIconStatusItem::setTitle(const QString& title)
{
    m_title = title;
    m_icon.setToolTip(title);
}

void TrayIconStatusItem::setVisible(bool visible)
{
    m_icon.setVisible(visible);
}
