#pragma once

#include "BackendSettings.h"

#include <QString>
#include <QStringList>

#include <variant>

// Reading the command line never exits the process itself, so it can be tested.
struct CommandLineExit {
    int exitCode = 0;
    QString text; // printed to stdout for code 0, else to stderr
};

std::variant<BackendSettings, CommandLineExit> parseCommandLine(const QStringList& arguments);
