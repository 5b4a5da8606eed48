#pragma once

#include "ui/settings/SettingsView.h"

#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QSizeF>

#include <memory>

class AppState;
class QScreen;
class QTimer;
class QWidget;

// Owns the one settings window: creates it on the first show(), keeps it (closing only hides it)
// and fits it to the size its settings view reports, growing downwards from a fixed top edge.
// Main thread only.
class SettingsWindowManager {
public:
    static constexpr QSize kInitialContentSize{664, 280};
    // The window fits its content's height (the about tab is shorter than the general one); the
    // floor only guards against a runaway report.
    static constexpr QSize kMinimumContentSize{520, 100};

    SettingsWindowManager();
    ~SettingsWindowManager();
    SettingsWindowManager(const SettingsWindowManager&) = delete;
    SettingsWindowManager& operator=(const SettingsWindowManager&) = delete;

    // The process-wide instance, created on first use and kept until the process ends.
    static SettingsWindowManager& shared();

    // Creates or reuses the window, hosts a fresh settings view for `appState` in it (on the tab
    // the previous view showed), centres it on the screen under the pointer and brings it forward.
    void show(AppState& appState);

    QWidget* window() const { return m_window.get(); }
    SettingsView* settingsView() const { return m_view; }

    // The content size for a reported view size: rounded up to whole points, never below the
    // minimum.
    static QSize contentSize(const QSizeF& reported);
    // Where a window frame of `frameSize` goes to sit centred in `available`.
    static QPoint centredOrigin(const QSize& frameSize, const QRect& available);

private:
    void createWindow();
    void applyContentSize(const QSizeF& reported);
    void centre();
    // Once the window manager has framed the shown window, puts the real frame in the centre.
    void settleCentre();
    // The screen under the pointer, else the window's screen, else the primary screen.
    QScreen* targetScreen() const;

    std::unique_ptr<QWidget> m_window;
    QPointer<SettingsView> m_view;
    QSize m_lastContentSize = kInitialContentSize;
    QMargins m_frameMargins;
    QRect m_centredIn;
    QSize m_shownSize;
    int m_settleChecks = 0;
    QTimer* m_settleTimer = nullptr;
};
