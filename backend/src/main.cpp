#include "Backend.h"
#include "CommandLine.h"
#include "ShutdownSignals.h"
#include "SocketActivation.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentrow-backend"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZENTROW_VERSION));

    const auto parsed = parseCommandLine(QCoreApplication::arguments());
    if (const auto* exit = std::get_if<CommandLineExit>(&parsed)) {
        std::fputs(qPrintable(exit->text), exit->exitCode == 0 ? stdout : stderr);
        return exit->exitCode;
    }
    BackendSettings settings = std::get<BackendSettings>(parsed);

    // Started by zentrow-backend.socket, the listening socket is systemd's; by hand, our own.
    const SocketActivation::Outcome activation = SocketActivation::takeListeningSocket();
    if (const auto* problem = std::get_if<SocketActivation::Problem>(&activation)) {
        std::fprintf(stderr, "zentrow-backend: %s\n", qPrintable(problem->message));
        return 1;
    }
    if (const auto* inherited = std::get_if<SocketActivation::Inherited>(&activation)) {
        settings.listeningSocket = inherited->descriptor;
    }

    Backend backend(settings);
    QString problem;
    if (!backend.start(&problem)) {
        std::fprintf(stderr, "zentrow-backend: %s\n", qPrintable(problem));
        return 1;
    }
    if (!backend.settings().address.isLoopback()) {
        std::fprintf(stderr, "zentrow-backend: warning: serving plain HTTP on %s; put a TLS proxy in front of it\n",
                     qPrintable(backend.settings().address.toString()));
    }
    std::unique_ptr<IdleExit> idleExit;
    if (settings.exitWhenIdle.count() > 0) {
        idleExit = std::make_unique<IdleExit>(*backend.server(), settings.exitWhenIdle);
        QObject::connect(idleExit.get(), &IdleExit::idle, &backend, [&backend] {
            std::printf("zentrow-backend: no clients for a while; exiting\n");
            std::fflush(stdout);
            backend.stop();
        });
    }
    // Scripts and tests wait for this line (and read the port from it when --port 0 was given).
    std::printf("zentrow-backend listening on %s%s (upstream %s)\n", qPrintable(backend.url().toString()),
                settings.listeningSocket >= 0 ? " (socket from systemd)" : "",
                qPrintable(settings.upstream.toString()));
    std::fflush(stdout);

    // SIGTERM and SIGINT end the process cleanly (exit 0), so that leak checkers get to run.
    ShutdownSignals shutdown;
    QObject::connect(&shutdown, &ShutdownSignals::received, &backend, [&backend](int signalNumber) {
        std::fprintf(stderr, "zentrow-backend: SIG%s received, stopping\n", sigabbrev_np(signalNumber));
        backend.stop();
    });
    QObject::connect(&backend, &Backend::stopped, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    return app.exec();
}
