#pragma once

#include "database/DbConnection.h"
#include "database/SqliteConnection.h"

#include <QSqlDatabase>
#include <QString>

// The embedded backend: its own SQLite connection, opened with the SQLite
// library the program links (never the handle of Qt's driver, which may be
// another SQLite compiled into Qt), so that errors carry SQLite's own message
// and the declared column types are known when rows are read. Text given
// here is native SQLite SQL: the SQL Server dialect is rewritten before it
// arrives.
namespace SqliteBackend {

// The absolute path of a "Data Source" value: relative to baseDirectory.
QString ResolveDataSource(const QString &dataSource, const QString &baseDirectory);

// The SQL Server dialect as SQLite SQL for this connection: date-shaped
// literals become ISO dates where they meet a date column of its database
// (see RewriteSqlServerDialect). Throws DbError when not open.
QString NativeSql(const SqliteConnection &connection, const QString &sql);

// Runs every statement of the text in order; throws DbError.
void Execute(const SqliteConnection &connection, const QString &nativeSql);
// False when the connection is back in autocommit: no transaction is open
// (SQLite ends one by itself after a full disk, an I/O error or lack of memory).
bool InTransaction(const SqliteConnection &connection);
// Runs one query and reads all rows; throws DbError.
QuerySnapshot Query(const SqliteConnection &connection, const QString &nativeSql);
// Runs one query on a reader connection of its own to the file; its
// snapshot is taken before this returns. Throws DbError.
std::unique_ptr<QueryStream> Stream(const QString &file, const QString &nativeSql);

// The same on a connection of Qt's SQLite driver, for tools and test
// fixtures that read the file their own way; only where Qt's driver uses
// the SQLite library this program links.
void Execute(QSqlDatabase &db, const QString &nativeSql);

} // namespace SqliteBackend
