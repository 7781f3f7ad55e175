#include "tests/support/TempDatabase.h"

#include "database/DbError.h"
#include "database/SqliteBackend.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <atomic>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const QString &message)
{
    throw std::runtime_error(message.toStdString());
}

QString nextName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("velmar-tempdb-%1").arg(++counter);
}

} // namespace

QString TempDatabase::sourcePath(const QString &relativePath)
{
    return QStringLiteral(VELMAR_SOURCE_DIR) + QLatin1Char('/') + relativePath;
}

TempDatabase::TempDatabase(Content content) : m_name(nextName())
{
    if (!m_dir.isValid())
        fail(QStringLiteral("Cannot create a temporary directory: %1").arg(m_dir.errorString()));
    m_path = m_dir.filePath(QStringLiteral("velmar.db"));
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(m_path);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!m_db.open())
        fail(QStringLiteral("Cannot create %1: %2").arg(m_path, m_db.lastError().text()));
    // Test files need no durability: no flush to disk per statement.
    exec(QStringLiteral("PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;"));
    if (content != Content::Empty)
        runSourceFile(QStringLiteral("schema/sqlite.sql"));
    if (content == Content::SchemaAndDemo)
        runSourceFile(QStringLiteral("schema/demo.sql"));
}

TempDatabase::~TempDatabase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

QString TempDatabase::connectionString() const
{
    return QStringLiteral("Provider=SQLite;Data Source=") + m_path;
}

void TempDatabase::exec(const QString &nativeSql)
{
    try {
        SqliteBackend::Execute(m_db, nativeSql);
    } catch (const DbError &e) {
        fail(QStringLiteral("%1\n  in: %2").arg(e.message(), nativeSql.left(500)));
    }
}

void TempDatabase::runSourceFile(const QString &relativePath)
{
    QFile file(sourcePath(relativePath));
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("Cannot read %1: %2").arg(file.fileName(), file.errorString()));
    const QString script = QString::fromUtf8(file.readAll());
    try {
        SqliteBackend::Execute(m_db, QStringLiteral("BEGIN IMMEDIATE"));
        SqliteBackend::Execute(m_db, script);
        SqliteBackend::Execute(m_db, QStringLiteral("COMMIT"));
    } catch (const DbError &e) {
        try {
            SqliteBackend::Execute(m_db, QStringLiteral("ROLLBACK"));
        } catch (const DbError &) {
            // The script's failure is the one to report.
        }
        fail(QStringLiteral("%1: %2").arg(relativePath, e.message()));
    }
}

void TempDatabase::useWideColumns()
{
    QFile file(sourcePath(QStringLiteral("schema/sqlite.sql")));
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("Cannot read %1: %2").arg(file.fileName(), file.errorString()));
    QString schema = QString::fromUtf8(file.readAll());
    schema.remove(QRegularExpression(QStringLiteral("\\s*CONSTRAINT \"[^\"]*\" CHECK \\([^\\n]*\\)(?=,?\\n)")));
    for (const QVariantList &table : queryRows(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"
                                                              " AND name NOT LIKE 'sqlite%'")))
        exec(QStringLiteral("DROP TABLE ") + table.value(0).toString());
    exec(schema);
}

QList<QVariantList> TempDatabase::queryRows(const QString &nativeSql)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(nativeSql))
        fail(QStringLiteral("%1\n  in: %2").arg(query.lastError().text(), nativeSql));
    QList<QVariantList> rows;
    const int columns = query.record().count();
    while (query.next()) {
        QVariantList row;
        for (int c = 0; c < columns; ++c)
            row.append(query.value(c));
        rows.append(row);
    }
    query.finish();
    return rows;
}

QVariant TempDatabase::queryValue(const QString &nativeSql)
{
    const QList<QVariantList> rows = queryRows(nativeSql);
    if (rows.isEmpty() || rows.first().isEmpty())
        fail(QStringLiteral("No row from: %1").arg(nativeSql));
    return rows.first().first();
}

QVariantMap TempDatabase::queryRow(const QString &nativeSql)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(nativeSql))
        fail(QStringLiteral("%1\n  in: %2").arg(query.lastError().text(), nativeSql));
    if (!query.next())
        fail(QStringLiteral("No row from: %1").arg(nativeSql));
    QVariantMap row;
    const QSqlRecord record = query.record();
    for (int c = 0; c < record.count(); ++c)
        row.insert(record.fieldName(c), query.value(c));
    query.finish();
    return row;
}
