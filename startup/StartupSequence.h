#pragma once

#include <QString>

// The part of start-up that every front end shares, in this order: read the
// configuration file, open the database, refuse a second copy, load the
// company settings, close the database. Each front end then starts its own
// view of the task cycle (the window, or the headless poller).
//
// Messages go through ShowMessage; the connection failure is reported by the
// failure handler the front end installed for OpenDatabase.
enum class StartupOutcome {
    Ready,            // settings loaded, connection closed
    ConnectionFailed, // reported already; the desktop keeps the settings window open
    Ended,            // reported already; end the program with exitCode
};

struct StartupResult
{
    StartupOutcome outcome = StartupOutcome::Ended;
    int exitCode = 0;
};

// Exit statuses of the program.
enum ExitStatus {
    ExitOk = 0,
    ExitFailure = 1,        // a cycle or start-up failed (connection, settings)
    ExitUsage = 2,          // unknown option
    ExitAlreadyRunning = 3, // another copy holds the instance lock
};

StartupResult RunStartupSequence();

// The connection failure without windows: the message on standard error (via
// ShowMessage) with the configuration file that was read and the reason.
// Installed as the OpenDatabase failure handler by --headless and --once.
void ReportConnectionFailureHeadless(const QString &reason);

// The message texts and titles of start-up.
QString AlreadyRunningText();    // "This application is already running."
QString AlreadyRunningTitle();   // "Application Already Running"
QString ConnectionFailedText();  // "Unable to connect to the database, ..."
QString ConnectionFailedTitle(); // "Unable to Connect"
QString CompanySettingsFailedTitle();
QString DatabaseLevelTitle(); // a SQL Server database below compatibility level 110
