#include "shell/ZentrowApp.h"

#include "BuildConfig.h"
#include "services/MockMarketDataService.h"
#include "services/ZentrowAPIMarketDataService.h"
#include "shell/AdaptiveStatusItem.h"
#include "shell/PopoverContent.h"
#include "shell/StatusBarController.h"
#include "state/AppState.h"
#include "storage/LocalStore.h"
#include "storage/SettingsDefaultsStore.h"
#include "views/ImageLoader.h"

#include <QNetworkAccessManager>
#include <QTimer>

ZentrowApp::ZentrowApp(ZentrowAppOptions options, QObject* parent)
    : QObject(parent)
    , m_network(std::make_unique<QNetworkAccessManager>())
    , m_imageLoader(std::make_unique<ImageLoader>(m_network.get()))
{
    ImageLoader::setShared(m_imageLoader.get());
    const QUrl baseURL = options.backendURL.isEmpty() ? QUrl(QString::fromLatin1(kDefaultBackendURL))
                                                      : options.backendURL;
    m_delegate = std::make_unique<ZentrowAppDelegate>(options.bus);
    auto service = std::make_shared<ZentrowAPIMarketDataService>(
        baseURL, m_network.get(), std::make_shared<MockMarketDataService>(options.sleeper), options.transferTimeout);
    auto defaults = options.settingsFile.isEmpty() ? std::make_shared<SettingsDefaultsStore>()
                                                   : std::make_shared<SettingsDefaultsStore>(options.settingsFile);
    m_localStore = std::make_shared<LocalStore>(defaults);
    m_appState = std::make_unique<AppState>(service, m_localStore, options.sleeper);
    m_delegate->setAppState(m_appState.get());
    // Launching has finished once the event loop runs.
    QTimer::singleShot(0, m_delegate.get(), &ZentrowAppDelegate::applicationDidFinishLaunching);
}

ZentrowApp::~ZentrowApp()
{
    // The views go before the state they observe.
    m_delegate.reset();
    m_appState.reset();
    ImageLoader::setShared(nullptr);
}

ZentrowAppDelegate::ZentrowAppDelegate(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
{
}

ZentrowAppDelegate::~ZentrowAppDelegate()
{
    m_statusBarController.reset();
    m_statusItem.reset();
}

void ZentrowAppDelegate::applicationDidFinishLaunching()
{
    if (!m_appState || m_statusBarController) {
        return;
    }
    m_statusItem = std::make_unique<AdaptiveStatusItem>(m_bus);
    m_statusBarController = std::make_unique<StatusBarController>(*m_appState, *m_statusItem, makePopoverContent,
                                                                  showSettingsWindow);
}
