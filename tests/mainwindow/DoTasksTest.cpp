#include "mainwindow/DoTasks.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "database/Recordset.h"
#include "mainwindow/CycleCounters.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/TempDatabase.h"

#include <gtest/gtest.h>

namespace {
class DoTasksTest : public ::testing::Test
{
protected:
    FreshCompanySettings freshSettings;
    void SetUp() override
    {
        DBConnectionString = db.connectionString();
        SetOpenDatabaseFailureHandler([this](const QString &reason) { connectionFailures.append(reason); });
        CompanySettings.Name = QStringLiteral("Acme");
        CompanySettings.AutomationServerEmailServer = QStringLiteral("127.0.0.1");
        CycleCounters.Reset();
    }
    void TearDown() override
    {
        CloseDatabase();
        SetOpenDatabaseFailureHandler(nullptr);
        CycleCounters.Reset();
    }
    void queueEmail(const QString &to, const QString &body)
    {
        db.exec(QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailFromName, EmailTo, "
                               "EmailSubject, EmailBody, EmailSent) VALUES ('alerts@acme.example', 'Acme', "
                               "'%1', 'Training', '%2', 0)")
                    .arg(to, body));
    }
    int unsentRows()
    {
        return db.queryValue(QStringLiteral("SELECT COUNT(*) FROM AutomationServer_EmailsSent WHERE EmailSent=0"))
            .toInt();
    }

    TempDatabase db;
    QStringList connectionFailures;
};
} // namespace

TEST_F(DoTasksTest, cycleWithNothingToDo_resetsCountersAndClosesTheConnection)
{
    CycleCounters.Emails = 7;
    CycleCounters.IssuesCreated = 8;
    CycleCounters.IssuesClosed = 9;
    const CycleResult result = DoTasks();
    EXPECT_EQ(result.outcome, CycleOutcome::Completed) << result.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(result.errors.isEmpty());
    EXPECT_EQ(CycleCounters.Emails, 0);
    EXPECT_EQ(CycleCounters.IssuesCreated, 0);
    EXPECT_EQ(CycleCounters.IssuesClosed, 0);
    EXPECT_FALSE(DatabaseConnection().IsOpen());
    EXPECT_TRUE(connectionFailures.isEmpty());
}

TEST_F(DoTasksTest, failedConnection_leavesCountersAndRunsNothing)
{
    queueEmail(QStringLiteral("a@client.example;"), QStringLiteral("due"));
    DBConnectionString = QStringLiteral("Provider=SQLite;Data Source=/no/such/velmar.db");
    CycleCounters.Emails = 7;
    CycleCounters.IssuesCreated = 8;
    CycleCounters.IssuesClosed = 9;
    const CycleResult result = DoTasks();
    EXPECT_EQ(result.outcome, CycleOutcome::ConnectionFailed);
    EXPECT_EQ(connectionFailures.size(), 1);
    EXPECT_EQ(CycleCounters.Emails, 7);
    EXPECT_EQ(CycleCounters.IssuesCreated, 8);
    EXPECT_EQ(CycleCounters.IssuesClosed, 9);
    EXPECT_EQ(unsentRows(), 1);
}

TEST_F(DoTasksTest, queuedEmail_isSentAndCounted)
{
    SmtpServer smtp;
    ASSERT_TRUE(smtp.available());
    CompanySettings.AutomationServerEmailServerPort = QString::number(smtp.port());
    queueEmail(QStringLiteral("a@client.example;"), QStringLiteral("Renewal due for O''Neil"));
    const CycleResult result = DoTasks();
    EXPECT_EQ(result.outcome, CycleOutcome::Completed) << result.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(CycleCounters.Emails, 1);
    EXPECT_EQ(unsentRows(), 0);
    ASSERT_EQ(smtp.messages().size(), 1);
    EXPECT_EQ(smtp.messages()[0].recipients, QStringList{QStringLiteral("a@client.example")});
}

TEST_F(DoTasksTest, failingAlertTask_isLoggedClosesTheConnectionAndMailStillGoesOut)
{
    SmtpServer smtp;
    ASSERT_TRUE(smtp.available());
    CompanySettings.AutomationServerEmailServerPort = QString::number(smtp.port());
    queueEmail(QStringLiteral("a@client.example;"), QStringLiteral("queued by another writer"));
    db.exec(QStringLiteral("DROP TABLE AutomationServer_Alert"));

    const CycleResult failed = DoTasks();
    EXPECT_EQ(failed.outcome, CycleOutcome::TaskFailed);
    ASSERT_EQ(failed.errors.size(), 1);
    EXPECT_TRUE(failed.errors[0].startsWith(QLatin1String("Error in training expiry: ")));
    EXPECT_TRUE(failed.errors[0].contains(QLatin1String("AutomationServer_Alert"))) << failed.errors[0].toStdString();
    EXPECT_FALSE(DatabaseConnection().IsOpen());
    EXPECT_FALSE(SharedRecordset().IsOpen());
    EXPECT_EQ(CycleCounters.Emails, 1);
    EXPECT_EQ(unsentRows(), 0);

    // The next cycle runs as usual once the table is back.
    db.exec(QStringLiteral("CREATE TABLE AutomationServer_Alert (ID INTEGER PRIMARY KEY, Item TEXT NOT NULL,"
                           " Category TEXT, EmailContractManager BIT, EmailContractSpecialist BIT,"
                           " EmailClient BIT, DaysInAdvance INTEGER, CreateIssue BIT,"
                           " CreateIssueDaysInAdvance INTEGER, IssuePriority TEXT, AutoCloseIssue BIT)"));
    const CycleResult next = DoTasks();
    EXPECT_EQ(next.outcome, CycleOutcome::Completed) << next.errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(DoTasksTest, mailGroupThatCannotBeSent_isReportedAfterTheAlertErrorAndStaysQueued)
{
    SmtpServer::Options options;
    options.behaviour = SmtpServer::Behaviour::NotListening;
    SmtpServer down(options);
    ASSERT_TRUE(down.available());
    CompanySettings.AutomationServerEmailServerPort = QString::number(down.port());
    queueEmail(QStringLiteral("a@client.example;"), QStringLiteral("one"));
    db.exec(QStringLiteral("DROP TABLE AutomationServer_Alert"));

    const CycleResult result = DoTasks();
    EXPECT_EQ(result.outcome, CycleOutcome::TaskFailed);
    ASSERT_EQ(result.errors.size(), 2) << result.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(result.errors[0].startsWith(QLatin1String("Error in training expiry: ")));
    EXPECT_TRUE(result.errors[1].contains(QLatin1String("a@client.example;"))) << result.errors[1].toStdString();
    EXPECT_EQ(CycleCounters.Emails, 0);
    EXPECT_EQ(unsentRows(), 1);
    EXPECT_FALSE(DatabaseConnection().IsOpen());
}

TEST_F(DoTasksTest, failingQueueQuery_isLoggedAsSendingError)
{
    db.exec(QStringLiteral("DROP TABLE AutomationServer_EmailsSent"));
    const CycleResult result = DoTasks();
    EXPECT_EQ(result.outcome, CycleOutcome::TaskFailed);
    ASSERT_FALSE(result.errors.isEmpty());
    EXPECT_TRUE(result.errors.last().startsWith(QLatin1String("Error in sending emails: ")))
        << result.errors.last().toStdString();
    EXPECT_FALSE(DatabaseConnection().IsOpen());
    EXPECT_FALSE(SharedRecordset().IsOpen());
}
