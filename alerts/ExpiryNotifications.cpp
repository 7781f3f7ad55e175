#include "alerts/ExpiryNotifications.h"

#include "alerts/IsolatedBatches.h"
#include "alerts/RenewalKeyTypes.h"
#include "alerts/TrainingExpireRule.h"
#include "alerts/TrainingStatements.h"
#include "database/Clock.h"
#include "database/DbConnection.h"
#include "database/Recordset.h"
#include "database/ValueText.h"
#include "email/RecipientLookups.h"
#include "startup/CompanySettings.h"

#include <QHash>
#include <QStringList>

namespace {

struct Notification
{
    QStringList recipients; // manager, specialists, client, each only when it has an address
    QString subject;
    QString body;
    NotificationLogValues log;
};

// A certification's queue rows and its log row stand together or not at
// all: one whose log row is missing would be mailed again at the next poll.
// Nothing of a rolled-back certification has been mailed yet (the queue is
// sent later in the cycle): it is simply notified at the next poll.
QStringList NotificationStatements(Notification &notification)
{
    QStringList statements;
    for (const QString &recipient : notification.recipients)
        statements.append(QueueRowStatement(CompanySettings.AutomationServerEmailFrom, CompanySettings.Name, recipient,
                                            notification.subject, notification.body));
    notification.log.EmailDate = CurrentDateTime();
    statements.append(LogRowStatement(notification.log));
    return statements;
}

// The specialists and client address of a contract cannot change while the
// stretch runs, so each contract is looked up once per run, not per
// certification: the queued rows are the same, with fewer round trips.
class ContractRecipients
{
public:
    QString Specialists(const QString &contractId)
    {
        auto found = m_specialists.constFind(contractId);
        if (found == m_specialists.constEnd())
            found = m_specialists.insert(contractId, GetContractSpecialistEmails(contractId));
        return *found;
    }

    QString Client(const QString &contractId, const QString &category)
    {
        auto found = m_clients.constFind(contractId);
        if (found == m_clients.constEnd())
            found = m_clients.insert(contractId, GetContractEmail(contractId, category));
        return *found;
    }

private:
    QHash<QString, QString> m_specialists;
    QHash<QString, QString> m_clients; // for the one Category of this run
};

} // namespace

void QueueExpiryNotifications(TrainingExpiryOutcome &outcome)
{
    const bool toManager = SwitchIsOn(TrainingExpireRule.EmailContractManager, QStringLiteral("EmailContractManager"));
    const bool toSpecialists =
        SwitchIsOn(TrainingExpireRule.EmailContractSpecialist, QStringLiteral("EmailContractSpecialist"));
    const bool toClient = SwitchIsOn(TrainingExpireRule.EmailClient, QStringLiteral("EmailClient"));
    const QString category = TrainingExpireRule.Category;
    ContractRecipients contracts;
    IsolatedBatches batches(DatabaseConnection(), outcome.Failures, [] {});

    const RenewalKeyTypes keys = ReadRenewalKeyTypes(DatabaseConnection());
    Recordset &candidates = SharedRecordset();
    candidates.Open(NotificationCandidateQuery(category, NotificationWindowDate(), keys), DatabaseConnection());
    const ClosesRecordset closeAtEnd(candidates);
    for (; !candidates.Eof(); candidates.MoveNext()) {
        // EmailID is the log row of this certification and renewal date, or 0.
        if (ValueText(candidates.Field(QStringLiteral("EmailID"))) != QLatin1String("0"))
            continue;

        const QVariant id = candidates.Field(QStringLiteral("ID"));
        const QVariant customerName = candidates.Field(QStringLiteral("CustomerName"));
        const QVariant renewDate = candidates.Field(QStringLiteral("RenewDate"));
        const QString itemDescription =
            ItemDescription(candidates.Field(QStringLiteral("Name")), candidates.Field(QStringLiteral("LastName")),
                            candidates.Field(QStringLiteral("FirstName")),
                            candidates.Field(QStringLiteral("MiddleName")), candidates.Field(QStringLiteral("Suffix")),
                            renewDate);
        Notification notification;
        notification.body = NotificationBody(customerName, id, itemDescription);
        notification.subject = NotificationSubject(customerName, itemDescription);

        if (toManager) {
            const QString manager = ValueText(candidates.Field(QStringLiteral("ContractManagerEmail")));
            if (!manager.isEmpty())
                notification.recipients.append(manager);
        }
        const QString contractId =
            IdentityText(candidates.Field(QStringLiteral("ContractID")), QStringLiteral("ContractID"));
        if (toSpecialists) {
            const QString specialists = contracts.Specialists(contractId);
            if (!specialists.isEmpty())
                notification.recipients.append(specialists);
        }
        if (toClient) {
            const QString client = contracts.Client(contractId, category);
            if (!client.isEmpty())
                notification.recipients.append(client);
        }

        // The log records the rule's switches, whether or not a row was queued for each.
        notification.log.Category = category;
        notification.log.ItemID = id;
        notification.log.RenewDate = renewDate;
        notification.log.ContractManager = toManager;
        notification.log.ContractSpecialist = toSpecialists;
        notification.log.Client = toClient;
        batches.Write(QStringLiteral("The notification of training %1 (%2)").arg(ValueText(id), itemDescription),
                      NotificationStatements(notification));
    }
    batches.Finish();
}
