// The statements sent to the host database are a contract: each is compared
// whole, for one known row, with the text the host expects.
#include "alerts/TrainingStatements.h"
#include "alerts/NotifyExpiredWithin.h"
#include "database/Clock.h"
#include "database/DateText.h"
#include "database/DbError.h"
#include "database/ValueText.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kAfternoon(QDate(2026, 12, 7), QTime(14, 5, 9));
const QDateTime kRenewal(QDate(2027, 1, 5), QTime(0, 0));
const QString kStars = QStringLiteral("******************************************************");

QString FirstAidDescription()
{
    return ItemDescription(QStringLiteral("First Aid"), QStringLiteral("Doe"), QStringLiteral("Jane"),
                           QStringLiteral("Q"), QStringLiteral("III"), kRenewal);
}

} // namespace

TEST(DateText, midnight_showsDateOnly)
{
    EXPECT_EQ(DateText(QDateTime(QDate(2027, 1, 5), QTime(0, 0))), QStringLiteral("1/5/2027"));
    EXPECT_EQ(DateText(QDate(2026, 12, 31)), QStringLiteral("12/31/2026"));
    // A datetime's first tick of the day (1/300 s) is still midnight.
    EXPECT_EQ(DateText(QDateTime(QDate(2026, 12, 21), QTime(0, 0, 0, 3))), QStringLiteral("12/21/2026"));
}

TEST(DateText, timeOfDay_showsLongTime)
{
    EXPECT_EQ(DateText(kAfternoon), QStringLiteral("12/7/2026 2:05:09 PM"));
    EXPECT_EQ(DateText(QDateTime(QDate(2026, 3, 1), QTime(0, 0, 1))), QStringLiteral("3/1/2026 12:00:01 AM"));
    EXPECT_EQ(ValueText(QVariant(QDateTime(QDate(2026, 3, 1), QTime(12, 0)))), QStringLiteral("3/1/2026 12:00:00 PM"));
    EXPECT_EQ(ValueText(QVariant()), QString());
}

TEST(AutoCloseStatements, knownIssue_matchesHostText)
{
    EXPECT_EQ(AutoCloseSelectQuery(QDate(2027, 1, 5)),
              QStringLiteral(
                  "SELECT CustomerEmployeeTraining.*,TrainingItem.Renews,TrainingItem.Optional,I1.IssueID FROM "
                  "(SELECT ID AS IssueID,ItemID,Status FROM Issues WHERE Status='Open' AND EnteredBy = 'AUTO SERVER' "
                  "AND AUTO_Item = 'Training Expire') I1 LEFT JOIN CustomerEmployeeTraining ON I1.ItemID = "
                  "CustomerEmployeeTraining.ID LEFT JOIN TrainingItem ON CustomerEmployeeTraining.TrainingItemID="
                  "TrainingItem.ID LEFT JOIN CustomerEmployee ON CustomerEmployeeTraining.EmployeeID="
                  "CustomerEmployee.ID  WHERE ((DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining."
                  "CompletedDate) > '1/5/2027') OR TrainingItem.Optional=1 OR CustomerEmployee.Suspended=1 OR "
                  "CustomerEmployee.Terminated=1) AND I1.Status='Open'"));

    const QString note = AutoCloseNote(kAfternoon);
    EXPECT_EQ(note, QStringLiteral("\r\n\r\n(AUTO CLOSED 12/7/2026 2:05:09 PM)"));
    EXPECT_EQ(
        CloseIssueStatement(note, kAfternoon, QVariant(qlonglong(57))),
        QStringLiteral(
            "UPDATE Issues SET Description = CAST(Description AS nvarchar(max)) + N'\r\n\r\n(AUTO CLOSED 12/7/2026 2:05:09 PM)',"
            "Status = 'Closed',EditedBy='AUTO SERVER',EditedDate='12/7/2026 2:05:09 PM' WHERE ID = 57"));
}

TEST(AutoCloseStatements, notAnIdentity_isRefusedNotInjected)
{
    const QString note = AutoCloseNote(kAfternoon);
    EXPECT_THROW(CloseIssueStatement(note, kAfternoon, QVariant(QStringLiteral("57 OR 1=1"))), DbError);
    EXPECT_THROW(CloseIssueStatement(note, kAfternoon, QVariant()), DbError);
}

TEST(NotificationTexts, nullParts_areEmptyWithSeparatorsKept)
{
    const QString description = ItemDescription(QStringLiteral("First Aid"), QStringLiteral("Doe"),
                                                QStringLiteral("Jane"), QVariant(), QVariant(), kRenewal);
    EXPECT_EQ(description, QStringLiteral("First Aid: Doe, Jane   - Expires 1/5/2027"));
    EXPECT_EQ(ItemDescription(QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant()),
              QStringLiteral(": ,    - Expires "));
    EXPECT_EQ(NotificationSubject(QVariant(), description),
              QStringLiteral(" - First Aid: Doe, Jane   - Expires 1/5/2027"));
    EXPECT_TRUE(NotificationBody(QVariant(), QVariant(qlonglong(9)), description)
                    .startsWith(QStringLiteral("Client: \r\nItem ID: 9\r\n")));
}

TEST(NotificationStatements, knownCertification_matchesHostText)
{
    EXPECT_EQ(
        NotificationCandidateQuery(QStringLiteral("Contract"), QDate(2027, 1, 5),
                                   {RenewalKeyType::Text, RenewalKeyType::DateTime}),
        QStringLiteral(
            "SELECT CustomerEmployeeTraining.ID,CustomerEmployeeTraining.Completed,CustomerEmployeeTraining.CompletedDate,"
            "TrainingItem.Renews,TrainingItem.Optional,TrainingItem.Name,CustomerEmployee.FirstName,"
            "CustomerEmployee.MiddleName,CustomerEmployee.LastName,CustomerEmployee.Suffix,"
            "ServiceContract.PrimaryContactEmail AS CustomerEmail,CustomerName,Employee.Email AS ContractManagerEmail,"
            "ISNULL(tmpIssue.IssueID,0) AS IssueID,DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining."
            "CompletedDate) AS RenewDate,ISNULL(PrevEmails.EmailID,0) AS EmailID,ServiceContract.ID AS ContractID  "
            "FROM CustomerEmployeeTraining LEFT JOIN TrainingItem ON CustomerEmployeeTraining.TrainingItemID="
            "TrainingItem.ID LEFT JOIN CustomerEmployee ON CustomerEmployeeTraining.EmployeeID=CustomerEmployee.ID "
            "LEFT JOIN ServiceContract ON CustomerEmployeeTraining.ContractID = ServiceContract.ID LEFT JOIN Employee "
            "ON ServiceContract.ContractManagerID = Employee.ID  LEFT JOIN (SELECT ID AS IssueID,AUTO_Date,ItemID FROM "
            "Issues WHERE EnteredBy = 'AUTO SERVER' AND AUTO_Item = 'Training Expire') tmpIssue  ON "
            "CustomerEmployeeTraining.ID=tmpIssue.ItemID AND tmpIssue.AUTO_Date=CONVERT(datetime,"
            "CONVERT(VarChar(19),DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining.CompletedDate),120),120)"
            "  LEFT JOIN (SELECT ID AS "
            "EmailID,ItemID,ItemKey FROM AutomationServer_Emails WHERE Category = N'Contract' AND Item = "
            "'Training Expire') PrevEmails ON CustomerEmployeeTraining.ID=PrevEmails.ItemID AND "
            "TRY_CONVERT(datetime,PrevEmails.ItemKey)=CONVERT(datetime,"
            "CONVERT(VarChar(19),DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining.CompletedDate),120),120)"
            "  WHERE "
            "ServiceContract.Status='Active' AND DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining."
            "CompletedDate) <= '1/5/2027' AND TrainingItem.Optional=0 AND CustomerEmployee.Terminated=0 AND "
            "CustomerEmployee.Suspended=0"));

    const QString body = NotificationBody(QStringLiteral("Acme Ltd"), QVariant(qlonglong(1234)), FirstAidDescription());
    EXPECT_EQ(QueueRowStatement(QStringLiteral("alerts@velmar.example"), QStringLiteral("Velmar Services"),
                                QStringLiteral("manager@velmar.example"),
                                NotificationSubject(QStringLiteral("Acme Ltd"), FirstAidDescription()), body),
              QStringLiteral(
                  "INSERT INTO AutomationServer_EmailsSent (EmailFrom,EmailFromName,EmailTo,EmailSubject,"
                  "EmailBody,EmailSent)  VALUES (N'alerts@velmar.example',N'Velmar Services',"
                  "N'manager@velmar.example',N'Acme Ltd - First Aid: Doe, Jane Q III - Expires 1/5/2027',"
                  "N'Client: Acme Ltd\r\nItem ID: 1234\r\nFirst Aid: Doe, Jane Q III - Expires 1/5/2027\r\n\r\n") +
                  kStars + QStringLiteral("\r\n',0)"));

    NotificationLogValues log;
    log.EmailDate = kAfternoon;
    log.Category = QStringLiteral("Contract");
    log.ItemID = qlonglong(1234);
    log.RenewDate = kRenewal;
    log.ContractManager = true;
    log.ContractSpecialist = false;
    log.Client = true;
    EXPECT_EQ(LogRowStatement(log),
              QStringLiteral(
                  "INSERT INTO AutomationServer_Emails (EmailDate,Category,Item,ItemID,ItemKey,ContractManager,"
                  "ContractSpecialist,Client)  VALUES ('12/7/2026 2:05:09 PM',N'Contract','Training Expire',1234,"
                  "'1/5/2027',1,0,1)"));
}

TEST(IssueStatements, knownTraining_matchesHostText)
{
    EXPECT_EQ(
        AutomaticIssueSelectQuery(QDate(2026, 12, 22)),
        QStringLiteral(
            "SELECT CustomerEmployeeTraining.ID,CustomerEmployeeTraining.Completed,CustomerEmployeeTraining.CompletedDate,"
            "TrainingItem.Renews,TrainingItem.Optional,TrainingItem.Name,CustomerEmployee.FirstName,"
            "CustomerEmployee.MiddleName,CustomerEmployee.LastName,CustomerEmployee.Suffix,"
            "ServiceContract.PrimaryContactEmail AS CustomerEmail,CustomerName,Employee.Email AS ContractManagerEmail,"
            "ISNULL(tmpIssue.IssueID,0) AS IssueID,DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining."
            "CompletedDate) AS RenewDate,ServiceContract.ID AS ContractID FROM CustomerEmployeeTraining LEFT JOIN "
            "TrainingItem ON CustomerEmployeeTraining.TrainingItemID=TrainingItem.ID LEFT JOIN CustomerEmployee ON "
            "CustomerEmployeeTraining.EmployeeID=CustomerEmployee.ID LEFT JOIN ServiceContract ON "
            "CustomerEmployeeTraining.ContractID = ServiceContract.ID LEFT JOIN Employee ON "
            "ServiceContract.ContractManagerID = Employee.ID LEFT JOIN (SELECT ID AS IssueID,AUTO_Date,ItemID FROM "
            "Issues WHERE EnteredBy = 'AUTO SERVER' AND AUTO_Item = 'Training Expire') tmpIssue  ON "
            "CustomerEmployeeTraining.ID=tmpIssue.ItemID AND TRY_CONVERT(datetime,tmpIssue.AUTO_Date)=CONVERT("
            "datetime,CONVERT(VarChar(19),DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining.CompletedDate),"
            "120),120)  WHERE "
            "ServiceContract.Status='Active' AND DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining."
            "CompletedDate) <= '12/22/2026' AND TrainingItem.Optional=0 AND CustomerEmployee.Terminated=0 AND "
            "CustomerEmployee.Suspended=0"));

    AutomaticIssueValues issue;
    issue.ContractID = qlonglong(7);
    issue.ItemID = qlonglong(1234);
    issue.ItemDesc = FirstAidDescription();
    issue.IssueDate = QDate(2026, 12, 7);
    issue.DueDate = kRenewal;
    issue.Description = QStringLiteral("(AUTO ISSUE) ") + FirstAidDescription();
    issue.Priority = QStringLiteral("High");
    issue.EnteredDate = kAfternoon;
    issue.EditedDate = kAfternoon.addSecs(1);
    issue.AutoDate = kRenewal;
    EXPECT_EQ(AutomaticIssueInsertStatement(issue),
              QStringLiteral(
                  "INSERT INTO Issues (ContractID,Category,ItemID,ItemDesc,IssueDate,DueDate,Description,Status,"
                  "Priority,EnteredBy,EnteredDate,EditedBy,EditedDate,AUTO_Item,Auto_Date) VALUES (7,N'',1234,"
                  "N'First Aid: Doe, Jane Q III - Expires 1/5/2027','12/7/2026','1/5/2027',N'(AUTO ISSUE) First Aid: "
                  "Doe, Jane Q III - Expires 1/5/2027','Open',N'High','AUTO SERVER','12/7/2026 2:05:09 PM',"
                  "'AUTO SERVER','12/7/2026 2:05:10 PM','Training Expire','1/5/2027')"));
}

TEST(SelectionLowerBound, setOnly_endsBothSelectionsWithTheOldestRenewalDate)
{
    const QDate window(2027, 1, 5);
    const QString notifications = NotificationCandidateQuery(QStringLiteral("Contract"), window);
    const QString issues = AutomaticIssueSelectQuery(window);
    SetClockForTests([] { return QDateTime(QDate(2026, 12, 31), QTime(9, 30)); });
    SetNotifyExpiredWithinDays(30);
    const QString bound =
        QStringLiteral(" AND DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining.CompletedDate) >= '") +
        DateText(QDate(2026, 12, 1)) + QStringLiteral("'");
    EXPECT_EQ(NotificationCandidateQuery(QStringLiteral("Contract"), window), notifications + bound);
    EXPECT_EQ(AutomaticIssueSelectQuery(window), issues + bound);
    SetNotifyExpiredWithinDays(std::nullopt);
    SetClockForTests({});
}

// The local time of the current second, in whole seconds, at every call
// (the answer is kept within a second, never beyond it).
TEST(Clock, currentDateTime_isTheLocalTimeOfThisSecond)
{
    SetClockForTests({});
    const qint64 first = QDateTime::currentSecsSinceEpoch();
    for (qint64 before = first; before <= first + 1; before = QDateTime::currentSecsSinceEpoch()) {
        const QDateTime now = CurrentDateTime();
        const qint64 after = QDateTime::currentSecsSinceEpoch();
        EXPECT_EQ(now.timeSpec(), Qt::LocalTime);
        EXPECT_EQ(now.time().msec(), 0);
        ASSERT_GE(now.toSecsSinceEpoch(), before);
        ASSERT_LE(now.toSecsSinceEpoch(), after);
    }
}
