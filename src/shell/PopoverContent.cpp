#include "shell/PopoverContent.h"

#include "shell/AppActions.h"
#include "shell/SettingsWindowManager.h"
#include "ui/popover/MenuBarPopoverView.h"

QWidget* makePopoverContent(AppState& appState, AppActions& actions)
{
    auto* view = new MenuBarPopoverView(appState);
    // Queued: answering closes the popover, which must not happen inside its own menu's handler.
    QObject::connect(view, &MenuBarPopoverView::settingsRequested, actions.openSettings(), &QAction::trigger,
                     Qt::QueuedConnection);
    QObject::connect(view, &MenuBarPopoverView::quitRequested, actions.quit(), &QAction::trigger, Qt::QueuedConnection);
    return view;
}

void showSettingsWindow(AppState& appState)
{
    SettingsWindowManager::shared().show(appState);
}
