#pragma once

#include "shell/StatusItem.h"

#include <QObject>
#include <QPointer>

#include <functional>

class AppActions;
class AppState;
class PopoverWindow;
class QWidget;

// Keeps the status item's text, menu and tooltip in step with the state, opens and closes the
// popover on clicks, and answers the app's actions (open the popover, open settings, quit),
// which the item's menu triggers too.
class StatusBarController : public QObject {
    Q_OBJECT

public:
    static inline const QString kUpdatedAtPrefix = QStringLiteral("更新于 ");

    // `makeContent` builds the popover's content for the state.
    StatusBarController(AppState& appState, StatusItem& statusItem, AppActions& actions,
                        std::function<QWidget*(AppState&)> makeContent, QObject* parent = nullptr);
    ~StatusBarController() override;

    PopoverWindow& popover() const { return *m_popover; }
    void togglePopover(const QPoint& anchor);
    // Opens the popover next to the item when the host gave no position (the item's menu was
    // used): on the panel's side of the screen, under or above the pointer.
    void openPopoverFromMenu();
    // The popover's content is made when it first opens; this makes it now.
    void ensurePopoverContent();

    // What the status item shows for the state as it is now.
    static StatusItemContent statusItemContent(const AppState& appState);
    // Where a popover opened from the item's menu hangs: at the edge of the panel nearest the
    // pointer, or at the pointer on a screen without panels.
    static QPoint menuAnchor(const QPoint& pointer, const QRect& screen, const QRect& available);
    // Where the popover hangs when the pointer's position is unknown (under Wayland the app only
    // sees it while it is over one of the app's own windows): at the item where a host last told
    // us, else from the top-right corner of the work area, where the shells put their items.
    static QPoint anchorWithoutPointer(const QPoint& lastItemPosition, const QRect& available);

Q_SIGNALS:
    // Settings were asked for and the popover has closed: the settings window should show.
    void settingsWindowRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scheduleStatusItemUpdate();
    void updateStatusItem();
    bool pointerIsKnown() const;
    QPoint anchorWithoutPointer() const;
    void pin(const QString& tokenID);
    void openSettings();
    void quit();

    AppState& m_appState;
    StatusItem& m_statusItem;
    std::unique_ptr<PopoverWindow> m_popover;
    std::function<QWidget*(AppState&)> m_makeContent;
    // Where the host last said the item was clicked; null until one says.
    QPoint m_itemPosition;
    bool m_updatePending = false;
    // The popover has been open while there were alerts that no notification showed.
    bool m_undeliveredSeen = false;
};
