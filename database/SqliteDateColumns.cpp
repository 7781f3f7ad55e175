#include "database/SqliteDateColumns.h"

#include "database/DateValues.h"
#include "database/DbError.h"
#include "database/SqliteConnection.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <sqlite3.h>

namespace {

// The column types of one connection as of one schema version. Owned by the
// connection (see attach()).
struct ConnectionSchema
{
    sqlite3 *handle = nullptr;
    int version = -1;
    SchemaDateColumns columns;
};

QMutex &schemasMutex()
{
    static QMutex mutex;
    return mutex;
}

QHash<sqlite3 *, ConnectionSchema *> &schemas()
{
    static QHash<sqlite3 *, ConnectionSchema *> map;
    return map;
}

// Runs when the connection closes (or the holder function is replaced): the
// entry goes before the handle's memory can be reused by another connection.
void forget(void *data)
{
    auto *schema = static_cast<ConnectionSchema *>(data);
    {
        const QMutexLocker lock(&schemasMutex());
        const auto it = schemas().constFind(schema->handle);
        if (it != schemas().cend() && *it == schema)
            schemas().erase(it);
    }
    delete schema;
}

void holder(sqlite3_context *context, int, sqlite3_value **)
{
    sqlite3_result_null(context);
}

// The connection's entry, created with it on first use: a function that
// does nothing carries it, so that SQLite destroys it with the connection.
// Null when it cannot be attached (the caller then reads without a cache).
ConnectionSchema *attach(sqlite3 *handle)
{
    {
        const QMutexLocker lock(&schemasMutex());
        if (ConnectionSchema *found = schemas().value(handle))
            return found;
    }
    auto *schema = new ConnectionSchema;
    schema->handle = handle;
    // On failure SQLite calls forget() itself, which deletes the entry.
    if (sqlite3_create_function_v2(handle, "velmar_schema_cache", 0, SQLITE_UTF8, schema, &holder, nullptr, nullptr,
                                   &forget) != SQLITE_OK)
        return nullptr;
    const QMutexLocker lock(&schemasMutex());
    schemas().insert(handle, schema);
    return schema;
}

[[noreturn]] void fail(sqlite3 *handle)
{
    throw DbError(QStringLiteral("Cannot read the column types of the database: %1")
                      .arg(QString::fromUtf8(sqlite3_errmsg(handle))));
}

// The statement prepared, or DbError.
void prepare(SqliteStatement &stmt, sqlite3 *handle, const char *sql)
{
    if (!stmt.Prepare(handle, sql))
        fail(handle);
}

int schemaVersion(sqlite3 *handle)
{
    SqliteStatement stmt;
    prepare(stmt, handle, "PRAGMA schema_version");
    if (sqlite3_step(stmt.get()) != SQLITE_ROW)
        fail(handle);
    return sqlite3_column_int(stmt.get(), 0);
}

QString textColumn(sqlite3_stmt *stmt, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)),
                             sqlite3_column_bytes(stmt, column));
}

} // namespace

SchemaDateColumns ReadDateColumns(sqlite3 *handle)
{
    SqliteStatement stmt;
    prepare(stmt, handle,
            "SELECT m.name, p.name, p.type FROM sqlite_master AS m, pragma_table_info(m.name) AS p "
            "WHERE m.type = 'table'");
    SchemaDateColumns columns;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        columns.AddColumn(textColumn(stmt.get(), 0), textColumn(stmt.get(), 1),
                          IsDateTypeName(textColumn(stmt.get(), 2)));
    }
    if (rc != SQLITE_DONE)
        fail(handle);
    return columns;
}

SchemaDateColumns CachedDateColumns(sqlite3 *handle)
{
    ConnectionSchema *schema = attach(handle);
    if (schema == nullptr)
        return ReadDateColumns(handle);
    // A connection is used by one thread at a time, and its entry lives as
    // long as it does: no lock is needed past attach().
    const int version = schemaVersion(handle);
    if (version != schema->version) {
        schema->columns = ReadDateColumns(handle);
        schema->version = version;
    }
    return schema->columns;
}
