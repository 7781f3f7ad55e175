#pragma once

#include "DbConnection.h"

#include <QSqlDatabase>
#include <QString>

// The embedded backend over a QSQLITE connection, driven through the SQLite
// handle of the driver so that errors carry SQLite's own message and the
// declared column types are known when rows are read. Text given here is
// native SQLite SQL: the SQL Server dialect is rewritten before it arrives.
namespace SqliteBackend {

// Opens an existing database file for reading and writing (never creates
// one) under the connection name, in WAL mode with synchronous=NORMAL and a
// busy timeout, with the dialect's functions registered. On failure returns
// false with *error saying what failed; the connection is then closed.
// keepJournalMode: a preview leaves the file exactly as it is (no switch to WAL).
bool Open(QSqlDatabase &db, const QString &connectionName, const QString &file, QString *error,
          bool keepJournalMode = false);

// The absolute path of a "Data Source" value: relative to baseDirectory.
QString ResolveDataSource(const QString &dataSource, const QString &baseDirectory);

// The SQL Server dialect as SQLite SQL for this connection: date-shaped
// literals become ISO dates where they meet a date column of its database
// (see RewriteSqlServerDialect). Throws DbError when not open.
QString NativeSql(const QSqlDatabase &db, const QString &sql);

// Registers DATEADD and GETDATE on the connection.
void RegisterFunctions(QSqlDatabase &db);

// Runs every statement of the text in order; throws DbError.
void Execute(QSqlDatabase &db, const QString &nativeSql);
// False when the connection is back in autocommit: no transaction is open
// (SQLite ends one by itself after a full disk, an I/O error or lack of memory).
bool InTransaction(const QSqlDatabase &db);
// Runs one query and reads all rows; throws DbError.
QuerySnapshot Query(QSqlDatabase &db, const QString &nativeSql);

} // namespace SqliteBackend
