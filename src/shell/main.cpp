#include "BuildConfig.h"
#include "shell/AccessibleApplication.h"
#include "shell/AppIcon.h"
#include "shell/ZentrowApp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QHostAddress>
#include <QLibraryInfo>
#include <QLocale>
#include <QLockFile>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTranslator>
#include <QUrl>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

const QString kInstanceService = QStringLiteral("app.zentrow.Zentrow");

// One status item per desktop session: the session bus name when there is a bus, a lock file
// in the user's runtime folder when there is none.
bool claimSingleInstance(std::unique_ptr<QLockFile>& lock)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        const auto reply =
            bus.interface()->registerService(kInstanceService, QDBusConnectionInterface::DontQueueService,
                                             QDBusConnectionInterface::DontAllowReplacement);
        return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    }
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    }
    lock = std::make_unique<QLockFile>(folder + QStringLiteral("/zentrow.lock"));
    return lock->tryLock(0);
}

// --help and --version answer before the application object exists, so they work without a
// display. Returns the exit code when the command line was answered (or wrong).
std::optional<int> answerCommandLine(int argc, char** argv)
{
    QCoreApplication probe(argc, argv);
    QCommandLineParser parser;
    // Qt's own options (-platform xcb, -style Fusion) keep their single dash.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral(
            "Zentrow: a cryptocurrency watchlist in the desktop's status area. It has no window of its own; click its "
            "status item to open the watchlist. Market data come from %1.")
            .arg(QString::fromLatin1(kDefaultBackendURL)));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    // Understood by QApplication itself; accepted here so they are not taken for mistakes.
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon", "qwindowtitle",
          "display", "geometry", "title", "name", "style", "stylesheet", "session", "qmljsdebugger"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "zentrow: %s\nRun 'zentrow --help' for the options.\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("zentrow %s\n", ZENTROW_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "zentrow: unexpected argument '%s'\nRun 'zentrow --help' for the options.\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }
    return std::nullopt;
}

// An installed copy talks to the backend on this machine, which systemd starts on demand through
// zentrow-backend.socket. The package enables the socket for every login; this starts it in a
// session that was already running when the package was installed. Without systemd or the unit
// (a build run from the source tree) the call fails and nothing changes.
void startLocalBackendSocket(const QDBusConnection& bus)
{
    const QUrl backend(QString::fromLatin1(kDefaultBackendURL));
    if (!bus.isConnected() || !QHostAddress(backend.host()).isLoopback()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
        QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("StartUnit"));
    call << QStringLiteral("zentrow-backend.socket") << QStringLiteral("replace");
    call.setAutoStartService(false);
    bus.asyncCall(call);
}

void installQtTranslations(QApplication& app)
{
    // Network and decoding error texts come from Qt; let them read in the user's language.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* catalog : {"qtbase"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QLocale(), QString::fromLatin1(catalog), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
        } else {
            delete translator;
        }
    }
}

// A backend chosen when starting, for trying another one without rebuilding (and for the
// end-to-end tests, which bring their own on loopback). Anything but an http(s) URL with a host
// is refused with a message, and the built-in backend stays.
QUrl backendOverride()
{
    const QString text = qEnvironmentVariable("ZENTROW_BACKEND_URL");
    if (text.isEmpty()) {
        return {};
    }
    const QUrl url(text, QUrl::StrictMode);
    const bool web = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    if (!url.isValid() || !web || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() ||
        url.hasFragment()) {
        qWarning("ZENTROW_BACKEND_URL is not an http or https URL with a host; using the built-in backend");
        return {};
    }
    return url;
}

} // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> exitCode = answerCommandLine(argc, argv)) {
        return *exitCode;
    }

    // Placing a window at the tray's coordinates needs X11; under Wayland, go through XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication::setOrganizationName(QStringLiteral("Zentrow"));
    QApplication::setApplicationName(QStringLiteral("Zentrow"));
    QApplication app(argc, argv);
    AccessibleApplication::install();
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(AppIcon::kName);
    // Every window (settings) takes the app's icon from here.
    QApplication::setWindowIcon(AppIcon::icon());
    // Qt's raster engine splits fills of tall areas over the global pool; its threads should go
    // soon after a paint rather than idle for the default 30 s.
    QThreadPool::globalInstance()->setExpiryTimeout(1000);

    std::unique_ptr<QLockFile> lock;
    if (!claimSingleInstance(lock)) {
        return 0;
    }
    installQtTranslations(app);
    startLocalBackendSocket(QDBusConnection::sessionBus());

    ZentrowAppOptions options;
    options.backendURL = backendOverride();
    auto zentrow = std::make_unique<ZentrowApp>(options);
    const int code = QApplication::exec();
    zentrow.reset();
    // Tasks that were waiting when the app quit wake up once more on the event loop to end.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return code;
}
