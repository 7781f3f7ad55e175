#pragma once

#include "database/DbConnection.h"

#include <QSqlDatabase>
#include <QString>

// The ODBC backend: the production path to SQL Server (unixODBC with
// FreeTDS, or Microsoft's driver). QODBC opens and closes the connection;
// statements and result rows go through the ODBC API on QODBC's own handle,
// because Qt's driver reads long and wide texts from FreeTDS as empty text
// without an error, and sets no statement time-out. Statements go as the
// system wrote them. SQL Server allows one active result set per connection,
// so every query is read to its end before anything else runs.
namespace OdbcBackend {

constexpr int DefaultStatementTimeoutSeconds = 30;

// What a SQL Server session is told after the login, in one batch.
QString SessionSettingsSql();

// A transaction on SQL Server: one statement each, run as statements are
// (with the statement time-out).
struct SqlServerTransactionSql
{
    QString begin;
    QString commit;
    QString rollback;
};
SqlServerTransactionSql TransactionSql();

// Opens with a 10 second login time-out. "Command Timeout=N" in the string
// sets the statement time-out in seconds (0: none) and is not passed to the
// driver. The string reaches the driver manager as written, except for the
// encryption keywords the loaded driver needs told otherwise (see
// DriverSettings.h). On SQL Server the session is then pinned to US English
// month/day/year, the form the system writes dates in.
bool Open(QSqlDatabase &db, const QString &connectionName, const QString &odbcConnectionString, QString *error);

// A statement that times out or loses the server closes the connection
// (the server then drops the session and every lock it held): what follows
// fails at once instead of waiting out its own time-out.
void Execute(QSqlDatabase &db, const QString &sql);
QuerySnapshot Query(QSqlDatabase &db, const QString &sql);

} // namespace OdbcBackend
