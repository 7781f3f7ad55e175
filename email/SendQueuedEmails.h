#pragma once

#include <QDateTime>
#include <QString>

// Sends every queued row of AutomationServer_EmailsSent, one message per run
// of rows with the same recipient list, marks them sent and counts the
// messages in CycleCounters.Emails. A group whose send fails stays queued and
// is reported in CycleCounters.Failures; the run goes on with the next group.
// A failure of the query or of a marking statement throws (DbError).
void SendQueuedEmails();

// The queued rows, grouped by recipient list and in queue order within one.
QString QueuedEmailsSql();
// Marks the rows of one sent message; ids is the comma-separated ID list.
QString MarkEmailsSentSql(const QString &ids, const QDateTime &sentAt);
// The subject of every combined message.
QString NotificationSubject(const QString &companyName);
