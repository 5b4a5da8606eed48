#include "shell/AppActions.h"

#include "shell/StatusNotifierMenu.h"

AppActions::AppActions(QObject* parent)
    : QObject(parent)
    , m_openPopover(StatusNotifierMenu::kOpenLabel)
    , m_openSettings(StatusNotifierMenu::kSettingsLabel)
    , m_quit(StatusNotifierMenu::kQuitLabel)
{
    m_openPopover.setObjectName(QStringLiteral("openPopoverAction"));
    m_openSettings.setObjectName(QStringLiteral("settingsAction"));
    m_quit.setObjectName(QStringLiteral("quitAction"));
}
