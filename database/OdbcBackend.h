#pragma once

#include "DbConnection.h"

#include <QSqlDatabase>
#include <QString>

// The ODBC backend over QODBC: the production path to SQL Server (unixODBC
// with FreeTDS, or Microsoft's driver). Statements go as the system wrote
// them. SQL Server allows one active result set per connection, so every
// query is read to its end and finished before anything else runs.
namespace OdbcBackend {

// Opens with a 10 second login timeout. On SQL Server the session is then
// pinned to US English month/day/year, the form the system writes dates in.
bool Open(QSqlDatabase &db, const QString &connectionName, const QString &odbcConnectionString, QString *error);

void Execute(QSqlDatabase &db, const QString &sql);
QuerySnapshot Query(QSqlDatabase &db, const QString &sql);

} // namespace OdbcBackend
