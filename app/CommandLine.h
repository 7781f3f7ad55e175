#pragma once

#include "OperatorOptions.h"

#include <QString>
#include <QStringList>

// The options of the server's executable.
struct CommandLine
{
    bool headless = false;   // no windows; log on standard output
    bool once = false;       // one cycle, then exit with its outcome
    bool help = false;
    bool version = false;
    QString configFile;      // empty: config.txt beside the executable
    OperatorOptions operatorOptions;
    QString error;           // not empty: the arguments were not understood
};

// `arguments` without the program name.
CommandLine ParseCommandLine(const QStringList &arguments);
QString UsageText();
QString VersionText();
