#pragma once

#include "email/MailSettings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <chrono>

// What one run of the queue did, for the cycle's counts and log. Filled as
// the run goes: what happened before a failure that throws stays in it.
struct MailSendingOutcome
{
    qint32 Emails = 0; // messages sent and their rows marked sent
    // Groups not sent (tried again at the next poll) and why the run stopped
    // starting groups: one log line each.
    QStringList Failures;
    // Mail refused for good, one line per recipient list in the run it became
    // stuck; later runs that hold it back or find it refused again only count
    // it in MailHeldBack.
    QStringList Stuck;
    qint32 MailHeldBack = 0;
};

// Sends every queued row of AutomationServer_EmailsSent, one message per run
// of rows with the same recipient list, marks them sent and counts the
// messages in outcome.Emails.
//
// A group is sent inside a transaction that has already marked its rows: a
// database that refuses the mark stops the sending before any message
// leaves, a failed send rolls the mark back, and only a commit failing after
// the server accepted can leave a sent message queued (it is reported).
//
// What a failure does (MailError::Kind): a failure of the server, TLS or the
// login stops the sending for this cycle after that group (one failed login
// per cycle); the rest stays queued and is reported in one line. A temporary
// refusal is reported in outcome.Failures and tried at the next poll. A
// permanent one is reported once in outcome.Stuck, and the list is held
// back (MailBackOffUntil) with the server's reply kept in
// AutomationServer_EmailQueueState; deleting its row there asks for a retry.
// A group that reached some of its recipients is marked sent and queued
// again for the others, in the same way.
//
// The cycle starts no new group once MailSendingBudget() has passed or a stop
// was requested; the rest waits for the next poll.
// A failure of the query or of the state table throws (DbError).
// The messages go through the mail settings the cycle built.
void SendQueuedEmails(MailSendingOutcome &outcome, const MailSettings &settings);

// The queued rows, grouped by recipient list and in queue order within one.
QString QueuedEmailsSql();
// Marks the rows of one sent message; ids is the comma-separated ID list.
QString MarkEmailsSentSql(const QString &ids, const QDateTime &sentAt);
// Queues the rows of a message again for the recipients it did not reach
// (recipientList: each address followed by ";"), in queue order.
QString QueueEmailsAgainSql(const QString &ids, const QString &recipientList);
// The subject of every combined message.
QString CombinedMessageSubject(const QString &companyName);

// How long one cycle may go on starting new messages: the poll period (at
// least a minute). Tests may set it; zero restores it.
std::chrono::milliseconds MailSendingBudget();
void SetMailSendingBudgetForTests(std::chrono::milliseconds budget);
// Called from the stop signal's handler (async-signal-safe): the running
// cycle sends no further group.
void RequestMailStop(bool stop = true) noexcept;
