#include "shell/StatusAreaNotice.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <cstdio>

StatusAreaNotice::StatusAreaNotice(const QDBusConnection& bus, std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_timeout(timeout)
{
}

QString StatusAreaNotice::summary()
{
    return tr("找不到状态栏，Zentrow 暂以窗口显示");
}

QString StatusAreaNotice::body()
{
    return tr("当前桌面没有状态区域（既没有 StatusNotifierWatcher，也没有系统托盘），Zentrow 的状态栏项目无处显示。\n"
              "GNOME：安装 Debian 软件包 gnome-shell-extension-appindicator，并启用“AppIndicator and "
              "KStatusNotifierItem Support”扩展。\n"
              "其他桌面：在面板中添加状态托盘（通知区域）小部件。\n"
              "状态区域出现后，Zentrow 会自动回到状态栏。");
}

QString StatusAreaNotice::consoleLine()
{
    QString line = kAppName + QStringLiteral(": ") + summary() + QStringLiteral("。") + body();
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

void StatusAreaNotice::show()
{
    if (m_outcome != Outcome::NotSent) {
        return;
    }
    m_outcome = Outcome::Pending;
    if (!m_bus.isConnected()) {
        fail();
        return;
    }
    auto message = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    message << kAppName << 0u << kAppIcon << summary() << body() << QStringList() << QVariantMap() << -1;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(message, int(m_timeout.count())), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isError()) {
            fail();
            return;
        }
        m_id = reply.value();
        m_outcome = Outcome::Delivered;
        if (m_withdrawn) {
            closeNotification(*m_id);
        }
    });
}

void StatusAreaNotice::fail()
{
    m_outcome = Outcome::Undelivered;
    // A host that came in the meantime leaves nothing to tell.
    if (!m_withdrawn) {
        std::fprintf(stderr, "%s\n", consoleLine().toLocal8Bit().constData());
        std::fflush(stderr);
    }
}

void StatusAreaNotice::withdraw()
{
    if (m_withdrawn) {
        return;
    }
    m_withdrawn = true;
    if (m_id) {
        closeNotification(*m_id);
    }
}

void StatusAreaNotice::closeNotification(uint id)
{
    auto message = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("CloseNotification"));
    message << id;
    // Nobody waits for the answer; the notification is merely out of date.
    message.setAutoStartService(false);
    m_bus.send(message);
}
