#include "shell/PopoverContent.h"

#include "shell/SettingsWindowManager.h"

#include <QWidget>

// A placeholder until the popover view exists.
QWidget* makePopoverContent(AppState&)
{
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("popoverContent"));
    content->setAutoFillBackground(true);
    QPalette palette = content->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.965f, 0.965f, 0.955f));
    content->setPalette(palette);
    return content;
}

void showSettingsWindow(AppState& appState)
{
    SettingsWindowManager::shared().show(appState);
}
