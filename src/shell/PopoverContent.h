#pragma once

class AppActions;
class AppState;
class QWidget;

// The popover's content and the settings window, as the shell shows them. The content's "more"
// menu triggers `actions`.
QWidget* makePopoverContent(AppState& appState, AppActions& actions);
void showSettingsWindow(AppState& appState);
