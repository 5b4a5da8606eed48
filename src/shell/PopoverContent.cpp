#include "shell/PopoverContent.h"

#include "shell/SettingsWindowManager.h"
#include "ui/popover/MenuBarPopoverView.h"

QWidget* makePopoverContent(AppState& appState)
{
    return new MenuBarPopoverView(appState);
}

void showSettingsWindow(AppState& appState)
{
    SettingsWindowManager::shared().show(appState);
}
