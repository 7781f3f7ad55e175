#include "email/SendQueuedEmails.h"

#include "database/Clock.h"
#include "database/DateText.h"
#include "database/DbConnection.h"
#include "database/DbError.h"
#include "database/Recordset.h"
#include "database/SqlText.h"
#include "database/ValueConversion.h"
#include "email/MailComponent.h"
#include "email/MailHeaders.h"
#include "email/MailQueueState.h"
#include "email/MailRowState.h"
#include "email/SendEmail.h"
#include "startup/CompanySettings.h"

#include <QElapsedTimer>
#include <QSet>

#include <atomic>
#include <deque>

namespace {

const QString LineBreak = QStringLiteral("\r\n");

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

std::chrono::milliseconds &budgetForTests()
{
    static std::chrono::milliseconds budget{0};
    return budget;
}

// One log line, whatever line breaks the stored list holds.
QString oneLine(QString line)
{
    return line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

// The company settings the queue uses, read in this one place.
struct QueueSettings
{
    QString companyName;
    QString footer;
    QString sender; // the company's current sender, for rows queued without one
    int pollMinutes = 1;
    QString loginKey; // MailLoginStateKey of the login settings
};

QueueSettings queueSettings(const MailSettings &mail)
{
    return {CompanySettings.Name, CompanySettings.AutomationServerEmailFooter, mail.senderAddress,
            CompanySettings.AutomationServerPoll,
            MailLoginStateKey({mail.server, mail.port, mail.userName, mail.password})};
}

// What makes two rows one recipient list: their exact text, as the query's
// binary ordering compares it (trailing blanks aside, letter case counting).
QString listKey(const QString &recipients)
{
    qsizetype length = recipients.size();
    while (length > 0 && recipients.at(length - 1) == QLatin1Char(' '))
        --length;
    return recipients.left(length);
}

struct Notification
{
    qint64 id = 0;
    QString body;
};
using Notifications = QList<Notification>;

// The notifications of one recipient list.
struct Group
{
    QString recipients; // as its first row holds it
    QString key;        // listKey(recipients)
    QString senderAddress;
    QString senderName;
    Notifications notifications;
};

// What one run of the queue carries from group to group.
struct Run
{
    Run(MailSendingOutcome &outcome, const MailSettings &mail)
        : outcome(outcome), mail(mail), settings(queueSettings(mail))
    {}
    MailSendingOutcome &outcome;
    const MailSettings &mail;
    QueueSettings settings;
    MailSession session;
    QHash<QString, MailQueueState> states; // by listKey; the login's under settings.loginKey
    QSet<qint64> refusedAlone;
    QDateTime started = CurrentDateTime();
    QElapsedTimer clock;
    std::chrono::milliseconds budget = MailSendingBudget();
    QString stoppedBy;    // why no further group is started
    int leftQueued = 0;   // groups not started after the stop
    qint64 sizeLimit = 0; // the mail server's, once a message met it
    bool hadLoginState = false;
};

// The state a failure of the list leads to, and the log line (into Failures
// or Stuck) it needs, if any.
void recordFailure(Run &run, const Group &group, const MailError &error)
{
    const MailQueueState previous = run.states.value(group.key);
    MailQueueState state;
    state.attempts = previous.attempts + 1;
    state.lastReply = error.message();
    const QString line = oneLine(QStringLiteral("Email to %1 not sent: %2").arg(group.recipients, error.message()));
    if (error.kind() == MailError::Kind::Permanent) {
        state.nextTry = MailBackOffUntil(CurrentDateTime(), state.attempts, run.settings.pollMinutes);
        if (previous.nextTry.isValid())
            ++run.outcome.MailHeldBack; // stuck before: said then, not at every try
        else
            run.outcome.Stuck.append(line +
                                     QStringLiteral(" (refused for good: not tried again before %1, "
                                                    "or when an operator asks; see --queue-status)")
                                         .arg(state.nextTry.toString(Qt::ISODate)));
    } else {
        run.outcome.Failures.append(line);
    }
    SaveMailQueueState(group.key, state);
    run.states.insert(group.key, state);
}

// A failed login: the next one waits two polls, then four, up to an hour, so
// that a wrong password does not lock the mailbox out.
void recordLoginFailure(Run &run, const Group &group, const MailError &error)
{
    MailQueueState state = run.states.value(run.settings.loginKey);
    ++state.attempts;
    state.lastReply = error.message();
    state.nextTry = MailLoginBackOff(CurrentDateTime(), state.attempts, run.settings.pollMinutes);
    // Only the state of the settings in use is kept.
    DatabaseConnection().Execute(ForgetMailLoginStatesSql());
    SaveMailQueueState(run.settings.loginKey, state);
    run.states.insert(run.settings.loginKey, state);
    run.hadLoginState = true;
    run.stoppedBy = QStringLiteral("the login failed (%1 time(s) in a row); the next login is tried at %2, "
                                   "or at the next poll after --retry-now")
                        .arg(state.attempts)
                        .arg(state.nextTry.toString(Qt::ISODate));
    run.outcome.Failures.append(
        oneLine(QStringLiteral("Email to %1 not sent: %2; %3").arg(group.recipients, error.message(), run.stoppedBy)));
}

bool isPolicyRefusal(const QString &reply)
{
    return reply.startsWith(QLatin1Char('5')) && reply.mid(3, 5) == QLatin1String(" 5.7.");
}

// The statements that queue the rows of a message that reached some of its
// recipients again for the others, run with the mark: the ones deferred (4xx)
// or refused by the server's policy about this client (5.7.x) go at the next
// poll, the ones refused for good are held back from the start. The others
// are not mailed twice.
QStringList queueAgain(const Group &group, const QStringList &idLists, const QList<RefusedRecipient> &refused, Run &run)
{
    QString deferred;
    QString permanent;
    QStringList reasons;
    bool clientRefused = false;
    for (const RefusedRecipient &recipient : refused) {
        const bool policy = isPolicyRefusal(recipient.reason);
        clientRefused = clientRefused || policy;
        (recipient.reason.startsWith(QLatin1Char('4')) || policy ? deferred : permanent) +=
            recipient.address + QLatin1Char(';');
        reasons.append(recipient.address + QStringLiteral(": ") + recipient.reason);
    }
    QStringList statements;
    for (const QString &list : {deferred, permanent}) {
        if (list.isEmpty())
            continue;
        for (const QString &ids : idLists)
            statements.append(QueueEmailsAgainSql(ids, list));
    }
    if (!permanent.isEmpty()) {
        MailQueueState state;
        state.attempts = 1;
        state.lastReply = reasons.join(QStringLiteral("; "));
        state.nextTry = MailBackOffUntil(CurrentDateTime(), 1, run.settings.pollMinutes);
        statements.append(ForgetMailQueueStateSql(permanent));
        statements.append(SaveMailQueueStateSql(permanent, state));
    }
    const QString line = oneLine(QStringLiteral("Email to %1 not sent to %2 (queued again for them)")
                                     .arg(group.recipients, reasons.join(QStringLiteral("; "))));
    (deferred.isEmpty() ? run.outcome.Stuck : run.outcome.Failures).append(line);
    if (clientRefused)
        run.stoppedBy = QStringLiteral("the mail server refused this client");
    return statements;
}

// Why the next group must not start, or an empty text.
QString reasonToStop(const Run &run)
{
    if (!run.stoppedBy.isEmpty())
        return run.stoppedBy;
    if (stopRequested.load())
        return QStringLiteral("the server is stopping");
    if (run.clock.elapsed() >= run.budget.count())
        return QStringLiteral("the cycle's time for sending (%1 s) ran out").arg(run.budget.count() / 1000);
    return QString();
}

QString bodyOf(const Notifications &part, const QString &footer)
{
    QString body;
    for (const Notification &notification : part)
        body += notification.body + LineBreak;
    return body + LineBreak + LineBreak + LineBreak + footer;
}

// The notifications in parts whose messages stay under the size limit by
// their encoded text (the header fields are allowed for generously); each
// part holds at least one.
QList<Notifications> partsUnder(const Notifications &all, const Group &group, const Run &run)
{
    if (run.sizeLimit <= 0 || all.isEmpty())
        return {all};
    const qint64 headers = 1024 +
        2 *
            (group.recipients.size() + run.settings.companyName.size() + group.senderName.size() +
             group.senderAddress.size() + 20);
    const qint64 footer = QuotedPrintable(MailBodyText(LineBreak + LineBreak + LineBreak + run.settings.footer)).size();
    const qint64 room = run.sizeLimit - headers - footer;
    QList<Notifications> parts(1);
    qint64 used = 0;
    for (const Notification &notification : all) {
        const qint64 size = QuotedPrintable(MailBodyText(notification.body + LineBreak)).size();
        if (!parts.last().isEmpty() && used + size > room) {
            parts.append(Notifications());
            used = 0;
        }
        parts.last().append(notification);
        used += size;
    }
    return parts;
}

enum class PartResult { Sent, Failed, TooLarge };

// One message of the group: claim, exchange, mark (see the header).
PartResult sendPart(Group &group, const Notifications &part, Run &run, MailError *tooLarge)
{
    QList<qint64> ids;
    for (const Notification &notification : part)
        ids.append(notification.id);
    const QStringList idLists = IdLists(ids);
    DbConnection &connection = DatabaseConnection();

    // Before: the mark is tried and rolled back, so that a database that
    // cannot take it stops the sending before the message leaves instead of
    // the message leaving at every poll; then the claim is written. The claim
    // needs no transaction of its own: a claim written in part only names
    // unsent rows, which the next run sends anyway.
    try {
        QStringList trial;
        QStringList claims;
        for (const QString &list : idLists) {
            trial.append(MarkEmailsSentSql(list, CurrentDateTime()));
            claims.append(ClaimEmailsSql(list, CurrentDateTime()));
        }
        connection.BeginTransaction();
        connection.ExecuteAll(trial);
        connection.Rollback();
        connection.ExecuteAll(claims);
    } catch (const DbError &error) {
        connection.Rollback();
        run.stoppedBy =
            QStringLiteral("the queue rows cannot be marked sent, so no message is sent (%1)").arg(error.message());
        ++run.leftQueued;
        return PartResult::Failed;
    }

    QStringList releases;
    for (const QString &list : idLists)
        releases.append(ReleaseClaimsSql(list));
    QList<RefusedRecipient> refused;
    try {
        SendEmail(run.mail, group.senderAddress, group.senderName, group.recipients,
                  CombinedMessageSubject(run.settings.companyName), bodyOf(part, run.settings.footer), &run.session,
                  &refused);
    } catch (const MailError &error) {
        try {
            connection.ExecuteAll(releases);
        } catch (const DbError &) {
            // The claim stays; the next run finds the rows unsent and sends them.
        }
        switch (error.kind()) {
        case MailError::Kind::TooLarge:
            *tooLarge = error;
            return PartResult::TooLarge;
        case MailError::Kind::LoginFailed:
            recordLoginFailure(run, group, error);
            break;
        case MailError::Kind::Server:
        case MailError::Kind::ClientRefused:
            // Every further message would meet the same server (and the same
            // refusal): one try per cycle, and no list is to blame.
            run.outcome.Failures.append(
                oneLine(QStringLiteral("Email to %1 not sent: %2").arg(group.recipients, error.message())));
            run.stoppedBy = error.kind() == MailError::Kind::Server
                ? QStringLiteral("the mail server failed")
                : QStringLiteral("the mail server refused this client");
            break;
        case MailError::Kind::Temporary:
        case MailError::Kind::Permanent:
            recordFailure(run, group, error);
            break;
        }
        return PartResult::Failed;
    }

    // After: the mark (at the time of sending), the rows queued again for the
    // recipients not reached, and the claim's end, in one short transaction.
    try {
        QStringList statements;
        const QDateTime sentAt = CurrentDateTime();
        for (const QString &list : idLists)
            statements.append(MarkEmailsSentSql(list, sentAt));
        if (!refused.isEmpty())
            statements += queueAgain(group, idLists, refused, run);
        statements += releases;
        connection.BeginTransaction();
        connection.ExecuteAll(statements);
        connection.Commit();
    } catch (const DbError &error) {
        connection.Rollback();
        run.outcome.Failures.append(oneLine(QStringLiteral("Email to %1 was accepted by the mail server, but its "
                                                           "rows could not be marked sent, so it will go out "
                                                           "again: %2")
                                                .arg(group.recipients, error.message())));
        run.stoppedBy = QStringLiteral("the queue rows cannot be marked sent");
        return PartResult::Failed;
    }
    ++run.outcome.Emails;
    if (run.hadLoginState) {
        DatabaseConnection().Execute(ForgetMailLoginStatesSql());
        run.hadLoginState = false;
    }
    return PartResult::Sent;
}

// A notification that alone is over the size limit: held back by itself, the
// list's other notifications go on.
void refuseAlone(const Group &group, const Notification &notification, const MailError &error, Run &run)
{
    DatabaseConnection().Execute(RefuseNotificationSql(notification.id, error.message(), CurrentDateTime()));
    run.refusedAlone.insert(notification.id);
    run.outcome.Stuck.append(oneLine(
        QStringLiteral("Email to %1 not sent: notification %2 alone is over the mail "
                       "server's size limit%3: %4 (held back until an operator "
                       "asks: --retry-now)")
            .arg(group.recipients)
            .arg(notification.id)
            .arg(run.sizeLimit > 0 ? QStringLiteral(" (%1 bytes)").arg(run.sizeLimit) : QString(), error.message())));
}

void sendGroup(Group &group, Run &run)
{
    const auto known = run.states.constFind(group.key);
    const bool hadState = known != run.states.constEnd();
    if (hadState && known->heldBack(run.started)) {
        ++run.outcome.MailHeldBack;
        return;
    }
    run.stoppedBy = reasonToStop(run);
    if (!run.stoppedBy.isEmpty()) {
        ++run.leftQueued;
        return;
    }
    if (group.senderAddress.trimmed().isEmpty()) {
        recordFailure(run, group,
                      MailError(QStringLiteral("the sender address (EmailFrom) of its queued rows is empty, and so is "
                                               "the company's (AutomationServerEmailFrom)"),
                                MailError::Kind::Permanent));
        return;
    }

    // Parts go in ID order; a part over the limit is split again (in halves
    // when the server did not say its limit).
    std::deque<Notifications> parts;
    for (const Notifications &part : partsUnder(group.notifications, group, run))
        parts.push_back(part);
    while (!parts.empty()) {
        const Notifications part = parts.front();
        parts.pop_front();
        MailError tooLarge(QString{});
        switch (sendPart(group, part, run, &tooLarge)) {
        case PartResult::Sent:
            continue;
        case PartResult::Failed:
            return;
        case PartResult::TooLarge:
            break;
        }
        if (tooLarge.sizeLimit() > 0)
            run.sizeLimit = tooLarge.sizeLimit();
        if (part.size() == 1) {
            refuseAlone(group, part.first(), tooLarge, run);
            continue;
        }
        QList<Notifications> smaller = partsUnder(part, group, run);
        if (smaller.size() < 2)
            smaller = {part.first(part.size() / 2), part.sliced(part.size() / 2)};
        for (auto it = smaller.crbegin(); it != smaller.crend(); ++it)
            parts.push_front(*it);
    }
    if (hadState) {
        ForgetMailQueueState(group.key);
        run.states.remove(group.key);
    }
}

} // namespace

QString QueuedEmailsSql()
{
    return QStringLiteral("SELECT * FROM AutomationServer_EmailsSent WHERE EmailSent=0 AND EmailTo<>'' "
                          "ORDER BY EmailTo COLLATE Latin1_General_BIN2,ID");
}

QString MarkEmailsSentSql(const QString &ids, const QDateTime &sentAt)
{
    return QStringLiteral("UPDATE AutomationServer_EmailsSent SET EmailSent=1,DateSent='") + SqlText(DateText(sentAt)) +
        QStringLiteral("' WHERE ID IN (") + ids + QStringLiteral(")");
}

QString QueueEmailsAgainSql(const QString &ids, const QString &recipientList)
{
    return QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom,EmailFromName,EmailTo,EmailSubject,"
                          "EmailBody,EmailSent) SELECT EmailFrom,EmailFromName,N'") +
        SqlText(recipientList) +
        QStringLiteral("',EmailSubject,EmailBody,0 FROM AutomationServer_EmailsSent WHERE ID IN (") + ids +
        QStringLiteral(") ORDER BY ID");
}

QString CombinedMessageSubject(const QString &companyName)
{
    return QStringLiteral("Notification from ") + companyName;
}

std::chrono::milliseconds MailSendingBudget()
{
    if (budgetForTests().count() > 0)
        return budgetForTests();
    return std::chrono::minutes(std::max<int>(CompanySettings.AutomationServerPoll, 1));
}

void SetMailSendingBudgetForTests(std::chrono::milliseconds budget)
{
    budgetForTests() = budget;
}

void RequestMailStop(bool stop) noexcept
{
    stopRequested.store(stop);
}

void SendQueuedEmails(MailSendingOutcome &outcome, const MailSettings &settings)
{
    // A message left in flight by a process that ended is sent again below.
    EnsureMailRowStateTable();
    outcome.Notes += RecoverInterruptedSending();

    Recordset &rows = SharedRecordset();
    rows.Open(QueuedEmailsSql(), DatabaseConnection());
    const ClosesRecordset closeAtEnd(rows);

    // SMTP sessions live for this run only and end when it does.
    Run run(outcome, settings);
    const QHash<QString, MailQueueState> states = LoadMailQueueStates();
    for (auto it = states.cbegin(); it != states.cend(); ++it) {
        run.states.insert(listKey(it.key()), it.value());
        run.hadLoginState = run.hadLoginState || it.key().startsWith(QLatin1String("(login) "));
    }
    run.refusedAlone = RefusedNotifications();
    // Failed logins with other settings than these do not hold them back.
    const MailQueueState login = run.states.value(run.settings.loginKey);
    if (login.heldBack(run.started))
        run.stoppedBy = oneLine(QStringLiteral("the last %1 login(s) failed (%2); the next login is tried at %3, or "
                                               "at the next poll after --retry-now")
                                    .arg(login.attempts)
                                    .arg(login.lastReply, login.nextTry.toString(Qt::ISODate)));
    run.clock.start();
    Group group;
    for (; !rows.Eof(); rows.MoveNext()) {
        const QString recipients = FieldText(rows.Field(QStringLiteral("EmailTo")));
        const QString key = listKey(recipients);
        if (!group.notifications.isEmpty() && group.key != key) {
            sendGroup(group, run);
            group = Group();
        }
        const qint64 id = rows.Field(QStringLiteral("ID")).toLongLong();
        if (run.refusedAlone.contains(id)) {
            ++run.outcome.MailHeldBack;
            continue;
        }
        if (group.notifications.isEmpty()) {
            group.recipients = recipients;
            group.key = key;
        }
        // The group's last row decides the sender; a row queued while the
        // company had no sender goes with the one it has now.
        group.senderAddress = FieldText(rows.Field(QStringLiteral("EmailFrom")));
        if (group.senderAddress.trimmed().isEmpty())
            group.senderAddress = run.settings.sender;
        group.senderName = FieldText(rows.Field(QStringLiteral("EmailFromName")));
        group.notifications.append({id, FieldText(rows.Field(QStringLiteral("EmailBody")))});
    }
    if (!group.notifications.isEmpty())
        sendGroup(group, run);
    if (run.leftQueued > 0)
        outcome.Failures.append(QStringLiteral("Mail sending stopped for this cycle: %1; %2 message(s) stay "
                                               "queued for the next poll")
                                    .arg(run.stoppedBy)
                                    .arg(run.leftQueued));
}
