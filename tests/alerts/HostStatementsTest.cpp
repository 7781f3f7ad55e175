// The system's own statement texts, as the task cycle builds them, run
// against the embedded schema: the whole dialect at work on the statements
// that matter, including the de-duplication that rests on
// CAST(DATEADD(...) AS VarChar) equalling a stored date.
#include "alerts/TrainingExpireRule.h"
#include "alerts/TrainingStatements.h"
#include "database/DateText.h"
#include "database/DbConnection.h"
#include "database/Recordset.h"
#include "database/ValueText.h"
#include "email/RecipientLookups.h"
#include "email/SendQueuedEmails.h"
#include "startup/CompanySettings.h"
#include "tests/alerts/TrainingDatabase.h"

#include <QDateTime>

#include <algorithm>

namespace {

// Today is Monday 7 December 2026 in this data set.
const QDate Today(2026, 12, 7);
const QDateTime Now(QDate(2026, 12, 7), QTime(14, 5, 9));

class HostStatements : public TrainingDatabase
{
protected:
    void SetUp() override
    {
        TrainingDatabase::SetUp();
        db.exec(QStringLiteral(R"(
INSERT INTO Company (Name, AutomationServerPoll, AutomationServerEmailFrom) VALUES ('Velmar Training Services', 1, 'alerts@example.com');
INSERT INTO AutomationServer_Alert (Item, Category, EmailContractManager, EmailContractSpecialist, EmailClient,
    DaysInAdvance, CreateIssue, CreateIssueDaysInAdvance, IssuePriority, AutoCloseIssue)
    VALUES ('Training Expire', 'Contract', 1, 1, 1, 30, 1, 14, 'High', 1);
INSERT INTO Employee (ID, FirstName, LastName, Email) VALUES (1, 'Maria', 'Manager', 'manager@example.com');
INSERT INTO Employee (ID, FirstName, LastName, Email) VALUES (2, 'Sam', 'Specialist', 'specialist@example.com');
INSERT INTO Employee (ID, FirstName, LastName, Email) VALUES (3, 'Nora', 'NoMail', NULL);
INSERT INTO ServiceContract (ID, CustomerName, Status, PrimaryContactEmail, ContractManagerID, EmailEmployee, EmailContract)
    VALUES (1, 'O''Hara Logistics', 'Active', 'primary@example.org', 1, 'staff@example.org', 'contract@example.org');
INSERT INTO ServiceContract (ID, CustomerName, Status, ContractManagerID) VALUES (2, 'Closed Co', 'Inactive', 1);
INSERT INTO ServiceContractSpecialist (ServiceContractID, EmployeeID) VALUES (1, 2);
INSERT INTO ServiceContractSpecialist (ServiceContractID, EmployeeID) VALUES (1, 3);
INSERT INTO TrainingItem (ID, Name, Renews, Optional) VALUES (1, 'First Aid', 24, 0);
INSERT INTO TrainingItem (ID, Name, Renews, Optional) VALUES (2, 'Forklift', 12, 1);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (1, 'Jane', 'Q', 'Doe', 'III', 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (2, 'Sean', NULL, 'O''Brien', NULL, 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, LastName, Suspended, Terminated) VALUES (3, 'Terry', 'Gone', 0, 1);
INSERT INTO CustomerEmployee (ID, FirstName, LastName, Suspended, Terminated) VALUES (4, 'Sue', 'Paused', 1, 0);
-- due within 30 days (5 January 2027), not within 14
INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID) VALUES (1, 1, '2025-01-05 00:00:00', 1, 1, 1);
-- due within 14 days, with a time of day
INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID) VALUES (2, 1, '2024-12-10 14:30:00', 1, 2, 1);
-- overdue, renewal clamped from 29 February to 28 February 2026
INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID) VALUES (3, 1, '2024-02-29 00:00:00', 1, 2, 1);
-- never candidates: terminated, suspended, optional item, inactive contract, far future, no completion
INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID) VALUES (4, 1, '2025-01-01 00:00:00', 1, 3, 1);
INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID) VALUES (5, 1, '2025-01-01 00:00:00', 1, 4, 1);
INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID) VALUES (6, 1, '2025-01-01 00:00:00', 2, 1, 1);
INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID) VALUES (7, 1, '2025-01-01 00:00:00', 1, 1, 2);
INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID) VALUES (8, 1, '2026-06-01 00:00:00', 1, 1, 1);
INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID) VALUES (9, 0, NULL, 1, 1, 1);
)"));
    }

    // ID -> row of the candidate query, through the shared recordset.
    QMap<int, QVariantMap> candidates()
    {
        return rowsById(NotificationCandidateQuery(QStringLiteral("Contract"), Today.addDays(30)));
    }

    void queue(const QString &to, const QString &subject, const QString &body)
    {
        connection.Execute(
            QueueRowStatement(QStringLiteral("alerts@example.com"), QStringLiteral("Velmar"), to, subject, body));
    }

    QMap<int, QVariantMap> rowsById(const QString &sql, const QString &idColumn = QStringLiteral("ID"))
    {
        QMap<int, QVariantMap> rows;
        Recordset &rs = SharedRecordset();
        rs.Open(sql, connection);
        while (!rs.Eof()) {
            QVariantMap row;
            for (const QString &column : rs.ColumnNames())
                row.insert(column, rs.Field(column));
            rows.insert(rs.Field(idColumn).toInt(), row);
            rs.MoveNext();
        }
        rs.Close();
        return rows;
    }

    DbConnection &connection = DatabaseConnection();
};

} // namespace

TEST_F(HostStatements, companyAndRuleQueries_returnTheirRows)
{
    Recordset rs;
    rs.Open(CompanySettingsSql(), connection);
    ASSERT_FALSE(rs.Eof() && rs.Bof());
    EXPECT_EQ(rs.Field(QStringLiteral("Name")).toString(), QStringLiteral("Velmar Training Services"));
    EXPECT_EQ(rs.Field(QStringLiteral("AutomationServerPoll")).toInt(), 1);
    rs.Open(TrainingExpireRuleQuery(), connection);
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.Field(QStringLiteral("Category")).toString(), QStringLiteral("Contract"));
    EXPECT_EQ(rs.Field(QStringLiteral("CreateIssueDaysInAdvance")).toInt(), 14);
    EXPECT_EQ(rs.Field(QStringLiteral("EmailClient")).toInt(), 1);
}

TEST_F(HostStatements, candidateQuery_selectsDueRequiredTrainingOfWorkingEmployeesOnActiveContracts)
{
    const QMap<int, QVariantMap> rows = candidates();
    EXPECT_EQ(rows.keys(), (QList<int>{1, 2, 3}));
    EXPECT_EQ(rows[1].value(QStringLiteral("RenewDate")).toDateTime(),
              QDateTime(QDate(2027, 1, 5), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(rows[2].value(QStringLiteral("RenewDate")).toDateTime(),
              QDateTime(QDate(2026, 12, 10), QTime(14, 30), Qt::UTC));
    EXPECT_EQ(rows[3].value(QStringLiteral("RenewDate")).toDateTime(),
              QDateTime(QDate(2026, 2, 28), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(rows[1].value(QStringLiteral("CustomerName")).toString(), QStringLiteral("O'Hara Logistics"));
    EXPECT_EQ(rows[1].value(QStringLiteral("ContractManagerEmail")).toString(), QStringLiteral("manager@example.com"));
    EXPECT_TRUE(rows[2].value(QStringLiteral("MiddleName")).isNull());
    for (const QVariantMap &row : rows) {
        EXPECT_EQ(row.value(QStringLiteral("EmailID")).toString(), QStringLiteral("0"));
        EXPECT_EQ(row.value(QStringLiteral("IssueID")).toString(), QStringLiteral("0"));
    }
    // The window is inclusive: 5 January is in when the window ends on it.
    EXPECT_TRUE(rowsById(NotificationCandidateQuery(QStringLiteral("Contract"), QDate(2027, 1, 5))).contains(1));
    EXPECT_FALSE(rowsById(NotificationCandidateQuery(QStringLiteral("Contract"), QDate(2027, 1, 4))).contains(1));
}

TEST_F(HostStatements, loggedNotification_isFoundAgainForTheSameRenewalDateOnly)
{
    const QMap<int, QVariantMap> before = candidates();
    for (const QVariantMap &row : before) {
        queue(QStringLiteral("manager@example.com"), QStringLiteral("O'Hara - subject"),
              QStringLiteral("Client: O'Hara\r\n"));
        connection.Execute(LogRowStatement({Now, QStringLiteral("Contract"), row.value(QStringLiteral("ID")),
                                            row.value(QStringLiteral("RenewDate")), true, true, false}));
    }
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT ItemKey FROM AutomationServer_Emails WHERE ItemID=2")).toString(),
              QStringLiteral("2026-12-10 14:30:00"));
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT EmailDate FROM AutomationServer_Emails WHERE ItemID=2")).toString(),
              QStringLiteral("2026-12-07 14:05:09"));
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT EmailSubject FROM AutomationServer_EmailsSent LIMIT 1")).toString(),
              QStringLiteral("O'Hara - subject"));

    const QMap<int, QVariantMap> after = candidates();
    ASSERT_EQ(after.keys(), (QList<int>{1, 2, 3}));
    for (const QVariantMap &row : after)
        EXPECT_NE(row.value(QStringLiteral("EmailID")).toString(), QStringLiteral("0"));

    // Another category does not see these log rows.
    for (const QVariantMap &row :
         rowsById(NotificationCandidateQuery(QStringLiteral("Contract Employee"), Today.addDays(30))))
        EXPECT_EQ(row.value(QStringLiteral("EmailID")).toInt(), 0);

    // Renewed training: a new renewal date, no log row for it yet.
    db.exec(QStringLiteral("UPDATE CustomerEmployeeTraining SET CompletedDate='2024-12-31 00:00:00' WHERE ID=1"));
    EXPECT_EQ(candidates()[1].value(QStringLiteral("EmailID")).toInt(), 0);
}

TEST_F(HostStatements, automaticIssues_areOpenedOncePerRenewalDateAndClosedWhenRenewed)
{
    const QDate issueWindow = Today.addDays(14);
    const QMap<int, QVariantMap> due = rowsById(AutomaticIssueSelectQuery(issueWindow));
    ASSERT_EQ(due.keys(), (QList<int>{2, 3}));
    for (const QVariantMap &row : due) {
        ASSERT_EQ(row.value(QStringLiteral("IssueID")).toString(), QStringLiteral("0"));
        const QString desc = row.value(QStringLiteral("Name")).toString() + QStringLiteral(": ") +
            row.value(QStringLiteral("LastName")).toString() + QStringLiteral(" - Expires ") +
            ValueText(row.value(QStringLiteral("RenewDate")));
        const QVariant renewal = row.value(QStringLiteral("RenewDate"));
        connection.Execute(AutomaticIssueInsertStatement(
            {row.value(QStringLiteral("ContractID")), row.value(QStringLiteral("ID")), desc, Today, renewal,
             QStringLiteral("(AUTO ISSUE) ") + desc, QStringLiteral("High"), Now, Now, renewal}));
    }
    EXPECT_EQ(db.queryRows(
                  QStringLiteral("SELECT ItemID, AUTO_Date, DueDate, IssueDate, Status FROM Issues ORDER BY ItemID")),
              (QList<QVariantList>{{2, QStringLiteral("2026-12-10 14:30:00"), QStringLiteral("2026-12-10 14:30:00"),
                                    QStringLiteral("2026-12-07 00:00:00"), QStringLiteral("Open")},
                                   {3, QStringLiteral("2026-02-28 00:00:00"), QStringLiteral("2026-02-28 00:00:00"),
                                    QStringLiteral("2026-12-07 00:00:00"), QStringLiteral("Open")}}));
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT ItemDesc FROM Issues WHERE ItemID=2")).toString(),
              QStringLiteral("First Aid: O'Brien - Expires 12/10/2026 2:30:00 PM"));

    // Found again: no second issue for the same renewal date.
    for (const QVariantMap &row : rowsById(AutomaticIssueSelectQuery(issueWindow)))
        EXPECT_NE(row.value(QStringLiteral("IssueID")).toString(), QStringLiteral("0"));
    // The notification query sees the issues too.
    EXPECT_NE(candidates()[2].value(QStringLiteral("IssueID")).toInt(), 0);

    // Nothing to close while the training is still due.
    EXPECT_TRUE(rowsById(AutoCloseSelectQuery(issueWindow), QStringLiteral("IssueID")).isEmpty());

    // Record 2 renewed: its issue is selected and closed with a note.
    db.exec(QStringLiteral("UPDATE CustomerEmployeeTraining SET CompletedDate='2026-12-01 00:00:00' WHERE ID=2"));
    const QMap<int, QVariantMap> toClose = rowsById(AutoCloseSelectQuery(issueWindow), QStringLiteral("IssueID"));
    ASSERT_EQ(toClose.size(), 1);
    const int issueId = toClose.firstKey();
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT ItemID FROM Issues WHERE ID=%1").arg(issueId)).toInt(), 2);
    connection.Execute(CloseIssueStatement(AutoCloseNote(Now), Now, issueId));
    const QVariantMap closed = db.queryRow(QStringLiteral("SELECT * FROM Issues WHERE ID=%1").arg(issueId));
    EXPECT_EQ(closed.value(QStringLiteral("Status")).toString(), QStringLiteral("Closed"));
    EXPECT_EQ(closed.value(QStringLiteral("EditedDate")).toString(), QStringLiteral("2026-12-07 14:05:09"));
    EXPECT_TRUE(closed.value(QStringLiteral("Description"))
                    .toString()
                    .endsWith(QStringLiteral("\r\n\r\n(AUTO CLOSED 12/7/2026 2:05:09 PM)")));
    EXPECT_TRUE(rowsById(AutoCloseSelectQuery(issueWindow), QStringLiteral("IssueID")).isEmpty());

    // The suspended employee's issue is closed too.
    db.exec(QStringLiteral("UPDATE CustomerEmployee SET Suspended=1 WHERE ID=2"));
    EXPECT_EQ(rowsById(AutoCloseSelectQuery(issueWindow), QStringLiteral("IssueID")).size(), 1);
}

TEST_F(HostStatements, queue_isReadInRecipientOrderAndMarkedSent)
{
    for (const QString &to :
         {QStringLiteral("b@example.com"), QStringLiteral("a@example.com"), QString(), QStringLiteral("b@example.com")})
        queue(to, QStringLiteral("s"), QStringLiteral("body"));
    db.exec(QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailTo, EmailSent) VALUES (NULL, 0)"));
    const QuerySnapshot queued = connection.Query(QueuedEmailsSql());
    QStringList order;
    for (const QList<QVariant> &row : queued.rows)
        order << row[queued.columns.indexOf(QStringLiteral("EmailTo"))].toString() + QLatin1Char('#') +
                row[queued.columns.indexOf(QStringLiteral("ID"))].toString();
    EXPECT_EQ(order,
              (QStringList{QStringLiteral("a@example.com#2"), QStringLiteral("b@example.com#1"),
                           QStringLiteral("b@example.com#4")}));
    connection.Execute(MarkEmailsSentSql(QStringLiteral("1,4"), Now));
    EXPECT_EQ(db.queryRows(
                  QStringLiteral("SELECT ID, DateSent FROM AutomationServer_EmailsSent WHERE EmailSent=1 ORDER BY ID")),
              (QList<QVariantList>{{1, QStringLiteral("2026-12-07 14:05:09")},
                                   {4, QStringLiteral("2026-12-07 14:05:09")}}));
}

TEST_F(HostStatements, lookups_returnSpecialistsContractAndIssueRows)
{
    const QuerySnapshot specialists = connection.Query(ContractSpecialistEmailsSql(QStringLiteral("1")));
    ASSERT_EQ(specialists.rows.size(), 2);
    EXPECT_TRUE(specialists.rows[0][0].isNull()); // Null sorts first
    EXPECT_EQ(specialists.rows[1][0].toString(), QStringLiteral("specialist@example.com"));
    EXPECT_TRUE(connection.Query(ContractSpecialistEmailsSql(QStringLiteral("2"))).rows.isEmpty());

    Recordset rs;
    rs.Open(ContractEmailSql(QStringLiteral("1")), connection);
    EXPECT_EQ(rs.Field(QStringLiteral("EmailContract")).toString(), QStringLiteral("contract@example.org"));
    EXPECT_EQ(rs.Field(QStringLiteral("EmailEmployee")).toString(), QStringLiteral("staff@example.org"));
    rs.Open(IssueCategorySql(QStringLiteral("99")), connection);
    EXPECT_TRUE(rs.Eof() && rs.Bof());
    // An empty identity leaves the WHERE clause broken: the database says so.
    EXPECT_THROW(rs.Open(IssueCategorySql(QString()), connection), DbError);
}

namespace {

class DemoData : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(connection.Open(db.connectionString(), &error)) << error.toStdString();
    }

    QList<int> ids(const QString &sql)
    {
        QList<int> found;
        for (const QList<QVariant> &row : connection.Query(sql).rows)
            found << row[0].toInt();
        std::sort(found.begin(), found.end());
        return found;
    }

    TempDatabase db{TempDatabase::Content::SchemaAndDemo};
    DbConnection connection;
};

} // namespace

TEST_F(DemoData, hasWorkInEveryWindowRelativeToToday)
{
    const QDate today = QDate::currentDate();
    // Overdue (1, 2), due within 14 days (3, 4, 5), within 30 days (6, 7, 8).
    EXPECT_EQ(ids(NotificationCandidateQuery(QStringLiteral("Contract"), today.addDays(30))),
              (QList<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(ids(AutomaticIssueSelectQuery(today.addDays(14))), (QList<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(ids(NotificationCandidateQuery(QStringLiteral("Contract"), today.addDays(-1))), (QList<int>{1, 2}));
}

TEST_F(DemoData, companyRuleAndPeopleAreAsDescribed)
{
    Recordset rs;
    rs.Open(CompanySettingsSql(), connection);
    EXPECT_EQ(rs.Field(QStringLiteral("AutomationServerEmailServer")).toString(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(rs.Field(QStringLiteral("AutomationServerEmailServerPort")).toString(), QStringLiteral("2525"));
    EXPECT_EQ(rs.Field(QStringLiteral("AutomationServerEmailUseSSLTLS")).toInt(), 0);
    EXPECT_TRUE(rs.Field(QStringLiteral("AutomationServerEmailFooter")).toString().contains(QStringLiteral("\r\n")));
    for (const QString &column : rs.ColumnNames())
        EXPECT_FALSE(rs.Field(column).isNull()) << column.toStdString();
    rs.Open(TrainingExpireRuleQuery(), connection);
    EXPECT_EQ(rs.RecordCount(), 1);
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM CustomerEmployee")).toInt(), 12);
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM ServiceContract WHERE Status='active'")).toInt(), 3);
    EXPECT_EQ(db
                  .queryValue(QStringLiteral(
                      "SELECT COUNT(*) FROM CustomerEmployee WHERE LastName LIKE '%''%' AND MiddleName IS NULL"))
                  .toInt(),
              1);
}
