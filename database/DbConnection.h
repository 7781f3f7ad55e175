#pragma once

#include "database/CycleLock.h"
#include "database/DbError.h"
#include "database/SqliteConnection.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>

// Every row of one query, read at once (see Recordset). Values are Null
// (an invalid QVariant), integers, doubles, text, QDateTime for date columns
// and date results, or bytes.
struct QuerySnapshot
{
    QStringList columns;
    QList<QList<QVariant>> rows;
};

// The rows of one query, read one at a time from a snapshot taken when it
// opened: statements executed meanwhile never change what is read.
class QueryStream
{
public:
    virtual ~QueryStream() = default;
    virtual const QStringList &columns() const = 0;
    // Moves to the next row (the first, at the first call); false after
    // the last one.
    virtual bool next() = 0;
    // A value of the current row, read when asked for: a walk reads a few of
    // a row's columns.
    virtual QVariant value(int column) const = 0;
};

// A stream over rows already read.
std::unique_ptr<QueryStream> SnapshotStream(QuerySnapshot snapshot);

// The one connection to the host database. Opened and closed around each unit
// of work. The connection string picks the backend:
//  - "Driver=..." / "DSN=..."             -> QODBC, text passed unchanged
//  - ADO/OLE DB for SQL Server            -> translated to ODBC keywords
//  - "Provider=SQLite;Data Source=FILE"   -> embedded SQLite, running the
//                                            SQL Server dialect via a rewrite;
//                                            a missing FILE fails, never created
//  - "Provider=MSDASQL;..."               -> the rest as an ODBC string
//  - any other Provider                   -> fails ("Provider cannot be found")
//  - anything else                        -> the ODBC driver manager, which
//                                            says in its own words what is wrong
// Every statement is issued one at a time, without transactions, unless a
// caller brackets several with BeginTransaction/Commit.
class DbConnection
{
public:
    enum class Backend { None, Odbc, Sqlite };

    DbConnection();
    ~DbConnection();
    DbConnection(const DbConnection &) = delete;
    DbConnection &operator=(const DbConnection &) = delete;

    // Closes an open connection first, then opens with a 10 second login
    // timeout. On failure returns false and sets *error to what failed and
    // why (password masked); the connection is then closed.
    bool Open(const QString &connectionString, QString *error = nullptr);
    // Never reports anything; closing a closed connection is silent. Gives
    // the cycle lock back first.
    void Close();
    bool IsOpen() const;
    Backend backend() const { return m_backend; }

    // Runs one statement that changes data. Throws DbError with the
    // database's own message.
    void Execute(const QString &sql);
    // Runs statements that stand together, in order: as one text (one round
    // trip) where the database runs a batch of statements (SQL Server, the
    // embedded backend), else one at a time (other ODBC drivers refuse a
    // second statement).
    void ExecuteAll(const QStringList &statements);

    // Runs one query and reads all of its rows, finishing the statement
    // before returning. Throws DbError with the database's own message.
    QuerySnapshot Query(const QString &sql);
    // Runs one query whose rows are read as they are walked, so memory holds
    // one row, not the result. On the embedded backend a reader connection
    // of its own keeps the snapshot (WAL mode: the writes of this connection
    // stay invisible to it). Where that cannot be (ODBC: SQL Server allows
    // one active result set per connection; rows of an open transaction or
    // a preview, which another connection cannot see) the rows are read at
    // once, as Query does. Throws DbError as Query does.
    std::unique_ptr<QueryStream> Stream(const QString &sql);

    // One transaction around several statements (used where a group of rows
    // must stand or fall together). On SQLite takes the write lock up front;
    // on SQL Server it is one statement each for begin and commit, under the
    // statement time-out.
    void BeginTransaction();
    void Commit();
    void Rollback() noexcept;

    // The database-wide lock of one task cycle (see CycleLock.h), held until
    // the connection closes. Taking it again while held is Taken at once.
    CycleLockResult TakeCycleLock(int waitMs, QString *reason = nullptr);
    bool HoldsCycleLock() const;

    // Copies the embedded database's write-ahead log into it as far as no
    // reader needs it, without waiting, so that the log starts again from
    // its beginning at the next write: between the stretches of a cycle.
    // Nothing elsewhere (ODBC, another journal mode, inside a transaction).
    void CheckpointLog() noexcept;

    // A preview: nothing this connection does may reach the database. From
    // the next Open on, everything runs inside one transaction that is never
    // committed; Open and Close keep that connection (and its transaction)
    // until DiscardHeldChanges rolls it back and closes it. Transactions begun
    // meanwhile become savepoints inside it.
    void HoldChanges() { m_holdChanges = true; }
    bool HoldsChanges() const { return m_holdChanges; }
    void DiscardHeldChanges() noexcept;

    // The SQL text the backend actually runs (the embedded backend rewrites
    // the SQL Server dialect; ODBC gets the text unchanged).
    QString backendSql(const QString &sql) const;

    // Statements, queries and transaction statements (begin, commit,
    // rollback) sent since the counter was last reset: the round trips a
    // server across a network would see. Read by the benchmarks.
    qint64 statementCount() const { return m_statementCount; }
    void resetStatementCount() { m_statementCount = 0; }
    void countStatement() { ++m_statementCount; }

    // For the query snapshot (Recordset) and backend-specific helpers.
    QSqlDatabase &database() { return m_db; }
    QString connectionName() const { return m_name; }

private:
    bool openSqlite(const QString &connectionString, QString *error);
    bool openOdbc(const QString &odbcConnectionString, QString *error);
    void requireOpen() const;

    void releaseCycleLock() noexcept;
    bool beginHeldChanges(QString *error);
    void executeNative(const QStringList &statements);
    void executeSqlite(const QString &nativeSql);

    QString m_name;
    QSqlDatabase m_db;         // the ODBC backend's connection
    SqliteConnection m_sqlite; // the embedded backend's own connection
    Backend m_backend = Backend::None;
    QString m_sqliteFile;     // the embedded backend's database file
    bool m_sqliteWal = false; // its journal is a write-ahead log
    EmbeddedCycleLock m_embeddedLock;
    bool m_serverLockHeld = false; // the SQL Server application lock
    qint64 m_statementCount = 0;
    bool m_holdChanges = false;
    bool m_heldOpen = false; // the outer transaction is open
    int m_heldDepth = 0;     // savepoints open inside it
};

// The shared connection object, created on first use, living until the end.
DbConnection &DatabaseConnection();

// The directory against which a relative "Data Source" of the embedded
// backend is resolved: start-up sets it to the directory of config.txt.
// Until set, the current directory.
void SetConnectionBaseDirectory(const QString &directory);
QString ConnectionBaseDirectory();
