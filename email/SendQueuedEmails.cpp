#include "email/SendQueuedEmails.h"

#include "database/Clock.h"
#include "database/DateText.h"
#include "database/DbConnection.h"
#include "database/DbError.h"
#include "database/Recordset.h"
#include "database/SqlText.h"
#include "database/ValueConversion.h"
#include "email/MailComponent.h"
#include "email/MailQueueState.h"
#include "email/SendEmail.h"
#include "startup/CompanySettings.h"

#include <QElapsedTimer>

#include <atomic>

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

// The notifications of one recipient list, combined into one message.
struct Group
{
    QString recipients;
    QString senderAddress;
    QString senderName;
    QString body;
    QString ids;
    bool senderMissing = false; // a row of the group has a Null or empty EmailFrom

    void clear()
    {
        body.clear();
        ids.clear();
        senderMissing = false;
    }
};

// What one run of the queue carries from group to group.
struct Run
{
    explicit Run(MailSendingOutcome &outcome) : outcome(outcome) {}
    MailSendingOutcome &outcome;
    MailSession session;
    const MailSettings *settings = nullptr;
    QHash<QString, MailQueueState> states;
    QDateTime started = CurrentDateTime();
    QElapsedTimer clock;
    std::chrono::milliseconds budget = MailSendingBudget();
    QString stoppedBy;  // why no further group is started
    int leftQueued = 0; // groups not started after the stop
};

// The state a failure of the list leads to, and the log line (into Failures
// or Stuck) it needs, if any.
void recordFailure(Run &run, const QString &recipients, const MailError &error)
{
    const MailQueueState previous = run.states.value(recipients);
    MailQueueState state;
    state.attempts = previous.attempts + 1;
    state.lastReply = error.message();
    const QString line = oneLine(QStringLiteral("Email to %1 not sent: %2").arg(recipients, error.message()));
    if (error.kind() == MailError::Kind::Permanent) {
        state.nextTry = MailBackOffUntil(CurrentDateTime(), state.attempts, CompanySettings.AutomationServerPoll);
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
    SaveMailQueueState(recipients, state);
    run.states.insert(recipients, state);
}

// The rows of a message that reached some of its recipients are marked sent
// and queued again, in the same transaction, for the recipients it did not
// reach: the ones deferred (4xx) go at the next poll, the ones refused for
// good are held back from the start. The others are not mailed twice.
void queueAgain(const Group &group, const QList<RefusedRecipient> &refused, MailSendingOutcome &outcome)
{
    QString deferred;
    QString permanent;
    QStringList reasons;
    for (const RefusedRecipient &recipient : refused) {
        (recipient.reason.startsWith(QLatin1Char('4')) ? deferred : permanent) += recipient.address + QLatin1Char(';');
        reasons.append(recipient.address + QStringLiteral(": ") + recipient.reason);
    }
    DbConnection &connection = DatabaseConnection();
    const QString line = oneLine(QStringLiteral("Email to %1 not sent to %2 (queued again for them)")
                                     .arg(group.recipients, reasons.join(QStringLiteral("; "))));
    if (!deferred.isEmpty())
        connection.Execute(QueueEmailsAgainSql(group.ids, deferred));
    if (!permanent.isEmpty()) {
        connection.Execute(QueueEmailsAgainSql(group.ids, permanent));
        MailQueueState state;
        state.attempts = 1;
        state.lastReply = reasons.join(QStringLiteral("; "));
        state.nextTry = MailBackOffUntil(CurrentDateTime(), 1, CompanySettings.AutomationServerPoll);
        connection.Execute(ForgetMailQueueStateSql(permanent));
        connection.Execute(SaveMailQueueStateSql(permanent, state));
    }
    (deferred.isEmpty() ? outcome.Stuck : outcome.Failures).append(line);
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

void sendGroup(Group &group, Run &run)
{
    const auto known = run.states.constFind(group.recipients);
    const bool hadState = known != run.states.constEnd();
    if (hadState && known->heldBack(run.started)) {
        ++run.outcome.MailHeldBack;
        group.clear();
        return;
    }
    run.stoppedBy = reasonToStop(run);
    if (!run.stoppedBy.isEmpty()) {
        ++run.leftQueued;
        group.clear();
        return;
    }
    if (group.senderMissing) {
        recordFailure(run, group.recipients,
                      MailError(QStringLiteral("the sender address (EmailFrom) of its queued rows is empty"),
                                MailError::Kind::Permanent));
        group.clear();
        return;
    }
    group.body += LineBreak + LineBreak + LineBreak + CompanySettings.AutomationServerEmailFooter;

    // The mark goes first: a database that cannot take it stops the sending
    // before the message leaves, instead of the message leaving at every poll.
    DbConnection &connection = DatabaseConnection();
    try {
        connection.BeginTransaction();
        connection.Execute(MarkEmailsSentSql(group.ids, CurrentDateTime()));
    } catch (const DbError &error) {
        connection.Rollback();
        run.stoppedBy =
            QStringLiteral("the queue rows cannot be marked sent, so no message is sent (%1)").arg(error.message());
        ++run.leftQueued;
        group.clear();
        return;
    }

    QList<RefusedRecipient> refused;
    try {
        SendEmail(*run.settings, group.senderAddress, group.senderName, group.recipients,
                  CombinedMessageSubject(CompanySettings.Name), group.body, &run.session, &refused);
    } catch (const MailError &error) {
        connection.Rollback();
        if (error.kind() == MailError::Kind::Server || error.kind() == MailError::Kind::LoginFailed) {
            // Every further message would meet the same server (and the same
            // login): one try per cycle.
            run.outcome.Failures.append(
                oneLine(QStringLiteral("Email to %1 not sent: %2").arg(group.recipients, error.message())));
            run.stoppedBy = QStringLiteral("the mail server failed");
        } else {
            recordFailure(run, group.recipients, error);
        }
        group.clear();
        return;
    }

    try {
        if (!refused.isEmpty())
            queueAgain(group, refused, run.outcome);
        connection.Commit();
    } catch (const DbError &error) {
        connection.Rollback();
        run.outcome.Failures.append(oneLine(QStringLiteral("Email to %1 was accepted by the mail server, but its "
                                                           "rows could not be marked sent, so it will go out "
                                                           "again: %2")
                                                .arg(group.recipients, error.message())));
        run.stoppedBy = QStringLiteral("the queue rows cannot be marked sent");
        group.clear();
        return;
    }
    if (hadState) {
        ForgetMailQueueState(group.recipients);
        run.states.remove(group.recipients);
    }
    group.clear();
    ++run.outcome.Emails;
}

} // namespace

QString QueuedEmailsSql()
{
    return QStringLiteral("SELECT * FROM AutomationServer_EmailsSent WHERE EmailSent=0 AND EmailTo<>'' "
                          "ORDER BY EmailTo,ID");
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
    Recordset &rows = SharedRecordset();
    rows.Open(QueuedEmailsSql(), DatabaseConnection());
    const ClosesRecordset closeAtEnd(rows);

    // SMTP sessions live for this run only and end when it does.
    Run run(outcome);
    run.settings = &settings;
    run.states = LoadMailQueueStates();
    run.clock.start();
    Group group;
    for (; !rows.Eof(); rows.MoveNext()) {
        const QString recipients = FieldText(rows.Field(QStringLiteral("EmailTo")));
        // Grouping is by exact text: letter case and spaces count.
        if (!group.recipients.isEmpty() && group.recipients != recipients)
            sendGroup(group, run);
        group.senderAddress = FieldText(rows.Field(QStringLiteral("EmailFrom")));
        group.senderMissing = group.senderMissing || group.senderAddress.trimmed().isEmpty();
        group.senderName = FieldText(rows.Field(QStringLiteral("EmailFromName")));
        group.body += FieldText(rows.Field(QStringLiteral("EmailBody"))) + LineBreak;
        if (!group.ids.isEmpty())
            group.ids += QLatin1Char(',');
        group.ids += QString::number(rows.Field(QStringLiteral("ID")).toLongLong());
        group.recipients = recipients;
    }
    if (!group.recipients.isEmpty())
        sendGroup(group, run);
    if (run.leftQueued > 0)
        outcome.Failures.append(QStringLiteral("Mail sending stopped for this cycle: %1; %2 message(s) stay "
                                               "queued for the next poll")
                                    .arg(run.stoppedBy)
                                    .arg(run.leftQueued));
}
