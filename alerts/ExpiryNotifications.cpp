#include "ExpiryNotifications.h"

#include "Clock.h"
#include "ClosesRecordset.h"
#include "CompanySettings.h"
#include "DbConnection.h"
#include "Recordset.h"
#include "RecipientLookups.h"
#include "TrainingExpireRule.h"
#include "TrainingStatements.h"
#include "ValueText.h"

#include <QHash>
#include <QStringList>

namespace {

struct Notification
{
    QStringList recipients;   // manager, specialists, client, each only when it has an address
    QString subject;
    QString body;
    NotificationLogValues log;
};

// A certification's queue rows and its log row stand together or not at
// all: one whose log row is missing would be mailed again at the next poll.
// Several certifications share a transaction, because a commit (with its
// journal sync, or a round trip to the server) cost more than the rows
// themselves. A failure rolls back the whole batch it happened in; nothing of
// it has been mailed yet (the queue is sent later in the cycle), and those
// certifications are simply notified at the next poll.
class NotificationBatches
{
public:
    static constexpr int CertificationsPerCommit = 200;

    NotificationBatches()
        : m_connection(DatabaseConnection())
    {
    }
    // Leaving without Finish() (a failure on the way) discards the open batch.
    ~NotificationBatches()
    {
        if (m_open)
            m_connection.Rollback();
    }
    NotificationBatches(const NotificationBatches &) = delete;
    NotificationBatches &operator=(const NotificationBatches &) = delete;

    void Write(Notification &notification)
    {
        if (!m_open) {
            m_connection.BeginTransaction();
            m_open = true;
        }
        for (const QString &recipient : notification.recipients)
            m_connection.Execute(QueueRowStatement(CompanySettings.AutomationServerEmailFrom, CompanySettings.Name,
                                                   recipient, notification.subject, notification.body));
        notification.log.EmailDate = CurrentDateTime();
        m_connection.Execute(LogRowStatement(notification.log));
        if (++m_inBatch == CertificationsPerCommit)
            Finish();
    }

    // Commits the open batch, if any.
    void Finish()
    {
        if (!m_open)
            return;
        // A commit that fails leaves the transaction open: the destructor
        // rolls it back.
        m_connection.Commit();
        m_open = false;
        m_inBatch = 0;
    }

private:
    DbConnection &m_connection;
    bool m_open = false;
    int m_inBatch = 0;
};

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
    QHash<QString, QString> m_clients;   // for the one Category of this run
};

} // namespace

void QueueExpiryNotifications()
{
    const bool toManager = SwitchIsOn(TrainingExpireRule.EmailContractManager, QStringLiteral("EmailContractManager"));
    const bool toSpecialists =
        SwitchIsOn(TrainingExpireRule.EmailContractSpecialist, QStringLiteral("EmailContractSpecialist"));
    const bool toClient = SwitchIsOn(TrainingExpireRule.EmailClient, QStringLiteral("EmailClient"));
    const QString category = TrainingExpireRule.Category;
    ContractRecipients contracts;
    NotificationBatches batches;

    Recordset &candidates = SharedRecordset();
    candidates.Open(NotificationCandidateQuery(category, NotificationWindowDate()), DatabaseConnection());
    const ClosesRecordset closeAtEnd(candidates);
    for (; !candidates.Eof(); candidates.MoveNext()) {
        // EmailID is the log row of this certification and renewal date, or 0.
        if (ValueText(candidates.Field(QStringLiteral("EmailID"))) != QLatin1String("0"))
            continue;

        const QVariant id = candidates.Field(QStringLiteral("ID"));
        const QVariant customerName = candidates.Field(QStringLiteral("CustomerName"));
        const QVariant renewDate = candidates.Field(QStringLiteral("RenewDate"));
        const QString itemDescription = ItemDescription(candidates.Field(QStringLiteral("Name")),
                                                        candidates.Field(QStringLiteral("LastName")),
                                                        candidates.Field(QStringLiteral("FirstName")),
                                                        candidates.Field(QStringLiteral("MiddleName")),
                                                        candidates.Field(QStringLiteral("Suffix")), renewDate);
        Notification notification;
        notification.body = NotificationBody(customerName, id, itemDescription);
        notification.subject = NotificationSubject(customerName, itemDescription);

        if (toManager) {
            const QString manager = ValueText(candidates.Field(QStringLiteral("ContractManagerEmail")));
            if (!manager.isEmpty())
                notification.recipients.append(manager);
        }
        const QString contractId = IdentityText(candidates.Field(QStringLiteral("ContractID")), QStringLiteral("ContractID"));
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
        batches.Write(notification);
    }
    batches.Finish();
}
