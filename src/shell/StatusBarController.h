#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class AppState;
class PopoverWindow;
class StatusItem;
class QWidget;

// Keeps the status item's text in step with the state, opens and closes the popover on
// clicks, and answers the two requests the popover posts: open settings, quit.
class StatusBarController : public QObject {
    Q_OBJECT

public:
    // `makeContent` builds the popover's content for the state; `showSettings` opens the
    // settings window.
    StatusBarController(AppState& appState, StatusItem& statusItem, std::function<QWidget*(AppState&)> makeContent,
                        std::function<void(AppState&)> showSettings, QObject* parent = nullptr);
    ~StatusBarController() override;

    PopoverWindow& popover() const { return *m_popover; }
    void togglePopover(const QPoint& anchor);
    // The popover's content is made when it first opens; this makes it now.
    void ensurePopoverContent();

private:
    void updateStatusItemTitle();
    void handleNotification(const QString& name);

    AppState& m_appState;
    StatusItem& m_statusItem;
    std::unique_ptr<PopoverWindow> m_popover;
    std::function<void(AppState&)> m_showSettings;
    std::function<QWidget*(AppState&)> m_makeContent;
};
