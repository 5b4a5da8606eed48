#include "shell/ZentrowApp.h"

#include "BuildConfig.h"
#include "services/MockMarketDataService.h"
#include "services/ZentrowAPIMarketDataService.h"
#include "shell/AdaptiveStatusItem.h"
#include "shell/AppActions.h"
#include "shell/PopoverContent.h"
#include "shell/StatusBarController.h"
#include "shell/SystemWakeWatcher.h"
#include "state/AppState.h"
#include "storage/LocalStore.h"
#include "storage/SettingsDefaultsStore.h"
#include "ui/kit/ImageLoader.h"
#include "ui/kit/Typography.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QWidget>

#include <fontconfig/fontconfig.h>

#include <utility>

namespace {

// Qt runs a manager's HTTP on a thread of its own, kept alive with the open connections. Between
// refreshes neither is needed: a while after the last reply has finished, both are let go, so an
// idle app holds no network thread. The next request starts them again.
class IdleReleasingNetworkAccessManager final : public QNetworkAccessManager {
public:
    static constexpr int kIdleReleaseMs = 3000;

    IdleReleasingNetworkAccessManager()
    {
        m_idle.setSingleShot(true);
        m_idle.setInterval(kIdleReleaseMs);
        connect(&m_idle, &QTimer::timeout, this, [this] {
            if (m_open == 0) {
                clearConnectionCache();
            }
        });
    }

    ~IdleReleasingNetworkAccessManager() override
    {
        // The base destructor deletes the open replies when this part is gone already.
        for (QNetworkReply* reply : findChildren<QNetworkReply*>()) {
            reply->disconnect(this);
        }
    }

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request, QIODevice* data) override
    {
        QNetworkReply* reply = QNetworkAccessManager::createRequest(operation, request, data);
        ++m_open;
        m_idle.stop();
        // Finished or destroyed unfinished, whichever comes first, and only once.
        auto done = std::make_shared<bool>(false);
        const auto close = [this, done] {
            if (!std::exchange(*done, true) && --m_open == 0) {
                m_idle.start();
            }
        };
        connect(reply, &QNetworkReply::finished, this, close);
        connect(reply, &QObject::destroyed, this, close);
        return reply;
    }

private:
    QTimer m_idle;
    int m_open = 0;
};

// Noto Sans CJK and Source Han Sans come in up to seven weights of 16-20 MB each, and every
// weight a view asks for maps about 3 MB more. Before Qt first reads the font list, offer it only
// the two faces the views draw with, regular and medium (the semibold), or the variable font:
// light text then takes the regular face and bold text the medium one. Other fonts are left as
// they are.
void offerOneCjkFaceSet()
{
    static const char kRule[] = R"(<?xml version="1.0"?>
<fontconfig>
  <selectfont>
    <acceptfont>
      <glob>*/Noto*CJK*-Regular.*</glob><glob>*/Noto*CJK*-Medium.*</glob><glob>*/Noto*CJK*-VF.*</glob>
      <glob>*/SourceHan*-Regular.*</glob><glob>*/SourceHan*-Medium.*</glob><glob>*/SourceHan*-VF.*</glob>
    </acceptfont>
    <rejectfont><glob>*/Noto*CJK*</glob><glob>*/SourceHan*</glob></rejectfont>
  </selectfont>
</fontconfig>)";
    FcConfig* config = FcInitLoadConfig();
    if (!config) {
        return;
    }
    if (FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kRule), FcFalse)) {
        // Builds the font list with the rule in place; the current configuration holds its own reference.
        FcConfigSetCurrent(config);
    }
    FcConfigDestroy(config);
}

// Before the first view: the views name their family, and Qt's own widgets (a scroll area's
// metrics, tooltips, message boxes) should draw with the same one rather than load the desktop's
// default sans-serif next to it.
void prepareViewFonts()
{
    static bool prepared = false;
    if (std::exchange(prepared, true)) {
        return;
    }
    offerOneCjkFaceSet();
    QFont font = QApplication::font();
    font.setFamily(Typography::defaultFamily());
    QApplication::setFont(font);
    // Windows made before (the popover's frame) do not take the new font by themselves.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        QEvent change(QEvent::ApplicationFontChange);
        QCoreApplication::sendEvent(window, &change);
    }
}

} // namespace

ZentrowApp::ZentrowApp(ZentrowAppOptions options, QObject* parent)
    : QObject(parent)
    , m_network(std::make_unique<IdleReleasingNetworkAccessManager>())
    , m_imageLoader(std::make_unique<ImageLoader>(m_network.get()))
{
    ImageLoader::setShared(m_imageLoader.get());
    const QUrl baseURL =
        options.backendURL.isEmpty() ? QUrl(QString::fromLatin1(kDefaultBackendURL)) : options.backendURL;
    m_delegate = std::make_unique<ZentrowAppDelegate>(options.bus, options.alertNoticeTimeout);
    auto service = std::make_shared<ZentrowAPIMarketDataService>(
        baseURL, m_network.get(), std::make_shared<MockMarketDataService>(options.sleeper), options.transferTimeout);
    auto defaults = options.settingsFile.isEmpty() ? std::make_shared<SettingsDefaultsStore>()
                                                   : std::make_shared<SettingsDefaultsStore>(options.settingsFile);
    m_localStore = std::make_shared<LocalStore>(defaults);
    m_appState = std::make_unique<AppState>(service, m_localStore, options.sleeper);
    m_delegate->setAppState(m_appState.get());
    new SystemWakeWatcher(*m_appState, QDBusConnection::systemBus(), this);
    m_delegate->setStatusAreaFallback(options.sleeper, options.statusAreaTimings);
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

ZentrowAppDelegate::ZentrowAppDelegate(const QDBusConnection& bus, std::chrono::milliseconds alertNoticeTimeout,
                                       QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_alertNoticeTimeout(alertNoticeTimeout)
    , m_actions(std::make_unique<AppActions>())
{
}

ZentrowAppDelegate::~ZentrowAppDelegate()
{
    m_statusAreaFallback.reset();
    m_priceAlertNotifier.reset();
    m_statusBarController.reset();
    m_statusItem.reset();
}

void ZentrowAppDelegate::applicationDidFinishLaunching()
{
    if (!m_appState || m_statusBarController) {
        return;
    }
    m_statusItem = std::make_unique<AdaptiveStatusItem>(m_bus);
    // Nothing of the app reads fonts before its first view is made.
    const auto makeContent = [actions = m_actions.get()](AppState& appState) {
        prepareViewFonts();
        return makePopoverContent(appState, *actions);
    };
    m_statusBarController = std::make_unique<StatusBarController>(*m_appState, *m_statusItem, *m_actions, makeContent);
    m_priceAlertNotifier = std::make_unique<PriceAlertNotifier>(m_appState->priceAlerts(), m_bus,
                                                                *m_actions->openPopover(), m_alertNoticeTimeout);
    connect(m_statusBarController.get(), &StatusBarController::settingsWindowRequested, this, [this] {
        prepareViewFonts();
        showSettingsWindow(*m_appState);
    });
    // The item was made just above as an AdaptiveStatusItem.
    auto& item = static_cast<AdaptiveStatusItem&>(*m_statusItem);
    m_statusAreaFallback = std::make_unique<StatusAreaFallback>(
        item, [appState = m_appState, makeContent] { return makeContent(*appState); }, m_bus, m_fallbackSleeper,
        m_fallbackTimings);
    connect(m_statusAreaFallback.get(), &StatusAreaFallback::quitRequested, m_actions->quit(), &QAction::trigger,
            Qt::QueuedConnection);
}

void ZentrowAppDelegate::setStatusAreaFallback(std::shared_ptr<Sleeper> sleeper, StatusAreaFallbackTimings timings)
{
    m_fallbackSleeper = std::move(sleeper);
    m_fallbackTimings = timings;
}
