#pragma once

#include <QDateTime>
#include <QString>

// Sends every queued row of AutomationServer_EmailsSent, one message per run
// of rows with the same recipient list, marks them sent and counts the
// messages in CycleCounters.Emails. A group whose send fails stays queued and
// is reported in CycleCounters.Failures; the run goes on with the next group.
// A group that reached some of its recipients is marked sent and queued
// again for the others, which are reported in CycleCounters.Failures. Once a
// message ran out of time, the groups after it are reported without being
// tried and stay queued.
// A failure of the query or of a marking statement throws (DbError).
void SendQueuedEmails();

// The queued rows, grouped by recipient list and in queue order within one.
QString QueuedEmailsSql();
// Marks the rows of one sent message; ids is the comma-separated ID list.
QString MarkEmailsSentSql(const QString &ids, const QDateTime &sentAt);
// Queues the rows of a message again for the recipients it did not reach
// (recipientList: each address followed by ";"), in queue order.
QString QueueEmailsAgainSql(const QString &ids, const QString &recipientList);
// The subject of every combined message.
QString NotificationSubject(const QString &companyName);
