// Running zentrow-backend (or a wrapper that execs it) as a child process.
#pragma once

#include <QProcess>
#include <QTest>

// Everything the process wrote to stdout until `needle` came or it ended (ten seconds at most).
inline QByteArray waitForOutput(QProcess& process, const QByteArray& needle)
{
    QByteArray output;
    (void)QTest::qWaitFor(
        [&] {
            output.append(process.readAllStandardOutput());
            return output.contains(needle) || process.state() == QProcess::NotRunning;
        },
        10'000);
    return output;
}

// waitForFinished() alone says false for a process whose end an event loop has already seen.
inline bool waitForExit(QProcess& process, int timeoutMs)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}

inline void stop(QProcess& process)
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
}
