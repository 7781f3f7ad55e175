#include "SendQueuedEmails.h"

#include "Clock.h"
#include "CompanySettings.h"
#include "CycleCounters.h"
#include "DateText.h"
#include "DbConnection.h"
#include "MailComponent.h"
#include "Recordset.h"
#include "SendEmail.h"
#include "SqlText.h"

namespace {

const QString LineBreak = QStringLiteral("\r\n");

QString text(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

// The notifications of one recipient list, combined into one message.
struct Group
{
    QString recipients;
    QString senderAddress;
    QString senderName;
    QString body;
    QString ids;
};

// The rows of a message that reached some of its recipients are marked sent
// and queued again, in the same transaction, for the recipients it did not
// reach: a refused recipient is tried again at the next cycle as if it had
// been the only one, and the others are not mailed twice.
void markSentAndQueueAgain(const Group &group, const QList<RefusedRecipient> &refused)
{
    QString retryList;
    QStringList reasons;
    for (const RefusedRecipient &recipient : refused) {
        retryList += recipient.address + QLatin1Char(';');
        reasons.append(recipient.address + QStringLiteral(": ") + recipient.reason);
    }
    DbConnection &connection = DatabaseConnection();
    connection.BeginTransaction();
    try {
        connection.Execute(QueueEmailsAgainSql(group.ids, retryList));
        connection.Execute(MarkEmailsSentSql(group.ids, CurrentDateTime()));
        connection.Commit();
    } catch (...) {
        connection.Rollback();
        throw;
    }
    QString line = QStringLiteral("Email to %1 not sent to %2 (queued again for them)")
                       .arg(group.recipients, reasons.join(QStringLiteral("; ")));
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    CycleCounters.Failures.append(line);
}

void sendGroup(Group &group, MailSession &session, QString &unansweredServer)
{
    group.body += LineBreak + LineBreak + LineBreak + CompanySettings.AutomationServerEmailFooter;
    QList<RefusedRecipient> refused;
    try {
        // A server that let one message run out of time is not tried again in
        // this run: every further message would wait as long, and the cycle
        // would hold the window for the time limit once per message.
        if (!unansweredServer.isEmpty())
            throw MailError(QStringLiteral("not tried, the mail server did not answer an earlier message of "
                                           "this cycle (%1)").arg(unansweredServer));
        SendEmail(group.senderAddress, group.senderName, group.recipients,
                  NotificationSubject(CompanySettings.Name), group.body, &session, &refused);
    } catch (const MailError &error) {
        if (error.timedOut())
            unansweredServer = error.message();
        // The rows stay queued for the next cycle; the others still go out.
        // One log line, whatever line breaks the stored list holds.
        QString line = QStringLiteral("Email to %1 not sent: %2").arg(group.recipients, error.message());
        line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        CycleCounters.Failures.append(line);
        group.body.clear();
        group.ids.clear();
        return;
    }
    if (refused.isEmpty())
        DatabaseConnection().Execute(MarkEmailsSentSql(group.ids, CurrentDateTime()));
    else
        markSentAndQueueAgain(group, refused);
    group.body.clear();
    group.ids.clear();
    IncrementCounter(CycleCounters.Emails);
}

} // namespace

QString QueuedEmailsSql()
{
    return QStringLiteral("SELECT * FROM AutomationServer_EmailsSent WHERE EmailSent=0 AND EmailTo<>'' "
                          "ORDER BY EmailTo,ID");
}

QString MarkEmailsSentSql(const QString &ids, const QDateTime &sentAt)
{
    return QStringLiteral("UPDATE AutomationServer_EmailsSent SET EmailSent=1,DateSent='")
           + SqlText(DateText(sentAt)) + QStringLiteral("' WHERE ID IN (") + ids + QStringLiteral(")");
}

QString QueueEmailsAgainSql(const QString &ids, const QString &recipientList)
{
    return QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom,EmailFromName,EmailTo,EmailSubject,"
                          "EmailBody,EmailSent) SELECT EmailFrom,EmailFromName,N'")
           + SqlText(recipientList)
           + QStringLiteral("',EmailSubject,EmailBody,0 FROM AutomationServer_EmailsSent WHERE ID IN (") + ids
           + QStringLiteral(") ORDER BY ID");
}

QString NotificationSubject(const QString &companyName)
{
    return QStringLiteral("Notification from ") + companyName;
}

void SendQueuedEmails()
{
    Recordset &rows = SharedRecordset();
    rows.Open(QueuedEmailsSql(), DatabaseConnection());

    // SMTP sessions live for this run only and end when it does.
    MailSession session;
    Group group;
    QString unansweredServer;
    for (; !rows.Eof(); rows.MoveNext()) {
        const QString recipients = text(rows.Field(QStringLiteral("EmailTo")));
        // Grouping is by exact text: letter case and spaces count.
        if (!group.recipients.isEmpty() && group.recipients != recipients)
            sendGroup(group, session, unansweredServer);
        group.senderAddress = text(rows.Field(QStringLiteral("EmailFrom")));
        group.senderName = text(rows.Field(QStringLiteral("EmailFromName")));
        group.body += text(rows.Field(QStringLiteral("EmailBody"))) + LineBreak;
        if (!group.ids.isEmpty())
            group.ids += QLatin1Char(',');
        group.ids += QString::number(rows.Field(QStringLiteral("ID")).toLongLong());
        group.recipients = recipients;
    }
    if (!group.recipients.isEmpty())
        sendGroup(group, session, unansweredServer);
    rows.Close();
}
