#include "SqliteBackend.h"

#include "CycleLock.h"
#include "DateValues.h"
#include "DbError.h"
#include "SqlServerDialect.h"
#include "SqliteDateColumns.h"
#include "SqliteFunctions.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

namespace {

constexpr int BusyTimeoutMs = 5000;

sqlite3 *handleOf(const QSqlDatabase &db)
{
    if (!db.isOpen() || db.driver() == nullptr)
        throw DbError(QStringLiteral("The database connection is not open."));
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        throw DbError(QStringLiteral("The SQLite driver gives no connection handle."));
    sqlite3 *h = *static_cast<sqlite3 *const *>(handle.constData());
    if (h == nullptr)
        throw DbError(QStringLiteral("The SQLite connection handle is empty."));
    return h;
}

// The embedded schema names each CHECK constraint after the error SQL Server
// gives for the same value ("String or binary data would be truncated..."):
// that name alone is the message.
sqlite3 *handleOf(const SqliteConnection &connection)
{
    if (!connection.IsOpen())
        throw DbError(QStringLiteral("The database connection is not open."));
    return connection.handle();
}

QString sqliteMessage(sqlite3 *h)
{
    const QString message = QString::fromUtf8(sqlite3_errmsg(h));
    static const QLatin1String checkFailed("CHECK constraint failed: ");
    return message.startsWith(checkFailed) ? message.mid(checkFailed.size()) : message;
}

// True when the text after the first statement holds another statement
// (not only blanks, ";" or comments).
bool holdsAnotherStatement(sqlite3 *h, const char *tail)
{
    while (tail != nullptr && *tail != '\0') {
        SqliteStatement next;
        const char *rest = nullptr;
        if (!next.Prepare(h, tail, -1, &rest))
            return true;
        if (next.get() != nullptr)
            return true;
        if (rest == tail)
            break;
        tail = rest;
    }
    return false;
}

// What a column's text means, from its declared type (fixed for a statement).
enum class ColumnKind { Expression, Date, Other };

ColumnKind columnKind(sqlite3_stmt *stmt, int column)
{
    const char *declared = sqlite3_column_decltype(stmt, column);
    if (declared == nullptr)
        return ColumnKind::Expression;
    return IsDateTypeName(QString::fromUtf8(declared)) ? ColumnKind::Date : ColumnKind::Other;
}

QVariant columnValue(sqlite3_stmt *stmt, int column, ColumnKind kind)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, column));
    case SQLITE_BLOB: {
        const void *data = sqlite3_column_blob(stmt, column);
        const int bytes = sqlite3_column_bytes(stmt, column);
        return QVariant(QByteArray(static_cast<const char *>(data), bytes));
    }
    default: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
        const int bytes = sqlite3_column_bytes(stmt, column);
        DateFields date;
        switch (kind) {
        case ColumnKind::Date: {
            // A date column: its ISO text becomes a date-time; text that is
            // not a date stays as it was stored.
            if (ParseIsoDateFields(text, bytes, &date))
                return QVariant(NaiveDateTime(date));
            const QString value = QString::fromUtf8(text, bytes);
            if (ParseStoredDateFields(value, &date))
                return QVariant(NaiveDateTime(date));
            return QVariant(value);
        }
        case ColumnKind::Other:
            return QVariant(QString::fromUtf8(text, bytes));
        case ColumnKind::Expression:
            break;
        }
        // An expression (DATEADD, GETDATE, ISNULL of a date...): exactly the
        // full stored date-time form reads as a date-time.
        const QString value = QString::fromUtf8(text, bytes);
        if (IsFullIsoDateTime(value) && ParseIsoDateFields(text, bytes, &date))
            return QVariant(NaiveDateTime(date));
        return QVariant(value);
    }
    }
}

} // namespace

namespace SqliteBackend {

QString ResolveDataSource(const QString &dataSource, const QString &baseDirectory)
{
    const QString file = QDir::fromNativeSeparators(dataSource.trimmed());
    const QDir base(baseDirectory.isEmpty() ? QDir::currentPath() : baseDirectory);
    return QDir::cleanPath(base.absoluteFilePath(file));
}

} // namespace SqliteBackend

bool SqliteConnection::Open(const QString &file, QString *error, bool keepJournalMode)
{
    Close();
    auto fail = [&](const QString &message) {
        Close();
        if (error != nullptr)
            *error = message;
        return false;
    };
    const QFileInfo info(file);
    if (!info.exists())
        return fail(QStringLiteral("Database file not found: %1").arg(QDir::toNativeSeparators(file)));
    if (!info.isFile())
        return fail(QStringLiteral("Database file is not a file: %1").arg(QDir::toNativeSeparators(file)));

    // Without SQLITE_OPEN_CREATE: a file that vanished since the check above
    // is an error, never a new empty database.
    const QByteArray path = QDir::toNativeSeparators(info.absoluteFilePath()).toUtf8();
    if (sqlite3_open_v2(path.constData(), &m_handle, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const QString reason = m_handle != nullptr ? sqliteMessage(m_handle)
                                                   : QStringLiteral("the file cannot be opened for reading and writing");
        return fail(QStringLiteral("Cannot open database file %1: %2").arg(QDir::toNativeSeparators(file), reason));
    }
    try {
        sqlite3_busy_timeout(m_handle, LockWaitMs(BusyTimeoutMs));
        // The first read of the file: a file that is not a database fails
        // here, not at the first query of the task cycle.
        const QuerySnapshot mode = SqliteBackend::Query(*this, keepJournalMode ? QStringLiteral("PRAGMA journal_mode")
                                                                               : QStringLiteral("PRAGMA journal_mode=WAL"));
        Q_UNUSED(mode);
        SqliteBackend::Execute(*this, QStringLiteral("PRAGMA synchronous=NORMAL"));
        const QString failed = RegisterSqlServerFunctions(m_handle);
        if (!failed.isEmpty())
            throw DbError(failed);
    } catch (const DbError &e) {
        return fail(QStringLiteral("Cannot use database file %1: %2").arg(QDir::toNativeSeparators(file), e.message()));
    }
    return true;
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

bool SqliteStatement::Prepare(sqlite3 *handle, const char *sql, int bytes, const char **tail)
{
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    return sqlite3_prepare_v2(handle, sql, bytes, &m_stmt, tail) == SQLITE_OK;
}

void SqliteConnection::Close() noexcept
{
    sqlite3_close_v2(m_handle);
    m_handle = nullptr;
}

namespace SqliteBackend {

bool InTransaction(const SqliteConnection &connection)
{
    return sqlite3_get_autocommit(handleOf(connection)) == 0;
}

QString NativeSql(const SqliteConnection &connection, const QString &sql)
{
    sqlite3 *h = handleOf(connection);
    return RewriteSqlServerDialect(sql, [h] { return CachedDateColumns(h); });
}

namespace {

void execute(sqlite3 *h, const QString &nativeSql)
{
    const QByteArray utf8 = nativeSql.toUtf8();
    const char *next = utf8.constData();
    while (*next != '\0') {
        SqliteStatement stmt;
        const char *tail = nullptr;
        if (!stmt.Prepare(h, next, -1, &tail))
            throw DbError(sqliteMessage(h));
        next = tail;
        if (stmt.get() == nullptr)
            continue;   // whitespace or a comment
        int rc;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE)
            throw DbError(sqliteMessage(h));
    }
}

} // namespace

void Execute(const SqliteConnection &connection, const QString &nativeSql)
{
    execute(handleOf(connection), nativeSql);
}

void Execute(QSqlDatabase &db, const QString &nativeSql)
{
    execute(handleOf(db), nativeSql);
}

QuerySnapshot Query(const SqliteConnection &connection, const QString &nativeSql)
{
    sqlite3 *h = handleOf(connection);
    const QByteArray utf8 = nativeSql.toUtf8();
    SqliteStatement stmt;
    const char *tail = nullptr;
    if (!stmt.Prepare(h, utf8.constData(), -1, &tail))
        throw DbError(sqliteMessage(h));
    if (stmt.get() == nullptr)
        throw DbError(QStringLiteral("The query text holds no statement."));
    if (holdsAnotherStatement(h, tail))
        throw DbError(QStringLiteral("A query must be a single statement."));

    QuerySnapshot snapshot;
    const int columns = sqlite3_column_count(stmt.get());
    QList<ColumnKind> kinds;
    for (int c = 0; c < columns; ++c) {
        snapshot.columns.append(QString::fromUtf8(sqlite3_column_name(stmt.get(), c)));
        kinds.append(columnKind(stmt.get(), c));
    }

    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        QList<QVariant> row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c)
            row.append(columnValue(stmt.get(), c, kinds.at(c)));
        snapshot.rows.append(std::move(row));
    }
    if (rc != SQLITE_DONE)
        throw DbError(sqliteMessage(h));
    return snapshot;
}

} // namespace SqliteBackend
