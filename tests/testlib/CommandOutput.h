#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

struct CommandRun {
    int exitCode = -1; // -1 also when it crashed, did not start or did not finish in time
    QByteArray out;
    QByteArray err;
};

// Runs `program` to its end, with `environment` when one is given. One that does not finish within
// `timeoutMs` is killed, so a hung tool fails the check that reads it instead of the whole test.
inline CommandRun runCommand(const QString& program, const QStringList& arguments,
                             const QProcessEnvironment& environment = {}, int timeoutMs = 120'000)
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, {}, "timed out or did not start: " + program.toUtf8()};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

// What a desktop tool (xdotool, xwininfo, the shell's input helpers) prints; empty when it does
// not finish within 10 s.
inline QString commandOutput(const QString& program, const QStringList& arguments)
{
    return QString::fromUtf8(runCommand(program, arguments, {}, 10'000).out);
}
