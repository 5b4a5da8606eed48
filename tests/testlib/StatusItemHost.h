// A status item as a panel host sees it over D-Bus: its properties, its menu, and clicks on it.
// Every call waits with the event loop running (five seconds at most), so the item may live in
// the calling process. For tests that link the shell.
#pragma once

#include "shell/StatusNotifierTypes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QTest>

#include <utility>

class StatusItemHost {
public:
    static inline const QString kItemPath = QStringLiteral("/StatusNotifierItem");
    static inline const QString kMenuPath = QStringLiteral("/MenuBar");
    static inline const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
    static inline const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

    struct MenuEntry {
        int id = 0;
        QVariantMap properties;
        QString label() const { return properties.value(QStringLiteral("label")).toString(); }
        bool checked() const { return properties.value(QStringLiteral("toggle-state")).toInt() == 1; }
        bool separator() const
        {
            return properties.value(QStringLiteral("type")).toString() == QLatin1String("separator");
        }
    };

    StatusItemHost(QDBusConnection bus, QString service)
        : m_bus(std::move(bus))
        , m_service(std::move(service))
    {
    }

    // The reply, or an invalid message when none came in time.
    QDBusMessage call(const QDBusMessage& message) const
    {
        QDBusPendingCall pending = m_bus.asyncCall(message);
        if (!QTest::qWaitFor([&pending] { return pending.isFinished(); }, 5000)) {
            return {};
        }
        return pending.reply();
    }

    bool call(const QString& path, const QString& interface, const QString& method, const QVariantList& arguments) const
    {
        auto message = QDBusMessage::createMethodCall(m_service, path, interface, method);
        message.setArguments(arguments);
        return call(message).type() == QDBusMessage::ReplyMessage;
    }

    QVariant property(const QString& name) const
    {
        auto message = QDBusMessage::createMethodCall(
            m_service, kItemPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        message << kItemInterface << name;
        const QDBusMessage reply = call(message);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return {};
        }
        return reply.arguments().first().value<QDBusVariant>().variant();
    }

    QString text(const QString& name) const { return property(name).toString(); }

    SniToolTip toolTip() const
    {
        SniToolTip tip;
        property(QStringLiteral("ToolTip")).value<QDBusArgument>() >> tip;
        return tip;
    }

    // A primary click, with the position the host reports.
    bool activate(int x = 100, int y = 5) const
    {
        return call(kItemPath, kItemInterface, QStringLiteral("Activate"), {x, y});
    }

    // The menu's revision and the entries below its root; an error's text as the only entry's
    // label when there is no layout.
    std::pair<uint, QList<MenuEntry>> menuLayout() const
    {
        auto message =
            QDBusMessage::createMethodCall(m_service, kMenuPath, kMenuInterface, QStringLiteral("GetLayout"));
        message << 0 << -1 << QStringList();
        const QDBusMessage reply = call(message);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
            return {0,
                    {MenuEntry{-1, {{QStringLiteral("label"), QStringLiteral("no layout: ") + reply.errorMessage()}}}}};
        }
        DBusMenuLayoutItem root;
        reply.arguments().at(1).value<QDBusArgument>() >> root;
        QList<MenuEntry> entries;
        for (const QDBusVariant& child : root.children) {
            DBusMenuLayoutItem item;
            child.variant().value<QDBusArgument>() >> item;
            entries.append({item.id, item.properties});
        }
        return {reply.arguments().at(0).toUInt(), entries};
    }

    // The entries' labels, "-" for a separator and a leading "✓ " on a checked entry.
    QStringList menuTexts() const
    {
        QStringList texts;
        for (const MenuEntry& entry : menuLayout().second) {
            texts.append(entry.separator() ? QStringLiteral("-")
                                           : (entry.checked() ? QStringLiteral("✓ ") : QString()) + entry.label());
        }
        return texts;
    }

    // The first entry whose label starts with `label`.
    int menuId(const QString& label) const
    {
        for (const MenuEntry& entry : menuLayout().second) {
            if (entry.label().startsWith(label)) {
                return entry.id;
            }
        }
        return -1;
    }

    bool menuEvent(int id, const QString& eventId = QStringLiteral("clicked")) const
    {
        return call(kMenuPath, kMenuInterface, QStringLiteral("Event"),
                    {id, eventId, QVariant::fromValue(QDBusVariant(0)), 0u});
    }

private:
    QDBusConnection m_bus;
    QString m_service;
};
