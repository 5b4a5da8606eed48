#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// What a desktop tool (xdotool, xwininfo, the shell's input helpers) prints; empty when it does
// not finish within 10 s, so a hung tool fails the check that reads it instead of the whole test.
inline QString commandOutput(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}
