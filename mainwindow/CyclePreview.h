#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// --preview: one real task cycle (the same code and statements as every
// cycle) against the real database, inside one transaction that is rolled
// back at the end, with its mail recorded instead of sent; then the report of
// what it would have done: the digest per recipient list with its
// notifications, the automatic issues opened and closed, the totals, and the
// certifications that --notify-expired-within keeps out.
// DatabaseConnection().HoldChanges() must have been called before start-up
// first opened the database, so that nothing at all is written.
// Returns the exit status: 0 the cycle completed, 1 it failed (the failures
// are written), 3 another server held the database's cycle lock.
int RunCyclePreview(const std::function<void(const QString &text)> &write);

// What the report reads inside the transaction, before and after the cycle.
QString PreviewMaxIdSql(const QString &table);
QString PreviewOpenAutomaticIssuesSql();
QString PreviewQueuedIdsSql();
// The queue rows the cycle marked sent: those queued before it and its own.
QString PreviewSentRowsSql(qint64 maxQueueIdBefore, const QStringList &queuedBefore);
QString PreviewOpenedIssuesSql(qint64 maxIssueIdBefore);
QString PreviewClosedIssuesSql(const QStringList &openBefore);
