#pragma once

#include "shell/StatusItem.h"
#include "shell/StatusNotifierTypes.h"

#include <QDBusConnection>
#include <QElapsedTimer>

#include <memory>

class QDBusServiceWatcher;
class QMenu;
class StatusNotifierItemAdaptor;
class StatusNotifierMenu;

// The status item as a StatusNotifierItem on the session bus.
//
// Hosts differ in what they draw, so everything goes out in every form hosts read: the text as
// the Ayatana label (GNOME's AppIndicator extension, the Ayatana applets) and as Title and
// tooltip (Plasma and icon-only trays); the icon by name with its theme folder and as pixels; a
// real dbusmenu, which menu-only hosts open on a left click, with an entry that opens the
// popover. Activate and SecondaryActivate toggle the popover; ContextMenu asks for the menu. It registers with the
// watcher, and again whenever a watcher appears.
class StatusNotifierItem final : public StatusItem {
    Q_OBJECT

public:
    static inline const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString kItemPath = QStringLiteral("/StatusNotifierItem");
    static inline const QString kMenuPath = QStringLiteral("/MenuBar");
    // Clicks closer together than this are one click: hosts may report one click twice.
    static constexpr int kClickCoalesceMs = 300;

    explicit StatusNotifierItem(const QDBusConnection& bus, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Whether the item is on the bus under its service name.
    bool isExported() const { return m_exported; }
    // Whether a watcher accepted the item.
    bool isRegistered() const { return m_registered; }
    QString serviceName() const { return m_serviceName; }

    void setTitle(const QString& title) override;
    QString title() const override { return m_content.title; }
    void setContent(const StatusItemContent& content) override;
    void setPopoverShown(bool shown) override;
    // The same entries as the exported menu, drawn by the app for hosts that ask for it.
    void showMenu(const QPoint& at) override;

    // What the adaptors publish.
    QString labelGuide() const;
    QString iconThemePath() const { return m_iconThemePath; }
    SniIconPixmapList iconPixmaps() const { return m_iconPixmaps; }
    SniToolTip toolTip() const;
    StatusNotifierMenu& menu() const { return *m_menu; }

    // Called by the adaptor for the host's requests; (x, y) in the host's physical pixels.
    void activate(int x, int y);

    // A host position in physical pixels as a global position of ours (device-independent),
    // or a null point when no screen holds it.
    static QPoint fromHostPosition(int x, int y);

Q_SIGNALS:
    void registeredChanged(bool registered);

private:
    void registerWithWatcher();
    void setRegistered(bool registered);
    void click(const QPoint& anchor);

    QDBusConnection m_bus;
    QString m_serviceName;
    StatusItemContent m_content;
    QString m_iconThemePath;
    SniIconPixmapList m_iconPixmaps;
    StatusNotifierItemAdaptor* m_adaptor = nullptr;
    QDBusServiceWatcher* m_watcher = nullptr;
    StatusNotifierMenu* m_menu = nullptr;
    std::unique_ptr<QMenu> m_contextMenu;
    QElapsedTimer m_lastClick;
    bool m_popoverShown = false;
    bool m_toolTipStale = false;
    bool m_exported = false;
    bool m_registered = false;
};
