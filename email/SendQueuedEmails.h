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
    // What the run found and mended without a failure (a message left in
    // flight by a process that ended): one log line each.
    QStringList Notes;
};

// Sends every queued row of AutomationServer_EmailsSent, one message per
// recipient list (its exact text, letter case counting; the rows ordered with
// a binary collation keep each list together), marks them sent and counts the
// messages in outcome.Emails. A list over the mail server's size limit goes
// as several messages, each with whole notifications in ID order, the same
// subject and the footer.
//
// No transaction is open while the mail server is talked to. Around each
// message: a short trial of the mark (rolled back: a database that refuses it
// stops the sending before anything leaves) and the rows' claim in
// AutomationServer_EmailRowState, committed; the exchange; then one short
// transaction marks the rows sent and drops the claim. A process that ends
// during the exchange leaves the rows unsent and the claim behind: the next
// run logs that message as of unknown fate and sends it again (a message
// goes out twice only when the end fell between the server's acceptance and
// that last commit).
//
// What a failure does (MailError::Kind): a failure of the server or TLS stops
// the sending for this cycle after that message; so does the server's
// refusal of this client (5.7.x), without holding any list back; a failed
// login also makes the next login wait (MailLoginBackOff). A temporary
// refusal is reported in outcome.Failures and tried at the next poll. A
// permanent one is reported once in outcome.Stuck, and the list is held
// back (MailBackOffUntil) with the server's reply kept in
// AutomationServer_EmailQueueState; deleting its row there asks for a retry.
// A notification that alone is over the size limit is held back by itself.
// A message that reached some of its recipients is marked sent and queued
// again for the others.
//
// The cycle starts no new group once MailSendingBudget() has passed or a stop
// was requested; the rest waits for the next poll.
// A failure of the query or of the state tables throws (DbError).
// The messages go through the mail settings the cycle built.
void SendQueuedEmails(MailSendingOutcome &outcome, const MailSettings &settings);

// The queued rows, each recipient list's together (binary collation: lists
// that differ in letter case do not interleave) and in queue order within one.
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
