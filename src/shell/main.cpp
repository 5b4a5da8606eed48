#include "shell/AppIcon.h"
#include "shell/ZentrowApp.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLibraryInfo>
#include <QLocale>
#include <QLockFile>
#include <QStandardPaths>
#include <QTranslator>

#include <memory>

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
    // Placing a window at the tray's coordinates needs X11; under Wayland, go through XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication::setOrganizationName(QStringLiteral("Zentrow"));
    QApplication::setApplicationName(QStringLiteral("Zentrow"));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(AppIcon::kName);
    // Every window (settings) takes the app's icon from here.
    QApplication::setWindowIcon(AppIcon::icon());

    std::unique_ptr<QLockFile> lock;
    if (!claimSingleInstance(lock)) {
        return 0;
    }
    installQtTranslations(app);

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
