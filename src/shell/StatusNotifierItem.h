#pragma once

#include "shell/StatusItem.h"
#include "shell/StatusNotifierTypes.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QImage>

#include <memory>

class QDBusServiceWatcher;
class StatusNotifierItemAdaptor;

// The status item as a StatusNotifierItem on the session bus.
//
// The text goes out three ways, since hosts differ: as the Ayatana label (drawn next to the icon
// by GNOME's AppIndicator extension and the Ayatana applets), and as Title and ToolTip (Plasma
// shows those). The item exports a minimal dbusmenu, because some hosts draw nothing without
// one, and those hosts open the menu on a left click instead of calling Activate: the menu's
// "opened" event counts as a click too. It registers with the watcher, and again whenever a
// watcher appears.
class StatusNotifierItem final : public StatusItem {
    Q_OBJECT

public:
    static inline const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString kItemPath = QStringLiteral("/StatusNotifierItem");
    static inline const QString kMenuPath = QStringLiteral("/MenuBar");
    // Clicks closer together than this are one click: hosts may report one click twice
    // (a menu event and an activation).
    static constexpr int kClickCoalesceMs = 300;

    explicit StatusNotifierItem(const QDBusConnection& bus, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Whether the item is on the bus under its service name.
    bool isExported() const { return m_exported; }
    // Whether a watcher accepted the item.
    bool isRegistered() const { return m_registered; }
    QString serviceName() const { return m_serviceName; }

    void setTitle(const QString& title) override;
    QString title() const override { return m_title; }

    // What the adaptors publish.
    QString labelGuide() const;
    SniIconPixmapList iconPixmaps() const { return m_iconPixmaps; }
    SniToolTip toolTip() const;

    // Called by the adaptors for the host's requests.
    void activate(int x, int y);
    void menuOpened();

Q_SIGNALS:
    void registeredChanged(bool registered);

private:
    void registerWithWatcher();
    void setRegistered(bool registered);
    void click(const QPoint& anchor);

    QDBusConnection m_bus;
    QString m_serviceName;
    QString m_title;
    SniIconPixmapList m_iconPixmaps;
    StatusNotifierItemAdaptor* m_adaptor = nullptr;
    QDBusServiceWatcher* m_watcher = nullptr;
    QObject* m_menu = nullptr;
    QElapsedTimer m_lastClick;
    bool m_exported = false;
    bool m_registered = false;
};

// Renders the item's icon: a coin with the product's initial, crisp at every size a panel asks for.
QImage renderStatusIcon(int size);
