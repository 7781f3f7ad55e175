#include "alerts/TrainingStatements.h"

#include "alerts/NotifyExpiredWithin.h"
#include "alerts/TrainingExpireRule.h"
#include "database/DateText.h"
#include "database/SqlText.h"
#include "database/ValueText.h"

namespace {
// The renewal date as the host computes it, never by this program.
const QLatin1String kRenewDate("DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining.CompletedDate)");
const QLatin1String kCrLf("\r\n");
// What the walk over the candidates and the one over the trainings due for an
// issue both read of a training, up to its renewal date.
const QLatin1String kTrainingColumns("SELECT CustomerEmployeeTraining.ID,CustomerEmployeeTraining.Completed,"
                                     "CustomerEmployeeTraining.CompletedDate,TrainingItem.Renews,TrainingItem.Optional,"
                                     "TrainingItem.Name,CustomerEmployee.FirstName,CustomerEmployee.MiddleName,"
                                     "CustomerEmployee.LastName,CustomerEmployee.Suffix,"
                                     "ServiceContract.PrimaryContactEmail AS CustomerEmail,CustomerName,"
                                     "Employee.Email AS ContractManagerEmail,ISNULL(tmpIssue.IssueID,0) AS IssueID,");

// Whether a stored renewal date (ItemKey, AUTO_Date) names the renewal date of
// the row. The stored value is DateText of that date as read, whole seconds
// (fractions dropped), in a text column or converted into a date-time column.
// So the renewal date is brought to whole seconds as a datetime: style 120
// text drops the fraction, and it is read back as a datetime. DATEADD
// returns the type of its date argument, so a date column's renewal date has
// no time part in that text; read back it is midnight, as its key is.
// A date-time key column is compared as it stands: the server can seek an
// index on (ItemID, key) and converts nothing per stored row. A text key is
// the one side converted, by TRY_CONVERT: a stored key that is no date
// matches nothing instead of failing the whole query.
QString RenewDateMatches(const QString &storedKey, RenewalKeyType type)
{
    const QString renewDate =
        QStringLiteral("CONVERT(datetime,CONVERT(VarChar(19),") + kRenewDate + QStringLiteral(",120),120)");
    if (type == RenewalKeyType::DateTime)
        return storedKey + QLatin1Char('=') + renewDate;
    return QStringLiteral("TRY_CONVERT(datetime,") + storedKey + QStringLiteral(")=") + renewDate;
}

// A training with its item, employee, contract and the contract's manager:
// both walks read the same rows.
const QLatin1String
    kTrainingJoins("FROM CustomerEmployeeTraining "
                   "LEFT JOIN TrainingItem ON CustomerEmployeeTraining.TrainingItemID=TrainingItem.ID "
                   "LEFT JOIN CustomerEmployee ON CustomerEmployeeTraining.EmployeeID=CustomerEmployee.ID "
                   "LEFT JOIN ServiceContract ON CustomerEmployeeTraining.ContractID = ServiceContract.ID "
                   "LEFT JOIN Employee ON ServiceContract.ContractManagerID = Employee.ID ");

// The training's automatic issue for its renewal date, if any.
QString AutomaticIssueJoin(RenewalKeyType issueKey)
{
    return QStringLiteral(
               "LEFT JOIN (SELECT ID AS IssueID,AUTO_Date,ItemID FROM Issues WHERE EnteredBy = 'AUTO SERVER' "
               "AND AUTO_Item = '") +
        SqlText(TrainingExpireAlertKind()) +
        QStringLiteral("') tmpIssue  ON CustomerEmployeeTraining.ID=tmpIssue.ItemID AND ") +
        RenewDateMatches(QStringLiteral("tmpIssue.AUTO_Date"), issueKey) + QStringLiteral(" ");
}
} // namespace

QString AutoCloseSelectQuery(const QDate &issueWindowDate)
{
    return QStringLiteral(
               "SELECT CustomerEmployeeTraining.*,TrainingItem.Renews,TrainingItem.Optional,I1.IssueID FROM "
               "(SELECT ID AS IssueID,ItemID,Status FROM Issues WHERE Status='Open' AND EnteredBy = 'AUTO SERVER' "
               "AND AUTO_Item = '") +
        SqlText(TrainingExpireAlertKind()) +
        QStringLiteral("') I1 LEFT JOIN CustomerEmployeeTraining ON I1.ItemID = CustomerEmployeeTraining.ID "
                       "LEFT JOIN TrainingItem ON CustomerEmployeeTraining.TrainingItemID=TrainingItem.ID "
                       "LEFT JOIN CustomerEmployee ON CustomerEmployeeTraining.EmployeeID=CustomerEmployee.ID ") +
        QStringLiteral(" WHERE ((") + kRenewDate + QStringLiteral(" > '") + SqlText(DateText(issueWindowDate)) +
        QStringLiteral("')") +
        QStringLiteral(" OR TrainingItem.Optional=1 OR CustomerEmployee.Suspended=1 OR CustomerEmployee.Terminated=1) "
                       "AND I1.Status='Open'");
}

QString AutoCloseNote(const QDateTime &closedAt)
{
    return kCrLf + kCrLf + QStringLiteral("(AUTO CLOSED ") + DateText(closedAt) + QStringLiteral(")");
}

QString CloseIssueStatement(const QString &note, const QDateTime &editedDate, const QVariant &issueId)
{
    return QStringLiteral("UPDATE Issues SET Description = CAST(Description AS nvarchar(max)) + N'") + SqlText(note) +
        QStringLiteral("',Status = '") + QStringLiteral("Closed") +
        QStringLiteral("',EditedBy='AUTO SERVER',EditedDate='") + SqlText(DateText(editedDate)) +
        QStringLiteral("' WHERE ID = ") + IdentityText(issueId, QStringLiteral("IssueID"));
}

QString NotificationCandidateQuery(const QString &category, const QDate &notificationWindowDate, RenewalKeyTypes keys)
{
    return QString(kTrainingColumns) + kRenewDate +
        QStringLiteral(" AS RenewDate,ISNULL(PrevEmails.EmailID,0) AS EmailID,ServiceContract.ID AS ContractID  ") +
        kTrainingJoins + QStringLiteral(" ") + AutomaticIssueJoin(keys.IssueKey) +
        QStringLiteral(
               " LEFT JOIN (SELECT ID AS EmailID,ItemID,ItemKey FROM AutomationServer_Emails WHERE Category = N'") +
        SqlText(category) + QStringLiteral("' AND Item = '") + SqlText(TrainingExpireAlertKind()) +
        QStringLiteral("') PrevEmails ON CustomerEmployeeTraining.ID=PrevEmails.ItemID AND ") +
        RenewDateMatches(QStringLiteral("PrevEmails.ItemKey"), keys.EmailKey) + QStringLiteral(" ") +
        QStringLiteral(" WHERE ServiceContract.Status='Active' AND ") + kRenewDate + QStringLiteral(" <= '") +
        SqlText(DateText(notificationWindowDate)) +
        QStringLiteral(
               "' AND TrainingItem.Optional=0 AND CustomerEmployee.Terminated=0 AND CustomerEmployee.Suspended=0") +
        RenewalLowerBoundCondition();
}

QString ItemDescription(const QVariant &name, const QVariant &lastName, const QVariant &firstName,
                        const QVariant &middleName, const QVariant &suffix, const QVariant &renewDate)
{
    return ValueText(name) + QStringLiteral(": ") + ValueText(lastName) + QStringLiteral(", ") + ValueText(firstName) +
        QStringLiteral(" ") + ValueText(middleName) + QStringLiteral(" ") + ValueText(suffix) +
        QStringLiteral(" - Expires ") + ValueText(renewDate);
}

QString NotificationBody(const QVariant &customerName, const QVariant &itemId, const QString &itemDescription)
{
    return QStringLiteral("Client: ") + ValueText(customerName) + kCrLf + QStringLiteral("Item ID: ") +
        ValueText(itemId) + kCrLf + itemDescription + kCrLf + kCrLf + QString(54, QLatin1Char('*')) + kCrLf;
}

QString NotificationSubject(const QVariant &customerName, const QString &itemDescription)
{
    return ValueText(customerName) + QStringLiteral(" - ") + itemDescription;
}

QString QueueRowStatement(const QString &emailFrom, const QString &emailFromName, const QString &emailTo,
                          const QString &subject, const QString &body)
{
    return QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom,EmailFromName,EmailTo,EmailSubject,"
                          "EmailBody,EmailSent) ") +
        QStringLiteral(" VALUES (N'") + SqlText(emailFrom) + QStringLiteral("',N'") + SqlText(emailFromName) +
        QStringLiteral("',N'") + SqlText(emailTo) + QStringLiteral("',N'") + SqlText(subject) + QStringLiteral("',N'") +
        SqlText(body) + QStringLiteral("',0)");
}

QString LogRowStatement(const NotificationLogValues &log)
{
    const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    return QStringLiteral("INSERT INTO AutomationServer_Emails (EmailDate,Category,Item,ItemID,ItemKey,"
                          "ContractManager,ContractSpecialist,Client) ") +
        QStringLiteral(" VALUES ('") + SqlText(DateText(log.EmailDate)) + QStringLiteral("',N'") +
        SqlText(log.Category) + QStringLiteral("','") + SqlText(TrainingExpireAlertKind()) + QStringLiteral("',") +
        IdentityText(log.ItemID, QStringLiteral("ID")) + QStringLiteral(",'") + SqlText(ValueText(log.RenewDate)) +
        QStringLiteral("',") + flag(log.ContractManager) + QStringLiteral(",") + flag(log.ContractSpecialist) +
        QStringLiteral(",") + flag(log.Client) + QStringLiteral(")");
}

QString AutomaticIssueSelectQuery(const QDate &issueWindowDate, RenewalKeyType issueKey)
{
    return QString(kTrainingColumns) + kRenewDate + QStringLiteral(" AS RenewDate,ServiceContract.ID AS ContractID ") +
        kTrainingJoins + AutomaticIssueJoin(issueKey) + QStringLiteral(" WHERE ServiceContract.Status='Active' AND ") +
        kRenewDate + QStringLiteral(" <= '") + SqlText(DateText(issueWindowDate)) +
        QStringLiteral(
               "' AND TrainingItem.Optional=0 AND CustomerEmployee.Terminated=0 AND CustomerEmployee.Suspended=0") +
        RenewalLowerBoundCondition();
}

QString AutomaticIssueInsertStatement(const AutomaticIssueValues &issue)
{
    return QStringLiteral("INSERT INTO Issues (ContractID,Category,ItemID,ItemDesc,IssueDate,DueDate,Description,"
                          "Status,Priority,EnteredBy,EnteredDate,EditedBy,EditedDate,AUTO_Item,Auto_Date)") +
        QStringLiteral(" VALUES (") + IdentityText(issue.ContractID, QStringLiteral("ContractID")) +
        QStringLiteral(",N'") + QString() // automatic issues carry no category
        + QStringLiteral("',") + IdentityText(issue.ItemID, QStringLiteral("ID")) + QStringLiteral(",N'") +
        SqlText(issue.ItemDesc) + QStringLiteral("','") + SqlText(DateText(issue.IssueDate)) + QStringLiteral("',") +
        QStringLiteral("'") + SqlText(ValueText(issue.DueDate)) + QStringLiteral("',N'") + SqlText(issue.Description) +
        QStringLiteral("','") + QStringLiteral("Open") + QStringLiteral("',N'") + SqlText(ValueText(issue.Priority)) +
        QStringLiteral("','AUTO SERVER','") + SqlText(DateText(issue.EnteredDate)) + QStringLiteral("',") +
        QStringLiteral("'AUTO SERVER','") + SqlText(DateText(issue.EditedDate)) + QStringLiteral("','") +
        SqlText(TrainingExpireAlertKind()) + QStringLiteral("','") + SqlText(ValueText(issue.AutoDate)) +
        QStringLiteral("')");
}

QString RenewalKeyTypesQuery()
{
    return QStringLiteral("SELECT TABLE_NAME,COLUMN_NAME,DATA_TYPE FROM INFORMATION_SCHEMA.COLUMNS WHERE "
                          "(TABLE_NAME=N'AutomationServer_Emails' AND COLUMN_NAME=N'ItemKey') OR "
                          "(TABLE_NAME=N'Issues' AND COLUMN_NAME=N'AUTO_Date')");
}
