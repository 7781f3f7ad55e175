#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

// A fresh embedded database file in a temporary directory, laid out from
// schema/sqlite.sql (and schema/demo.sql when asked), removed at the end.
// Tests set up rows and check outcomes through their own connection here,
// in native SQLite SQL, independent of the system's connection.
// Every helper throws std::runtime_error with SQLite's message on failure.
class TempDatabase
{
public:
    enum class Content { Empty, Schema, SchemaAndDemo };

    explicit TempDatabase(Content content = Content::Schema);
    ~TempDatabase();
    TempDatabase(const TempDatabase &) = delete;
    TempDatabase &operator=(const TempDatabase &) = delete;

    // "Provider=SQLite;Data Source=<absolute path>"
    QString connectionString() const;
    QString path() const { return m_path; }
    // The temporary directory holding the file (for a config.txt beside it).
    QString directory() const { return m_dir.path(); }

    // One or more native statements.
    void exec(const QString &nativeSql);
    // The first column of the first row; throws when there is no row.
    QVariant queryValue(const QString &nativeSql);
    // Every row, columns in select order.
    QList<QVariantList> queryRows(const QString &nativeSql);
    // The first row by column name; throws when there is no row.
    QVariantMap queryRow(const QString &nativeSql);
    // Runs a script file of the source tree, e.g. "schema/demo.sql".
    void runSourceFile(const QString &relativePath);
    // Lays the (empty) tables out again without the schema's column checks:
    // a host whose text columns are wider (nvarchar(max)) and whose date and
    // bit columns may hold any text.
    void useWideColumns();

    // Absolute path of a file in the source tree.
    static QString sourcePath(const QString &relativePath);

private:
    QTemporaryDir m_dir;
    QString m_path;
    QString m_name;
    QSqlDatabase m_db;
};
