#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

class BenchSqlite;

// The floor for the first cycle's database work: what the notification and
// issue-creation stretches write (queue rows for manager, specialists and
// client, the log rows, the automatic issues), done by a handful of
// INSERT ... SELECT statements in one transaction, in SQLite's own SQL.
struct ReferenceSettings
{
    QDate today;
    QDateTime now;
    QString emailFrom;   // CompanySettings.AutomationServerEmailFrom
    QString companyName; // CompanySettings.Name
};

struct ReferenceResult
{
    double milliseconds = 0;
    int statements = 0;
    qint64 queueRows = 0;
    qint64 logRows = 0;
    qint64 issues = 0;
};

// The statements, in order, for the rule and dates read from `db`.
QStringList SetBasedReferenceStatements(BenchSqlite &db, const ReferenceSettings &settings);

// Runs them on `db` (a fresh copy of the generated database), timed.
ReferenceResult RunSetBasedReference(BenchSqlite &db, const ReferenceSettings &settings);

// Rows written after the given identities that differ between the cycle's
// database and the reference's: queue rows (sender, recipients, subject,
// body), log rows (key and flags) and automatic issues (all columns the
// cycle fixed at creation). Empty when both wrote the same rows.
struct WrittenRowsBaseline
{
    qint64 queueId = 0;
    qint64 logId = 0;
    qint64 issueId = 0;
};
QStringList CompareWrittenRows(BenchSqlite &cycleDb, const QString &referenceFile, const WrittenRowsBaseline &baseline);
WrittenRowsBaseline ReadBaseline(BenchSqlite &db);
