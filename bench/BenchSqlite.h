#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <stdexcept>

struct sqlite3;

// A failure of the benchmark's own database work, with SQLite's message.
class BenchDbError : public std::runtime_error
{
public:
    explicit BenchDbError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// A private QSQLITE connection of the benchmark itself, beside the server's
// DatabaseConnection: for laying out files, probes between phases and the
// set-based reference. Its statements are never counted as the server's.
class BenchSqlite
{
public:
    // Opens FILE; with mustExist a missing file is an error, not a new database.
    explicit BenchSqlite(const QString &file, bool mustExist = true);
    ~BenchSqlite();
    BenchSqlite(const BenchSqlite &) = delete;
    BenchSqlite &operator=(const BenchSqlite &) = delete;

    QSqlDatabase db() const;
    sqlite3 *handle() const;

    // Runs every statement of the text; throws BenchDbError naming `what`.
    void exec(const QString &sql, const QString &what) const;
    // The first column of the first row.
    QVariant scalar(const QString &sql) const;
    qint64 count(const QString &table) const;

private:
    QString m_name;
};
