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

void sendGroup(Group &group, MailSession &session)
{
    group.body += LineBreak + LineBreak + LineBreak + CompanySettings.AutomationServerEmailFooter;
    try {
        SendEmail(group.senderAddress, group.senderName, group.recipients,
                  NotificationSubject(CompanySettings.Name), group.body, &session);
    } catch (const MailError &error) {
        // The rows stay queued for the next cycle; the others still go out.
        // One log line, whatever line breaks the stored list holds.
        QString line = QStringLiteral("Email to %1 not sent: %2").arg(group.recipients, error.message());
        line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        CycleCounters.Failures.append(line);
        group.body.clear();
        group.ids.clear();
        return;
    }
    DatabaseConnection().Execute(MarkEmailsSentSql(group.ids, CurrentDateTime()));
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
    for (; !rows.Eof(); rows.MoveNext()) {
        const QString recipients = text(rows.Field(QStringLiteral("EmailTo")));
        // Grouping is by exact text: letter case and spaces count.
        if (!group.recipients.isEmpty() && group.recipients != recipients)
            sendGroup(group, session);
        group.senderAddress = text(rows.Field(QStringLiteral("EmailFrom")));
        group.senderName = text(rows.Field(QStringLiteral("EmailFromName")));
        group.body += text(rows.Field(QStringLiteral("EmailBody"))) + LineBreak;
        if (!group.ids.isEmpty())
            group.ids += QLatin1Char(',');
        group.ids += QString::number(rows.Field(QStringLiteral("ID")).toLongLong());
        group.recipients = recipients;
    }
    if (!group.recipients.isEmpty())
        sendGroup(group, session);
    rows.Close();
}
