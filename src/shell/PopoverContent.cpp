#include "shell/PopoverContent.h"

#include <QWidget>

// Placeholders until the popover view and the settings window exist.
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

void showSettingsWindow(AppState&) {}
