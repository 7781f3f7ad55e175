#pragma once

#include "bench/HostDataGenerator.h"

#include <QString>

#include <stdexcept>

// A failure to lay out the database or write the script, with the reason.
class HostDbWriteError : public std::runtime_error
{
public:
    explicit HostDbWriteError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// Creates FILE afresh from the SQLite schema script and inserts every row in
// one transaction with prepared statements. Dates are stored as ISO 8601 text
// ("YYYY-MM-DD HH:MM:SS"), as the embedded backend keeps them.
void WriteSqliteDatabase(const GeneratedHostData &data, const QString &schemaFile, const QString &outFile);

// The same rows as a T-SQL script for a database created from the SQL Server
// schema: explicit identities, dates in the unambiguous ISO form, batches of
// at most 1000 rows per INSERT.
void WriteTsqlScript(const GeneratedHostData &data, const QString &outFile);

// Rows per table as the database file holds them, for the summary.
QList<QPair<QString, qint64>> CountSqliteRows(const QString &file, const QStringList &tables);

// Text forms shared by both writers.
QString StoredDateText(const QVariant &value);
QString TsqlLiteral(const QVariant &value);
