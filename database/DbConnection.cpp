#include "database/DbConnection.h"

#include "database/AdoToOdbc.h"
#include "database/ConnectionString.h"
#include "database/HeldChanges.h"
#include "database/OdbcBackend.h"
#include "database/SqliteBackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlDriver>
#include <QSqlError>

#include <atomic>

namespace {

QString &baseDirectory()
{
    static QString directory;
    return directory;
}

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("velmar-db-%1").arg(++counter);
}

void setError(QString *error, const QString &message)
{
    if (error != nullptr)
        *error = MaskPasswords(message);
}

} // namespace

void SetConnectionBaseDirectory(const QString &directory)
{
    baseDirectory() = directory;
}

QString ConnectionBaseDirectory()
{
    return baseDirectory().isEmpty() ? QDir::currentPath() : baseDirectory();
}

DbConnection::DbConnection() : m_name(nextConnectionName()) {}

DbConnection::~DbConnection()
{
    DiscardHeldChanges();
}

bool DbConnection::Open(const QString &connectionString, QString *error)
{
    if (m_heldOpen && IsOpen())
        return true; // a preview keeps its one connection and transaction
    Close();
    const QString text = connectionString.trimmed();
    if (text.isEmpty()) {
        setError(error, QStringLiteral("The connection string is empty."));
        return false;
    }

    const QList<ConnectionStringItem> items = ParseConnectionString(text);
    if (HasConnectionStringKey(items, QStringLiteral("Provider"))) {
        const QString provider = ConnectionStringValue(items, QStringLiteral("Provider")).trimmed();
        if (provider.compare(QLatin1String("SQLite"), Qt::CaseInsensitive) == 0)
            return openSqlite(text, error);
        if (IsSqlServerOleDbProvider(provider)) {
            QString reason;
            const QString odbc = AdoToOdbcConnectionString(text, InstalledOdbcDrivers(), &reason);
            if (odbc.isEmpty()) {
                setError(error, reason);
                return false;
            }
            return openOdbc(odbc, error);
        }
        if (provider.startsWith(QLatin1String("MSDASQL"), Qt::CaseInsensitive)) {
            // The OLE DB provider for ODBC: the rest of the string is ODBC.
            // Items go on as written: a braced value may hold ";".
            return openOdbc(JoinRawItems(items, {QStringLiteral("Provider")}), error);
        }
        setError(error,
                 QStringLiteral("Provider cannot be found: \"%1\". Supported are SQLite "
                                "(Provider=SQLite;Data Source=FILE), the SQL Server providers "
                                "(SQLOLEDB, SQLNCLI11, MSOLEDBSQL) and ODBC strings (Driver=... or DSN=...).")
                     .arg(provider));
        return false;
    }
    // Everything else goes to the ODBC driver manager as it stands; what it
    // cannot use, it reports in its own words.
    return openOdbc(text, error);
}

bool DbConnection::openSqlite(const QString &connectionString, QString *error)
{
    const QList<ConnectionStringItem> items = ParseConnectionString(connectionString);
    QString dataSource = ConnectionStringValue(items, QStringLiteral("Data Source"));
    if (dataSource.isNull())
        dataSource = ConnectionStringValue(items, QStringLiteral("Database"));
    if (dataSource.trimmed().isEmpty()) {
        setError(error, QStringLiteral("The connection string names no database file (Data Source=FILE)."));
        return false;
    }
    const QString file = SqliteBackend::ResolveDataSource(dataSource, ConnectionBaseDirectory());
    QString reason;
    if (!m_sqlite.Open(file, &reason)) {
        Close();
        setError(error, reason);
        return false;
    }
    m_backend = Backend::Sqlite;
    m_sqliteFile = file;
    try {
        const QuerySnapshot mode = SqliteBackend::Query(m_sqlite, QStringLiteral("PRAGMA journal_mode"));
        m_sqliteWal = !mode.rows.isEmpty() && !mode.rows.first().isEmpty() &&
            mode.rows.first().first().toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    } catch (const DbError &e) {
        Close();
        setError(error, e.message());
        return false;
    }
    return beginHeldChanges(error);
}

bool DbConnection::openOdbc(const QString &odbcConnectionString, QString *error)
{
    QString reason;
    if (!OdbcBackend::Open(m_db, m_name, odbcConnectionString, &reason)) {
        Close();
        setError(error, reason);
        return false;
    }
    m_backend = Backend::Odbc;
    return beginHeldChanges(error);
}

bool DbConnection::beginHeldChanges(QString *error)
{
    if (!m_holdChanges)
        return true;
    try {
        executeNative(HeldChangesStatements(m_backend == Backend::Sqlite, 0).begin);
    } catch (const DbError &e) {
        Close();
        setError(error, QStringLiteral("The preview transaction could not begin: %1").arg(e.message()));
        return false;
    }
    m_heldOpen = true;
    m_heldDepth = 0;
    return true;
}

void DbConnection::executeNative(const QStringList &statements)
{
    for (const QString &sql : statements) {
        countStatement();
        if (m_backend == Backend::Sqlite)
            SqliteBackend::Execute(m_sqlite, sql);
        else
            OdbcBackend::Execute(m_db, sql);
    }
}

void DbConnection::DiscardHeldChanges() noexcept
{
    if (m_heldOpen && IsOpen()) {
        try {
            executeNative({HeldChangesStatements(m_backend == Backend::Sqlite, 0).discard});
        } catch (...) {
            // Closing without a commit discards the transaction as well.
        }
    }
    m_heldOpen = false;
    m_holdChanges = false;
    Close();
}

void DbConnection::Close()
{
    if (m_heldOpen && IsOpen())
        return; // the preview's connection ends with DiscardHeldChanges
    m_heldOpen = false;
    // The file is whole, and its log copied in, before the cycle lock goes:
    // the next server may reach the file by another path, with a log of its own.
    if (m_sqliteWal)
        m_sqlite.CheckpointOnClose();
    m_sqliteWal = false;
    m_sqlite.Close();
    releaseCycleLock();
    m_sqliteFile.clear();
    if (m_db.isValid() && m_db.isOpen())
        m_db.close();
    m_backend = Backend::None;
    const bool registered = m_db.isValid();
    m_db = QSqlDatabase();
    if (registered && QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
}

bool DbConnection::IsOpen() const
{
    if (m_backend == Backend::Sqlite)
        return m_sqlite.IsOpen();
    return m_backend != Backend::None && m_db.isOpen();
}

void DbConnection::requireOpen() const
{
    if (!IsOpen())
        throw DbError(QStringLiteral("Operation is not allowed when the connection is closed."));
}

CycleLockResult DbConnection::TakeCycleLock(int waitMs, QString *reason)
{
    requireOpen();
    if (HoldsCycleLock())
        return CycleLockResult::Taken;
    if (m_backend == Backend::Sqlite) {
        const CycleLockResult taken =
            m_embeddedLock.Take(EmbeddedCycleLockPath(m_sqliteFile), waitMs, reason, m_sqliteFile);
        if (taken != CycleLockResult::Taken || m_holdChanges)
            return taken;
        // What this connection read before the lock (another server's cycle
        // may have ended since) is read again, and a log a failed cycle left
        // behind is copied in: the cycle starts from the file as it is.
        QString reopenFailure;
        m_sqlite.Close();
        if (!m_sqlite.Open(m_sqliteFile, &reopenFailure)) {
            releaseCycleLock();
            if (reason != nullptr)
                *reason = reopenFailure;
            return CycleLockResult::Failed;
        }
        if (m_sqliteWal)
            m_sqlite.CheckpointOnClose();
        return taken;
    }

    QString failure;
    try {
        const QuerySnapshot result = OdbcBackend::Query(m_db, SqlServerCycleLockSql(waitMs));
        bool number = false;
        const int granted =
            result.rows.isEmpty() || result.rows.first().isEmpty() ? -999 : result.rows.first().first().toInt(&number);
        if (number && granted >= 0) {
            m_serverLockHeld = true;
            return CycleLockResult::Taken;
        }
        if (number && granted == -1)
            return CycleLockResult::HeldElsewhere;
        failure = QStringLiteral("sp_getapplock refused the cycle lock (result %1)")
                      .arg(number ? QString::number(granted) : QStringLiteral("missing"));
    } catch (const DbError &e) {
        failure = QStringLiteral("sp_getapplock failed: %1").arg(e.message());
    }
    if (reason != nullptr)
        *reason = failure;
    return CycleLockResult::Failed;
}

bool DbConnection::HoldsCycleLock() const
{
    return m_serverLockHeld || m_embeddedLock.IsHeld();
}

void DbConnection::releaseCycleLock() noexcept
{
    m_embeddedLock.Release();
    if (!m_serverLockHeld)
        return;
    m_serverLockHeld = false;
    // Closing the session releases it too; this covers a pooled session.
    try {
        if (m_db.isValid() && m_db.isOpen())
            OdbcBackend::Execute(m_db, SqlServerCycleUnlockSql());
    } catch (...) {
        // The session is gone, and the lock with it.
    }
}

void DbConnection::CheckpointLog() noexcept
{
    if (m_backend == Backend::Sqlite && m_sqliteWal && !m_holdChanges && m_sqlite.IsOpen())
        m_sqlite.CheckpointPassive();
}

QString DbConnection::backendSql(const QString &sql) const
{
    return m_backend == Backend::Sqlite ? SqliteBackend::NativeSql(m_sqlite, sql) : sql;
}

void DbConnection::Execute(const QString &sql)
{
    requireOpen();
    if (m_backend == Backend::Sqlite) {
        executeSqlite(SqliteBackend::NativeSql(m_sqlite, sql));
        return;
    }
    countStatement();
    OdbcBackend::Execute(m_db, sql);
}

void DbConnection::executeSqlite(const QString &nativeSql)
{
    // Should the database have ended the preview's transaction itself, the
    // next change would be committed at once: refuse it.
    if (m_heldOpen && !SqliteBackend::InTransaction(m_sqlite))
        throw DbError(QStringLiteral("The preview transaction has ended; nothing more is executed."));
    countStatement();
    SqliteBackend::Execute(m_sqlite, nativeSql);
}

void DbConnection::ExecuteAll(const QStringList &statements)
{
    requireOpen();
    if (m_backend == Backend::Sqlite) {
        // Each statement is rewritten on its own: how the dialect reads a
        // date literal depends on the tables of its own statement only.
        QStringList native;
        native.reserve(statements.size());
        for (const QString &statement : statements)
            native.append(SqliteBackend::NativeSql(m_sqlite, statement));
        executeSqlite(native.join(QStringLiteral(";\n")));
        return;
    }
    if (m_db.driver()->dbmsType() == QSqlDriver::MSSqlServer) {
        Execute(statements.join(QStringLiteral(";\n")));
        return;
    }
    for (const QString &statement : statements)
        Execute(statement);
}

QuerySnapshot DbConnection::Query(const QString &sql)
{
    requireOpen();
    countStatement();
    if (m_backend == Backend::Sqlite)
        return SqliteBackend::Query(m_sqlite, SqliteBackend::NativeSql(m_sqlite, sql));
    return OdbcBackend::Query(m_db, sql);
}

std::unique_ptr<QueryStream> DbConnection::Stream(const QString &sql)
{
    requireOpen();
    if (m_backend == Backend::Sqlite && m_sqliteWal && !m_holdChanges && !SqliteBackend::InTransaction(m_sqlite)) {
        countStatement();
        return SqliteBackend::Stream(m_sqliteFile, SqliteBackend::NativeSql(m_sqlite, sql));
    }
    return SnapshotStream(Query(sql));
}

namespace {

class SnapshotRows final : public QueryStream
{
public:
    explicit SnapshotRows(QuerySnapshot snapshot) : m_snapshot(std::move(snapshot)) {}
    const QStringList &columns() const override { return m_snapshot.columns; }
    bool next() override { return ++m_current < m_snapshot.rows.size(); }
    QVariant value(int column) const override { return m_snapshot.rows.at(m_current).at(column); }

private:
    QuerySnapshot m_snapshot;
    qsizetype m_current = -1;
};

} // namespace

std::unique_ptr<QueryStream> SnapshotStream(QuerySnapshot snapshot)
{
    return std::make_unique<SnapshotRows>(std::move(snapshot));
}

void DbConnection::BeginTransaction()
{
    requireOpen();
    if (m_heldOpen) {
        executeNative(HeldChangesStatements(m_backend == Backend::Sqlite, ++m_heldDepth).savepoint);
        return;
    }
    countStatement();
    if (m_backend == Backend::Sqlite) {
        // Take the write lock now: a deferred BEGIN could fail half-way
        // through the group when another writer got there first.
        SqliteBackend::Execute(m_sqlite, QStringLiteral("BEGIN IMMEDIATE"));
        return;
    }
    if (m_db.driver()->dbmsType() == QSqlDriver::MSSqlServer) {
        OdbcBackend::Execute(m_db, OdbcBackend::TransactionSql().begin);
        return;
    }
    if (!m_db.transaction())
        throw DbError(MaskPasswords(m_db.lastError().text()));
}

void DbConnection::Commit()
{
    requireOpen();
    if (m_heldOpen) {
        if (m_heldDepth > 0)
            executeNative(HeldChangesStatements(m_backend == Backend::Sqlite, m_heldDepth--).release);
        return;
    }
    countStatement();
    if (m_backend == Backend::Sqlite) {
        SqliteBackend::Execute(m_sqlite, QStringLiteral("COMMIT"));
        return;
    }
    if (m_db.driver()->dbmsType() == QSqlDriver::MSSqlServer) {
        OdbcBackend::Execute(m_db, OdbcBackend::TransactionSql().commit);
        return;
    }
    if (!m_db.commit())
        throw DbError(MaskPasswords(m_db.lastError().text()));
}

void DbConnection::Rollback() noexcept
{
    if (!IsOpen())
        return;
    if (m_heldOpen) {
        // Only the nested part: the outer transaction lasts to the discard.
        if (m_heldDepth > 0) {
            try {
                executeNative(HeldChangesStatements(m_backend == Backend::Sqlite, m_heldDepth).rollBackTo);
            } catch (...) {
                // The savepoint is gone with a failed statement; nothing to undo.
            }
            --m_heldDepth;
        }
        return;
    }
    countStatement();
    try {
        if (m_backend == Backend::Sqlite)
            SqliteBackend::Execute(m_sqlite, QStringLiteral("ROLLBACK"));
        else if (m_db.driver()->dbmsType() == QSqlDriver::MSSqlServer)
            OdbcBackend::Execute(m_db, OdbcBackend::TransactionSql().rollback);
        else
            m_db.rollback();
    } catch (...) {
        // Nothing to undo (no transaction open, or it already ended).
    }
}

DbConnection &DatabaseConnection()
{
    // Never destroyed: Qt's registry of connections may be gone by the time
    // function statics are; the connection is closed when the application
    // object ends instead.
    static DbConnection *connection = [] {
        auto *c = new DbConnection;
        qAddPostRoutine([] { DatabaseConnection().DiscardHeldChanges(); });
        return c;
    }();
    return *connection;
}
