#pragma once

#include "app/OperatorOptions.h"

#include <QString>
#include <QStringList>

// The options of the server's executable.
struct CommandLine
{
    bool headless = false; // no windows; log on standard output
    bool once = false;     // one cycle, then exit with its outcome
    bool help = false;
    bool version = false;
    bool queueStatus = false;    // list the unsent mail and why, then exit
    bool retryNow = false;       // forget the mail back-offs, then exit
    bool allowPlainAuth = false; // the SMTP login may cross an unencrypted session
    QString sendTestMail;        // not empty: send one test message there, then exit
    QString configFile;          // empty: config.txt beside the executable
    int cycleLimitSeconds = 0;   // 0: the default bound of one cycle
    OperatorOptions operatorOptions;
    QString error; // not empty: the arguments were not understood
};

// `arguments` without the program name.
CommandLine ParseCommandLine(const QStringList &arguments);
QString UsageText();
QString VersionText();
