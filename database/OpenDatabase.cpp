#include "database/OpenDatabase.h"

#include "database/DbConnection.h"

QString DBConnectionString;

namespace {

QString &lastError()
{
    static QString text;
    return text;
}

OpenFailureHandler &failureHandler()
{
    static OpenFailureHandler handler;
    return handler;
}

} // namespace

bool OpenDatabase()
{
    DbConnection &connection = DatabaseConnection();
    // The connection string may change only while closed (a test in the
    // settings window may have left it open with another string).
    connection.Close();
    QString reason;
    if (connection.Open(DBConnectionString, &reason)) {
        lastError().clear();
        return true;
    }
    lastError() = reason;
    if (failureHandler())
        failureHandler()(reason);
    return false;
}

void CloseDatabase()
{
    DatabaseConnection().Close();
}

QString LastOpenDatabaseError()
{
    return lastError();
}

void SetOpenDatabaseFailureHandler(OpenFailureHandler handler)
{
    failureHandler() = std::move(handler);
}
