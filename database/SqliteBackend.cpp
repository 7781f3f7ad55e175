#include "database/SqliteBackend.h"

#include "database/CycleLock.h"
#include "database/DateValues.h"
#include "database/DbError.h"
#include "database/SqlServerDialect.h"
#include "database/SqliteDateColumns.h"
#include "database/SqliteFunctions.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

#include <cctype>
#include <utility>

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
        // full stored date-time form reads as a date-time, and a bare ISO
        // date (DATEADD of a date column) as a date.
        const QString value = QString::fromUtf8(text, bytes);
        if (IsFullIsoDateTime(value) && ParseIsoDateFields(text, bytes, &date))
            return QVariant(NaiveDateTime(date));
        if (bytes == 10 && ParseIsoDateFields(text, bytes, &date))
            return QVariant(QDate(date.year, date.month, date.day));
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

bool SqliteConnection::Open(const QString &file, QString *error)
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
        const QString reason = m_handle != nullptr
            ? sqliteMessage(m_handle)
            : QStringLiteral("the file cannot be opened for reading and writing");
        return fail(QStringLiteral("Cannot open database file %1: %2").arg(QDir::toNativeSeparators(file), reason));
    }
    try {
        sqlite3_busy_timeout(m_handle, LockWaitMs(BusyTimeoutMs));
        // The first read of the file: a file that is not a database fails
        // here, not at the first query of the task cycle. The journal mode
        // stays the file's own: it is a setting of the host's database.
        const QuerySnapshot mode = SqliteBackend::Query(*this, QStringLiteral("PRAGMA journal_mode"));
        if (!mode.rows.isEmpty() && !mode.rows.first().isEmpty() &&
            mode.rows.first().first().toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0) {
            // Safe in WAL mode (a power cut may lose the last commits, never
            // the file); the other modes keep SQLite's full syncing.
            SqliteBackend::Execute(*this, QStringLiteral("PRAGMA synchronous=NORMAL"));
            // A log that grew without end filled a disk once, and kept it full.
            SqliteBackend::Execute(*this, QStringLiteral("PRAGMA wal_autocheckpoint=%1").arg(WalCheckpointPages));
            SqliteBackend::Execute(*this, QStringLiteral("PRAGMA journal_size_limit=%1").arg(WalSizeLimitBytes));
        }
        const QString failed = RegisterSqlServerFunctions(m_handle);
        if (!failed.isEmpty())
            throw DbError(failed);
    } catch (const DbError &e) {
        return fail(QStringLiteral("Cannot use database file %1: %2").arg(QDir::toNativeSeparators(file), e.message()));
    }
    return true;
}

void SqliteConnection::CheckpointOnClose() noexcept
{
    if (m_handle == nullptr || sqlite3_get_autocommit(m_handle) == 0)
        return;
    sqlite3_wal_checkpoint_v2(m_handle, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

void SqliteConnection::CheckpointPassive() noexcept
{
    if (m_handle == nullptr || sqlite3_get_autocommit(m_handle) == 0)
        return;
    sqlite3_wal_checkpoint_v2(m_handle, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
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
    for (sqlite3_stmt *stmt : std::as_const(m_preparedInserts))
        sqlite3_finalize(stmt);
    m_preparedInserts.clear();
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

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

const char *skipSpace(const char *p)
{
    while (isSpace(*p))
        ++p;
    return p;
}

// The keyword at p (any letter case), followed by a blank or "(": past it.
const char *keyword(const char *p, const char *word)
{
    const qsizetype n = qsizetype(qstrlen(word));
    if (qstrnicmp(p, word, n) != 0 || !(isSpace(p[n]) || p[n] == '('))
        return nullptr;
    return p + n;
}

// One value of a VALUES list that a parameter can stand for with the very
// same meaning: a text literal, a whole number, NULL.
struct Literal
{
    enum class Kind { Text, Integer, Null } kind = Kind::Null;
    // A text is read where it stands in the statement; one with doubled
    // quotes is unquoted into `unquoted` instead.
    const char *text = nullptr;
    int textBytes = 0;
    QByteArray unquoted;
    qint64 integer = 0;
};

// "INSERT INTO name (columns) VALUES (literals)" and nothing else: the text
// with "?" for each value (the key of its prepared statement), the values,
// and where the statement ends (past its ";"). False for anything else.
bool parseSimpleInsert(const char *start, QByteArray *key, QList<Literal> *values, const char **end)
{
    const char *p = keyword(skipSpace(start), "INSERT");
    if (p == nullptr || (p = keyword(skipSpace(p), "INTO")) == nullptr)
        return false;
    p = skipSpace(p);
    // The table name and the column list: names, blanks and commas only.
    while (*p != '\0' && *p != '(' && !isSpace(*p)) {
        if (*p == '\'' || *p == '"' || *p == ';')
            return false;
        ++p;
    }
    p = skipSpace(p);
    if (*p != '(')
        return false;
    for (++p; *p != '\0' && *p != ')'; ++p) {
        if (*p == '\'' || *p == '"' || *p == ';' || *p == '(')
            return false;
    }
    if (*p != ')' || (p = keyword(skipSpace(p + 1), "VALUES")) == nullptr)
        return false;
    p = skipSpace(p);
    if (*p != '(')
        return false;
    ++p;
    key->append(start, p - start);
    values->clear();
    for (;;) {
        p = skipSpace(p);
        Literal value;
        if (*p == '\'') {
            value.kind = Literal::Kind::Text;
            const char *first = ++p;
            bool doubled = false;
            for (;; ++p) {
                if (*p == '\0')
                    return false;
                if (*p == '\'') {
                    if (p[1] != '\'')
                        break;
                    doubled = true;
                    ++p;
                }
            }
            if (doubled)
                value.unquoted = QByteArray(first, p - first).replace("''", "'");
            value.text = first;
            value.textBytes = int(p - first);
            ++p;
        } else if (qstrnicmp(p, "NULL", 4) == 0 && !(std::isalnum(static_cast<unsigned char>(p[4])) || p[4] == '_')) {
            p += 4;
        } else {
            const char *digits = *p == '-' ? p + 1 : p;
            const char *q = digits;
            while (*q >= '0' && *q <= '9')
                ++q;
            // Up to 18 digits: always within 64 bits, and nothing that SQLite
            // would read as a real number.
            if (q == digits || q - digits > 18 || *q == '.' || std::isalnum(static_cast<unsigned char>(*q)) ||
                *q == '_')
                return false;
            value.kind = Literal::Kind::Integer;
            value.integer = QByteArray(p, q - p).toLongLong();
            p = q;
        }
        values->append(value);
        p = skipSpace(p);
        if (*p == ',') {
            key->append("?,");
            ++p;
            continue;
        }
        if (*p != ')')
            return false;
        key->append("?)");
        ++p;
        break;
    }
    p = skipSpace(p);
    if (*p == ';')
        p = skipSpace(p + 1);
    else if (*p != '\0')
        return false;
    *end = p;
    return true;
}

// Runs a simple INSERT as a prepared statement kept for its shape: the rows
// of one kind differ only in their values, and preparing an INSERT (with the
// table's triggers and checks) costs more than running it. False when the
// statement has another shape.
bool executeSimpleInsert(sqlite3 *h, QHash<QByteArray, sqlite3_stmt *> &prepared, const char *start, const char **end)
{
    QByteArray key;
    QList<Literal> values;
    if (!parseSimpleInsert(start, &key, &values, end))
        return false;
    sqlite3_stmt *stmt = prepared.value(key);
    if (stmt == nullptr) {
        if (prepared.size() >= 32) {
            for (sqlite3_stmt *old : std::as_const(prepared))
                sqlite3_finalize(old);
            prepared.clear();
        }
        if (sqlite3_prepare_v3(h, key.constData(), int(key.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(stmt);
            return false; // prepared as written instead, which reports the error
        }
        if (sqlite3_bind_parameter_count(stmt) != values.size()) {
            sqlite3_finalize(stmt);
            return false;
        }
        prepared.insert(key, stmt);
    }
    for (int i = 0; i < values.size(); ++i) {
        const Literal &value = values.at(i);
        switch (value.kind) {
        case Literal::Kind::Text:
            // Bound in place: the statement's text and `values` outlive the
            // step, and the bindings are cleared right after it.
            if (value.unquoted.isNull())
                sqlite3_bind_text(stmt, i + 1, value.text, value.textBytes, SQLITE_STATIC);
            else
                sqlite3_bind_text(stmt, i + 1, value.unquoted.constData(), int(value.unquoted.size()), SQLITE_STATIC);
            break;
        case Literal::Kind::Integer:
            sqlite3_bind_int64(stmt, i + 1, value.integer);
            break;
        case Literal::Kind::Null:
            sqlite3_bind_null(stmt, i + 1);
            break;
        }
    }
    const int rc = sqlite3_step(stmt);
    const QString message = rc == SQLITE_DONE ? QString() : sqliteMessage(h);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (rc != SQLITE_DONE)
        throw DbError(message);
    return true;
}

void execute(sqlite3 *h, const QString &nativeSql, QHash<QByteArray, sqlite3_stmt *> *prepared = nullptr)
{
    const QByteArray utf8 = nativeSql.toUtf8();
    const char *next = utf8.constData();
    while (*next != '\0') {
        const char *end = nullptr;
        if (prepared != nullptr && executeSimpleInsert(h, *prepared, next, &end)) {
            next = end;
            continue;
        }
        SqliteStatement stmt;
        const char *tail = nullptr;
        if (!stmt.Prepare(h, next, -1, &tail))
            throw DbError(sqliteMessage(h));
        next = tail;
        if (stmt.get() == nullptr)
            continue; // whitespace or a comment
        int rc;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {}
        if (rc != SQLITE_DONE)
            throw DbError(sqliteMessage(h));
    }
}

} // namespace

void Execute(const SqliteConnection &connection, const QString &nativeSql)
{
    execute(handleOf(connection), nativeSql, &connection.preparedInserts());
}

void Execute(QSqlDatabase &db, const QString &nativeSql)
{
    execute(handleOf(db), nativeSql);
}

namespace {

// One prepared query and what its columns are.
struct PreparedQuery
{
    SqliteStatement stmt;
    QStringList columns;
    QList<ColumnKind> kinds;
};

void prepareQuery(sqlite3 *h, const QString &nativeSql, PreparedQuery *query)
{
    const QByteArray utf8 = nativeSql.toUtf8();
    const char *tail = nullptr;
    if (!query->stmt.Prepare(h, utf8.constData(), -1, &tail))
        throw DbError(sqliteMessage(h));
    if (query->stmt.get() == nullptr)
        throw DbError(QStringLiteral("The query text holds no statement."));
    if (holdsAnotherStatement(h, tail))
        throw DbError(QStringLiteral("A query must be a single statement."));
    const int columns = sqlite3_column_count(query->stmt.get());
    for (int c = 0; c < columns; ++c) {
        query->columns.append(QString::fromUtf8(sqlite3_column_name(query->stmt.get(), c)));
        query->kinds.append(columnKind(query->stmt.get(), c));
    }
}

QList<QVariant> rowOf(const PreparedQuery &query)
{
    QList<QVariant> row;
    row.reserve(query.kinds.size());
    for (int c = 0; c < query.kinds.size(); ++c)
        row.append(columnValue(query.stmt.get(), c, query.kinds.at(c)));
    return row;
}

// The query's own connection holds its read transaction, and with it the
// snapshot, while rows are left to read. Rows are read BufferedRows at a
// time, and a result that ends within them gives its snapshot back at once:
// a reader that holds one keeps every later write in the write-ahead log
// (nothing it may still need can be copied into the database), so the log
// of a stretch that writes while it walks its rows would grow to all of its
// writes. Only a larger result holds its snapshot, up to its last rows.
class SqliteStream final : public QueryStream
{
public:
    static constexpr int BufferedRows = 20000;

    SqliteStream(const QString &file, const QString &nativeSql)
    {
        QString error;
        if (!m_connection.Open(file, &error))
            throw DbError(error);
        prepareQuery(m_connection.handle(), nativeSql, &m_query);
        refill();
    }
    const QStringList &columns() const override { return m_query.columns; }
    bool next() override
    {
        if (++m_current < m_rows.size())
            return true;
        if (!m_more)
            return false;
        refill();
        m_current = 0;
        return !m_rows.isEmpty();
    }
    QVariant value(int column) const override { return m_rows.at(m_current).at(column); }

private:
    void refill()
    {
        m_rows.clear();
        int rc = SQLITE_ROW;
        while (m_rows.size() < BufferedRows && (rc = sqlite3_step(m_query.stmt.get())) == SQLITE_ROW)
            m_rows.append(rowOf(m_query));
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            throw DbError(sqliteMessage(m_connection.handle()));
        m_more = rc == SQLITE_ROW;
        if (!m_more)
            sqlite3_reset(m_query.stmt.get()); // ends the read transaction
    }

    SqliteConnection m_connection; // declared first: closed after the statement is finalized
    PreparedQuery m_query;
    QList<QList<QVariant>> m_rows;
    qsizetype m_current = -1;
    bool m_more = false;
};

} // namespace

QuerySnapshot Query(const SqliteConnection &connection, const QString &nativeSql)
{
    sqlite3 *h = handleOf(connection);
    PreparedQuery query;
    prepareQuery(h, nativeSql, &query);
    QuerySnapshot snapshot;
    snapshot.columns = query.columns;
    int rc;
    while ((rc = sqlite3_step(query.stmt.get())) == SQLITE_ROW)
        snapshot.rows.append(rowOf(query));
    if (rc != SQLITE_DONE)
        throw DbError(sqliteMessage(h));
    return snapshot;
}

std::unique_ptr<QueryStream> Stream(const QString &file, const QString &nativeSql)
{
    return std::make_unique<SqliteStream>(file, nativeSql);
}

} // namespace SqliteBackend
