#pragma once

#include "database/SchemaDateColumns.h"

#include <QList>
#include <QString>
#include <QStringList>

// Where the time of a cycle goes, measured after the cycles on the same
// database: the three selection queries of the "Training Expire" task run
// on their own (with the backend's DATEADD, with TZ set where glibc would
// otherwise re-read the zone file on every local-time conversion, and with
// an integer-only DATEADD), and the fixed cost of one statement.
struct QueryTiming
{
    QString name;
    qint64 rows = 0;
    double systemMs = 0;      // as the server runs it
    double tzSetMs = -1;      // same, with TZ set (Linux only; -1 elsewhere)
    double integerMs = 0;     // with the integer-only DATEADD
    bool sameResults = false; // the integer DATEADD returned the very same rows
    QStringList plan;         // EXPLAIN QUERY PLAN
};

// The rewrite of the statements of one notification batch for the embedded
// backend: 200 certifications of 1 to 3 queue rows and a log row each, every
// statement rewritten on its own as DbConnection::ExecuteAll does; median of
// 21 runs.
struct RewriteTiming
{
    qsizetype certifications = 0;
    qsizetype statements = 0;
    qint64 utf8Bytes = 0; // of the statements as built
    double ms = 0;
    double MegabytesPerSecond() const { return ms > 0 ? double(utf8Bytes) / 1e6 / (ms / 1000.0) : 0; }
};

struct Diagnosis
{
    QList<QueryTiming> queries;
    double executeMicroseconds = 0;  // one no-op statement through DbConnection::Execute
    double preparedMicroseconds = 0; // the same as a reused prepared statement
    double dateAddMicroseconds = 0;  // one call of the backend's DATEADD
    double integerDateAddMicroseconds = 0;
    RewriteTiming rewrite;
};

// DBConnectionString must name `databaseFile`, and the rule must have been
// loaded (a cycle ran). Leaves the database unchanged.
Diagnosis DiagnoseCycleCosts(const QString &databaseFile);

QString MarkdownForDiagnosis(const Diagnosis &diagnosis);

// With the date columns of a database made from the schema script.
RewriteTiming MeasureNotificationBatchRewrite(const SchemaDateColumns &schema);
QString MarkdownForRewrite(const RewriteTiming &timing);
