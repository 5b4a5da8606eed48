#pragma once

class AppState;
class QWidget;

// The popover's content and the settings window, as the shell shows them.
QWidget* makePopoverContent(AppState& appState);
void showSettingsWindow(AppState& appState);
