#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>

// One watched token as the status item's menu and tooltip list it.
struct StatusItemToken {
    QString tokenID;
    QString text; // what the status item would read with this token pinned
    bool pinned = false;

    friend bool operator==(const StatusItemToken&, const StatusItemToken&) = default;
};

// Everything the status item shows besides its icon.
struct StatusItemContent {
    QString title;                 // the status text of the pinned token
    QList<StatusItemToken> tokens; // watchlist order
    QString updatedAt;             // "更新于 HH:mm" after the first successful refresh, else empty
    QStringList alerts;            // lines of fired price alerts no notification took, oldest first

    friend bool operator==(const StatusItemContent&, const StatusItemContent&) = default;
};

// The app's one element in the desktop's status area: a line of text that can be clicked, with
// a menu where the host offers one.
class StatusItem : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void setTitle(const QString& title) = 0;
    virtual QString title() const = 0;
    // Items that show more than the title (a menu, a tooltip) override this.
    virtual void setContent(const StatusItemContent& content) { setTitle(content.title); }
    // Whether the popover is open, so the item can keep host decorations (a tooltip) off it.
    virtual void setPopoverShown(bool shown) { Q_UNUSED(shown); }
    // Shows the item's menu at `at` (global), for items that have one.
    virtual void showMenu(const QPoint& at) { Q_UNUSED(at); }

Q_SIGNALS:
    // A left or right click: toggles the popover. `anchor` is the clicked point in global
    // coordinates when the host tells it, else a null point.
    void clicked(const QPoint& anchor);
    // The menu's "open" entry: the popover opens next to the item wherever the pointer is now.
    // The host asks the item to show its menu itself, at `anchor` (a null point when unknown).
    void menuRequested(const QPoint& anchor);
    void openRequested();
    void pinRequested(const QString& tokenID);
    void settingsRequested();
    void quitRequested();
};
