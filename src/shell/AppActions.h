#pragma once

#include <QAction>
#include <QObject>

// The app-wide requests, made once: open the popover, open settings, quit. The status item's
// menu, the popover's "more" menu and the fallback window all trigger these; the status bar
// controller answers them.
class AppActions : public QObject {
    Q_OBJECT

public:
    explicit AppActions(QObject* parent = nullptr);

    QAction* openPopover() { return &m_openPopover; }
    QAction* openSettings() { return &m_openSettings; }
    QAction* quit() { return &m_quit; }

private:
    QAction m_openPopover;
    QAction m_openSettings;
    QAction m_quit;
};
