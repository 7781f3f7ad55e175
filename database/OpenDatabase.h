#pragma once

#include <QString>

#include <functional>

// Opens DatabaseConnection() with DBConnectionString. On failure calls the
// installed failure handler (the windows show the "Unable to Connect" message
// and the settings window; headless prints to standard error) and returns
// false. The reason is kept for logs: LastOpenDatabaseError().
bool OpenDatabase();
// Closes DatabaseConnection(); every error ignored.
void CloseDatabase();

QString LastOpenDatabaseError();

using OpenFailureHandler = std::function<void(const QString &reason)>;
void SetOpenDatabaseFailureHandler(OpenFailureHandler handler);

// The connection string read from config.txt (item 3); lives for the run.
extern QString DBConnectionString;
