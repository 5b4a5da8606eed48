#pragma once

#include "shell/PriceAlertNotifier.h"
#include "shell/StatusAreaFallback.h"
#include "support/Sleeper.h"

#include <QDBusConnection>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

class AppActions;
class AppState;
class ImageLoader;
class LocalStore;
class QNetworkAccessManager;
class QWidget;
class StatusItem;
class StatusBarController;
class ZentrowAppDelegate;

// What start-up may be given instead of the defaults; tests inject a loopback backend, a
// settings file, a private bus and a virtual clock.
struct ZentrowAppOptions {
    QUrl backendURL;      // empty: the build-time backend
    QString settingsFile; // empty: the user's own settings
    QDBusConnection bus = QDBusConnection::sessionBus();
    std::shared_ptr<Sleeper> sleeper = systemSleeper();
    std::chrono::milliseconds transferTimeout{60'000};
    StatusAreaFallbackTimings statusAreaTimings; // the two delays run on `sleeper`
    // How long a price alert's notification may wait for the service before the tooltip and the
    // popover show it instead.
    std::chrono::milliseconds alertNoticeTimeout = PriceAlertNotifier::kDefaultTimeout;
};

// Builds the object graph once: the shared network manager (also used for logos), the HTTP
// market data service
// with its catalogue fallback, the local store over the user's settings, and the one AppState.
class ZentrowApp : public QObject {
    Q_OBJECT

public:
    explicit ZentrowApp(ZentrowAppOptions options = {}, QObject* parent = nullptr);
    ~ZentrowApp() override;

    AppState& appState() const { return *m_appState; }
    ZentrowAppDelegate& delegate() const { return *m_delegate; }
    QNetworkAccessManager& networkAccessManager() const { return *m_network; }

private:
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<ImageLoader> m_imageLoader;
    std::shared_ptr<LocalStore> m_localStore;
    std::unique_ptr<AppState> m_appState;
    std::unique_ptr<ZentrowAppDelegate> m_delegate;
};

// Creates the status item and its controller once the event loop runs.
class ZentrowAppDelegate : public QObject {
    Q_OBJECT

public:
    ZentrowAppDelegate(const QDBusConnection& bus, std::chrono::milliseconds alertNoticeTimeout,
                       QObject* parent = nullptr);
    ~ZentrowAppDelegate() override;

    void setAppState(AppState* appState) { m_appState = appState; }
    void applicationDidFinishLaunching();

    AppActions& actions() const { return *m_actions; }
    StatusItem* statusItem() const { return m_statusItem.get(); }
    StatusBarController* statusBarController() const { return m_statusBarController.get(); }

    // How the app stays usable while the desktop has no status area.
    void setStatusAreaFallback(std::shared_ptr<Sleeper> sleeper, StatusAreaFallbackTimings timings);
    StatusAreaFallback* statusAreaFallback() const { return m_statusAreaFallback.get(); }

private:
    QDBusConnection m_bus;
    std::chrono::milliseconds m_alertNoticeTimeout;
    AppState* m_appState = nullptr;
    std::unique_ptr<AppActions> m_actions;
    std::unique_ptr<PriceAlertNotifier> m_priceAlertNotifier;
    std::unique_ptr<StatusItem> m_statusItem;
    std::unique_ptr<StatusBarController> m_statusBarController;
    std::shared_ptr<Sleeper> m_fallbackSleeper = systemSleeper();
    StatusAreaFallbackTimings m_fallbackTimings;
    std::unique_ptr<StatusAreaFallback> m_statusAreaFallback;
};
