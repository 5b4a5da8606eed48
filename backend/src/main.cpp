#include "Backend.h"
#include "CommandLine.h"
#include "ShutdownSignals.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

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
    const BackendSettings& settings = std::get<BackendSettings>(parsed);

    Backend backend(settings);
    QString problem;
    if (!backend.start(&problem)) {
        std::fprintf(stderr, "zentrow-backend: %s\n", qPrintable(problem));
        return 1;
    }
    if (!settings.address.isLoopback()) {
        std::fprintf(stderr, "zentrow-backend: warning: serving plain HTTP on %s; put a TLS proxy in front of it\n",
                     qPrintable(settings.address.toString()));
    }
    // Scripts and tests wait for this line (and read the port from it when --port 0 was given).
    std::printf("zentrow-backend listening on %s (upstream %s)\n", qPrintable(backend.url().toString()),
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
