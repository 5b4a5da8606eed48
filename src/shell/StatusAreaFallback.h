#pragma once

#include "support/Sleeper.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

class AdaptiveStatusItem;
class StatusAreaFallbackWindow;
class StatusAreaNotice;
class QWidget;

struct StatusAreaFallbackTimings {
    // How long after start a host may take before the user is told and the window opens.
    std::chrono::milliseconds noHostDelay{3000};
    // A host that comes back within this time (a panel restart) brings no window.
    std::chrono::milliseconds hostReturnGrace{10'000};
    // How long the notification service may take to answer (a D-Bus timeout, in real time).
    std::chrono::milliseconds noticeTimeout{5000};
};

// Keeps the app usable on a desktop with no status area. When nothing hosts the status item a
// while after start, it tells the user once (StatusAreaNotice) and shows the popover's content
// as an ordinary window; as soon as a host appears, the window goes and the notice is taken
// back. A host that leaves later gets the grace time to come back before the window returns.
// Closing the window while nothing hosts the item quits the app, as the popover's quit does:
// otherwise it would keep running with nothing on screen.
class StatusAreaFallback : public QObject {
    Q_OBJECT

public:
    // `makeContent` builds a new popover view over the app's state for the window.
    StatusAreaFallback(AdaptiveStatusItem& item, std::function<QWidget*()> makeContent, const QDBusConnection& bus,
                       std::shared_ptr<Sleeper> sleeper, StatusAreaFallbackTimings timings = {},
                       QObject* parent = nullptr);
    ~StatusAreaFallback() override;

    // The window while it is open, else null.
    StatusAreaFallbackWindow* window() const;
    // The notice once it was sent, else null.
    StatusAreaNotice* notice() const { return m_notice.get(); }

Q_SIGNALS:
    // The window was closed while nothing hosts the item.
    void quitRequested();

private:
    void hostedChanged(bool hosted);
    void checkAfter(std::chrono::milliseconds delay);
    QCoro::Task<> waitThenCheck(std::chrono::milliseconds delay, std::stop_token stop);
    void check();
    void openWindow();
    void closeWindow();
    void windowCloseRequested();

    AdaptiveStatusItem& m_item;
    std::function<QWidget*()> m_makeContent;
    QDBusConnection m_bus;
    std::shared_ptr<Sleeper> m_sleeper;
    StatusAreaFallbackTimings m_timings;
    std::unique_ptr<StatusAreaNotice> m_notice;
    QPointer<StatusAreaFallbackWindow> m_window;
    std::stop_source m_pendingCheck;
};
