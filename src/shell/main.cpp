#include "shell/ZentrowApp.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLibraryInfo>
#include <QLocale>
#include <QLockFile>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTranslator>
#include <QUrl>

#include <memory>

namespace {

const QString kInstanceService = QStringLiteral("app.zentrow.Zentrow");

// One status item per desktop session: the session bus name when there is a bus, a lock file
// in the user's runtime folder when there is none.
bool claimSingleInstance(std::unique_ptr<QLockFile>& lock)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        const auto reply = bus.interface()->registerService(kInstanceService, QDBusConnectionInterface::DontQueueService,
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

} // namespace

int main(int argc, char** argv)
{
    // Placing a window at the tray's coordinates needs X11; under Wayland, go through XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication::setOrganizationName(QStringLiteral("Zentrow"));
    QApplication::setApplicationName(QStringLiteral("Zentrow"));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt's raster engine splits fills of tall areas over the global pool; its threads should go
    // soon after a paint rather than idle for the default 30 s.
    QThreadPool::globalInstance()->setExpiryTimeout(1000);

    std::unique_ptr<QLockFile> lock;
    if (!claimSingleInstance(lock)) {
        return 0;
    }
    installQtTranslations(app);

    // Benchmarks and soak runs point the app at a loopback backend; not a user setting.
    ZentrowAppOptions options;
    const QUrl backendOverride(qEnvironmentVariable("ZENTROW_BACKEND_URL"), QUrl::StrictMode);
    if (backendOverride.isValid() && !backendOverride.isRelative()) {
        options.backendURL = backendOverride;
    }
    ZentrowApp zentrow(std::move(options));
    return QApplication::exec();
}
