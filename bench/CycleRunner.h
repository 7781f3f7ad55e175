#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <stdexcept>

class BenchSqlite;

// One phase of a task cycle as measured.
struct PhaseResult
{
    QString name;
    bool ran = false; // false when the rule switched the phase off
    double milliseconds = 0;
    double cpuMilliseconds = -1; // CPU time of this process in the phase (-1: unknown)
    qint64 statements = 0;       // queries and statements the server sent (DbConnection's count)
    qint64 messages = 0;         // messages handed to the SMTP server
    qint64 peakRssKiB = -1;      // the process's peak so far, read right after the phase
};

struct MeasuredCycle
{
    QString label;
    QList<PhaseResult> phases; // rule load, auto-close, notifications, issue creation, queue sending
    double milliseconds = 0;   // the whole cycle: open, the phases, close
    double cpuMilliseconds = -1;
    qint64 statements = 0;
    qint64 messages = 0;
    qint64 peakRssKiB = -1;
    // What the cycle did, read from the database between phases (not timed).
    qint64 notified = 0; // log rows written: certifications notified
    qint64 queueRows = 0;
    qint64 issuesCreated = 0;
    qint64 issuesClosed = 0;
    QStringList failures; // groups the queue could not send
};

class CycleFailed : public std::runtime_error
{
public:
    explicit CycleFailed(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// Runs one task cycle as DoTasks does (open, the "Training Expire" task,
// the queue, close), phase by phase, each phase timed and counted from what
// the stretches report. DBConnectionString and CompanySettings must be set.
// `probe` is a separate connection to the same file for the counts between
// phases. Throws CycleFailed naming the phase and the error's own text.
MeasuredCycle RunMeasuredCycle(const QString &label, BenchSqlite &probe);
