// The "Training Expire" task against a real host database: what is closed,
// queued, logged and opened, on which dates, and what hostile values do.
// Today is 12/7/2026; the rule notifies up to 1/6/2027 and opens issues up
// to 12/22/2026 (see TrainingDatabase).
#include "tests/alerts/TrainingDatabase.h"

#include "alerts/ProcessTrainingExpiry.h"
#include "alerts/TrainingExpireRule.h"
#include "database/Clock.h"
#include "database/DbConnection.h"
#include "database/DbError.h"
#include "startup/CompanySettings.h"

namespace {
const QDate kNotifiedOnly(2026, 1, 5); // renews 1/5/2027: notification window only
const QDate kIssueDue(2025, 12, 20);   // renews 12/20/2026: both windows
const QString kStars(54, QLatin1Char('*'));

// The task as a cycle runs it, returning what it did.
TrainingExpiryOutcome ProcessTrainingExpiry()
{
    TrainingExpiryOutcome outcome;
    ::ProcessTrainingExpiry(outcome);
    return outcome;
}
} // namespace

using Notifications = TrainingDatabase;
using AutomaticIssues = TrainingDatabase;
using AutoClose = TrainingDatabase;
using TaskOrder = TrainingDatabase;

TEST_F(Notifications, knownCertification_queuesManagerSpecialistsClientThenLogs)
{
    AddRule(QStringLiteral("CreateIssue = 0"));
    const qint64 id = AddAcmeTraining(kNotifiedOnly);
    ProcessTrainingExpiry();

    const QList<QVariantList> queued =
        db.queryRows(QStringLiteral("SELECT EmailFrom, EmailFromName, EmailTo, EmailSubject, EmailBody, EmailSent"
                                    " FROM AutomationServer_EmailsSent ORDER BY ID"));
    ASSERT_EQ(queued.size(), 3);
    const QStringList recipients = {QStringLiteral("manager@velmar.example"),
                                    QStringLiteral("adam@velmar.example;zoe@velmar.example;"),
                                    QStringLiteral("contracts@client.test")};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(queued[i][0].toString(), QStringLiteral("alerts@velmar.example"));
        EXPECT_EQ(queued[i][1].toString(), QStringLiteral("Velmar Services"));
        EXPECT_EQ(queued[i][2].toString(), recipients[i]);
        EXPECT_EQ(queued[i][3].toString(), QStringLiteral("Acme Ltd - First Aid: Doe, Jane Q III - Expires 1/5/2027"));
        EXPECT_EQ(queued[i][4].toString(),
                  QStringLiteral("Client: Acme Ltd\r\nItem ID: %1\r\n"
                                 "First Aid: Doe, Jane Q III - Expires 1/5/2027\r\n\r\n")
                          .arg(id) +
                      kStars + QStringLiteral("\r\n"));
        EXPECT_EQ(queued[i][5].toInt(), 0);
    }
    const QVariantMap log = Row(QStringLiteral("SELECT * FROM AutomationServer_Emails"));
    EXPECT_EQ(log[QStringLiteral("EmailDate")].toString(), QStringLiteral("2026-12-07 14:05:09"));
    EXPECT_EQ(log[QStringLiteral("Category")].toString(), QStringLiteral("Contract"));
    EXPECT_EQ(log[QStringLiteral("Item")].toString(), QStringLiteral("Training Expire"));
    EXPECT_EQ(log[QStringLiteral("ItemID")].toLongLong(), id);
    EXPECT_EQ(log[QStringLiteral("ItemKey")].toString(), Iso(QDate(2027, 1, 5)));
    EXPECT_EQ(log[QStringLiteral("ContractManager")].toInt(), 1);
    EXPECT_EQ(log[QStringLiteral("ContractSpecialist")].toInt(), 1);
    EXPECT_EQ(log[QStringLiteral("Client")].toInt(), 1);
    EXPECT_EQ(Count(QStringLiteral("Issues")), 0);

    // The log row keeps the certification from being notified again.
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 3);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 1);
}

TEST_F(Notifications, windowBoundaryAndOverdue_onOrBeforeWindowIsNotified)
{
    AddRule(QStringLiteral("CreateIssue = 0"));
    const qint64 onWindow = AddAcmeTraining(QDate(2026, 1, 6)); // renews 1/6/2027, the window date
    AddAcmeTraining(QDate(2026, 1, 7));                         // the day after
    const qint64 overdue = AddAcmeTraining(QDate(2023, 3, 31)); // expired long ago
    ProcessTrainingExpiry();
    const QList<QVariantList> logged =
        db.queryRows(QStringLiteral("SELECT ItemID FROM AutomationServer_Emails ORDER BY ItemID"));
    ASSERT_EQ(logged.size(), 2);
    EXPECT_EQ(logged[0][0].toLongLong(), onWindow);
    EXPECT_EQ(logged[1][0].toLongLong(), overdue);
}

TEST_F(Notifications, notRequiredOrNotWorkingOrIncomplete_neverNotifiedNorIssued)
{
    AddRule();
    AddAcmeTraining(QDate(2030, 1, 1)); // lays out Acme; renews far ahead
    const qint64 manager = AddStaff(QStringLiteral("m2@velmar.example"));
    const qint64 active = AddContract(QStringLiteral("Beta"), manager);
    const qint64 inactive = AddContract(QStringLiteral("Gamma"), manager, QStringLiteral("contracts@client.test"),
                                        QStringLiteral("Inactive"));
    const qint64 person = AddPerson(QStringLiteral("Al"), QVariant(), QStringLiteral("Ng"), QVariant());
    const qint64 required = AddItem(QStringLiteral("Forklift"));
    AddTraining(AddItem(QStringLiteral("Optional course"), 12, 1), person, active, kIssueDue);
    AddTraining(required, AddPerson(QStringLiteral("Su"), QVariant(), QStringLiteral("Spended"), QVariant(), 1, 0),
                active, kIssueDue);
    AddTraining(required, AddPerson(QStringLiteral("Ter"), QVariant(), QStringLiteral("Minated"), QVariant(), 0, 1),
                active, kIssueDue);
    AddTraining(required, person, inactive, kIssueDue);
    AddTraining(required, person, QVariant(), kIssueDue);      // no contract
    AddTraining(required, person, qlonglong(9999), kIssueDue); // contract row missing
    AddTraining(required, 9999, active, kIssueDue);            // employee row missing
    AddTraining(9999, person, active, kIssueDue);              // item row missing
    TrainingExpiryOutcome done = ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 0);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 0);
    EXPECT_EQ(Count(QStringLiteral("Issues")), 0);
    EXPECT_EQ(done.IssuesCreated, 0);
}

TEST_F(Notifications, switchesAndMissingAddresses_logRecordsSwitchesOnly)
{
    AddRule(QStringLiteral("EmailContractSpecialist = NULL, EmailClient = 0, CreateIssue = 0"));
    const qint64 contract = AddContract(QVariant(), AddStaff(QVariant())); // no manager address, no customer name
    AddSpecialist(contract, AddStaff(QStringLiteral("specialist@velmar.example")));
    const qint64 person = AddPerson(QStringLiteral("Jane"), QVariant(), QStringLiteral("Doe"), QVariant());
    AddTraining(AddItem(QStringLiteral("First Aid")), person, contract, kNotifiedOnly);
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 0);
    const QVariantMap log = Row(QStringLiteral("SELECT * FROM AutomationServer_Emails"));
    EXPECT_EQ(log[QStringLiteral("ContractManager")].toInt(), 1);
    EXPECT_EQ(log[QStringLiteral("ContractSpecialist")].toInt(), 0);
    EXPECT_EQ(log[QStringLiteral("Client")].toInt(), 0);

    // Only the specialists now, under a category the client look-up does not know: a fresh
    // log key, one specialist row, and the Null parts empty with their blanks kept.
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET Category = 'Issue', EmailContractManager = 0,"
                           " EmailContractSpecialist = 1, EmailClient = 1"));
    ProcessTrainingExpiry();
    const QVariantMap queued = Row(QStringLiteral("SELECT EmailTo, EmailSubject FROM AutomationServer_EmailsSent"));
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 1);
    EXPECT_EQ(queued[QStringLiteral("EmailTo")].toString(), QStringLiteral("specialist@velmar.example;"));
    EXPECT_EQ(queued[QStringLiteral("EmailSubject")].toString(),
              QStringLiteral(" - First Aid: Doe, Jane   - Expires 1/5/2027"));
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE Category = 'Issue' AND ContractManager = 0"
                                   " AND ContractSpecialist = 1 AND Client = 1")),
              1);
}

TEST_F(Notifications, categoryChange_notifiesEverythingOnceMore)
{
    AddRule(QStringLiteral("EmailContractSpecialist = 0, EmailClient = 0, CreateIssue = 0"));
    AddAcmeTraining(kNotifiedOnly);
    AddAcmeTraining(kIssueDue);
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 2);
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET Category = 'Contract Employee'"));
    ProcessTrainingExpiry();
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE Category = 'Contract Employee'")), 2);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 4);
}

TEST_F(Notifications, twoAutomaticIssuesForOneRenewal_notifiesTwiceTwoLogRowsNotAgain)
{
    AddRule(QStringLiteral("EmailContractSpecialist = 0, EmailClient = 0, CreateIssue = 0, AutoCloseIssue = 0"));
    const qint64 id = AddAcmeTraining(kIssueDue);
    AddIssue(id, QDate(2026, 12, 20));
    AddIssue(id, QDate(2026, 12, 20), QStringLiteral("Closed"));
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 2);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 2);
    // Four result rows now (two issues times two log rows), every one skipped.
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 2);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 2);
}

TEST_F(Notifications, failureBeforeLogRow_leavesNeitherQueueRowsNorLog)
{
    AddRule(QStringLiteral("CreateIssue = 0"));
    AddAcmeTraining(kNotifiedOnly);
    db.exec(QStringLiteral("CREATE TRIGGER RefuseLog BEFORE INSERT ON AutomationServer_Emails"
                           " BEGIN SELECT RAISE(ABORT, 'log is read-only today'); END"));
    // Held back, alone in its batch, and reported: the task goes on.
    const QStringList failures = ProcessTrainingExpiry().Failures;
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].endsWith(QLatin1String("log is read-only today"))) << failures[0].toStdString();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 0);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 0);

    // The next poll notifies it in full, exactly once.
    db.exec(QStringLiteral("DROP TRIGGER RefuseLog"));
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 3);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 1);
}

// Certifications are committed 200 at a time. One whose rows always fail
// holds back only itself: the rest of its batch is redone one by one, it is
// reported, and the next poll notifies it once the fault is gone.
TEST_F(Notifications, failingCertification_onlyItLeftUnnotifiedAndReported)
{
    AddRule(QStringLiteral("CreateIssue = 0"));
    QList<qint64> ids;
    for (int i = 0; i < 450; ++i)
        ids.append(AddAcmeTraining(kNotifiedOnly));
    const qint64 refused = ids.at(300);
    db.exec(QStringLiteral("CREATE TRIGGER RefuseOne BEFORE INSERT ON AutomationServer_Emails WHEN NEW.ItemID = %1"
                           " BEGIN SELECT RAISE(ABORT, 'certification refused'); END")
                .arg(refused));
    TrainingExpiryOutcome done = ProcessTrainingExpiry();
    ASSERT_EQ(done.Failures.size(), 1);
    EXPECT_TRUE(done.Failures[0].contains(QStringLiteral("training %1 ").arg(refused)));
    EXPECT_TRUE(done.Failures[0].contains(QStringLiteral("certification refused")));
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 449);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(refused)), 0);
    const QString rowsOfRefused =
        QStringLiteral("AutomationServer_EmailsSent WHERE EmailBody LIKE '%Item ID: %1\r\n%'").arg(refused);
    EXPECT_EQ(Count(rowsOfRefused), 0);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 3 * 449);

    db.exec(QStringLiteral("DROP TRIGGER RefuseOne"));
    ProcessTrainingExpiry();
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 450);
    EXPECT_EQ(Count(QStringLiteral("(SELECT DISTINCT ItemID FROM AutomationServer_Emails)")), 450);
    // Every certification's three rows (manager, specialists, client), none twice.
    EXPECT_EQ(Count(QStringLiteral("(SELECT EmailBody FROM AutomationServer_EmailsSent GROUP BY EmailBody"
                                   " HAVING COUNT(*) <> 3 OR COUNT(DISTINCT EmailTo) <> 3)")),
              0);
    EXPECT_EQ(Count(rowsOfRefused), 3);
}

TEST_F(Notifications, apostrophesAndInjection_storedIntactNothingDeleted)
{
    const QString hostile = QStringLiteral("x'); DELETE FROM Issues; --");
    const QString hostilePriority = QStringLiteral("x');DELETE Issues--"); // fits its nvarchar(20)
    AddRule(QStringLiteral("Category = 'Contract', IssuePriority = %1").arg(Literal(hostilePriority)));
    CompanySettings.Name = QStringLiteral("O'Neil & Co");
    CompanySettings.AutomationServerEmailFrom = QStringLiteral("o'neil@velmar.example");
    const qint64 contract =
        AddContract(QStringLiteral("O'Brien's Ltd"), AddStaff(QStringLiteral("mgr'x@velmar.example")));
    db.exec(QStringLiteral("UPDATE ServiceContract SET EmailContract = %1 WHERE ID = %2")
                .arg(Literal(hostile))
                .arg(contract));
    const qint64 person = AddPerson(QStringLiteral("Se'an"), hostile, QStringLiteral("O'Brien"), QVariant());
    const qint64 id = AddTraining(AddItem(QStringLiteral("Working at Height's")), person, contract, kIssueDue);
    AddIssue(id, QDate(2020, 1, 1), QStringLiteral("Closed")); // must survive

    ProcessTrainingExpiry();
    const QString description =
        QStringLiteral("Working at Height's: O'Brien, Se'an x'); DELETE FROM Issues; --  - Expires 12/20/2026");
    const QList<QVariantList> queued = db.queryRows(QStringLiteral(
        "SELECT EmailFrom, EmailFromName, EmailTo, EmailSubject FROM AutomationServer_EmailsSent ORDER BY ID"));
    ASSERT_EQ(queued.size(), 2); // manager and client; no specialists
    EXPECT_EQ(queued[0][0].toString(), QStringLiteral("o'neil@velmar.example"));
    EXPECT_EQ(queued[0][1].toString(), QStringLiteral("O'Neil & Co"));
    EXPECT_EQ(queued[0][2].toString(), QStringLiteral("mgr'x@velmar.example"));
    EXPECT_EQ(queued[0][3].toString(), QStringLiteral("O'Brien's Ltd - ") + description);
    EXPECT_EQ(queued[1][2].toString(), hostile);
    EXPECT_EQ(Count(QStringLiteral("Issues")), 2);
    const QVariantMap issue = Row(QStringLiteral("SELECT * FROM Issues WHERE Status = 'Open'"));
    EXPECT_EQ(issue[QStringLiteral("ItemDesc")].toString(), description);
    EXPECT_EQ(issue[QStringLiteral("Description")].toString(), QStringLiteral("(AUTO ISSUE) ") + description);
    EXPECT_EQ(issue[QStringLiteral("Priority")].toString(), hostilePriority);

    // A category with a quote keys the log as stored.
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET Category = 'Client''s'"));
    ProcessTrainingExpiry();
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE Category = 'Client''s'")), 1);
}

TEST_F(AutomaticIssues, knownTraining_opensOneIssueWithItsValues)
{
    AddRule(QStringLiteral("EmailContractManager = 0, EmailContractSpecialist = 0, EmailClient = 0"));
    const qint64 id = AddAcmeTraining(kIssueDue);
    AddAcmeTraining(kNotifiedOnly); // beyond the issue window
    TrainingExpiryOutcome done = ProcessTrainingExpiry();
    EXPECT_EQ(done.IssuesCreated, 1);
    const QVariantMap issue = Row(QStringLiteral("SELECT * FROM Issues"));
    EXPECT_EQ(issue[QStringLiteral("ContractID")].toLongLong(), AcmeContract());
    EXPECT_EQ(issue[QStringLiteral("Category")].toString(), QString());
    EXPECT_FALSE(issue[QStringLiteral("Category")].isNull());
    EXPECT_EQ(issue[QStringLiteral("ItemID")].toLongLong(), id);
    EXPECT_EQ(issue[QStringLiteral("ItemDesc")].toString(),
              QStringLiteral("First Aid: Doe, Jane Q III - Expires 12/20/2026"));
    EXPECT_EQ(issue[QStringLiteral("IssueDate")].toString(), Iso(QDate(2026, 12, 7)));
    EXPECT_EQ(issue[QStringLiteral("DueDate")].toString(), Iso(QDate(2026, 12, 20)));
    EXPECT_EQ(issue[QStringLiteral("Description")].toString(),
              QStringLiteral("(AUTO ISSUE) First Aid: Doe, Jane Q III - Expires 12/20/2026"));
    EXPECT_EQ(issue[QStringLiteral("Status")].toString(), QStringLiteral("Open"));
    EXPECT_EQ(issue[QStringLiteral("Priority")].toString(), QStringLiteral("High"));
    EXPECT_EQ(issue[QStringLiteral("EnteredBy")].toString(), QStringLiteral("AUTO SERVER"));
    EXPECT_EQ(issue[QStringLiteral("EnteredDate")].toString(), QStringLiteral("2026-12-07 14:05:09"));
    EXPECT_EQ(issue[QStringLiteral("EditedBy")].toString(), QStringLiteral("AUTO SERVER"));
    EXPECT_EQ(issue[QStringLiteral("EditedDate")].toString(), QStringLiteral("2026-12-07 14:05:09"));
    EXPECT_EQ(issue[QStringLiteral("AUTO_Item")].toString(), QStringLiteral("Training Expire"));
    EXPECT_EQ(issue[QStringLiteral("AUTO_Date")].toString(), Iso(QDate(2026, 12, 20)));

    // Recognised at the next poll: no second issue.
    done = ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("Issues")), 1);
    EXPECT_EQ(done.IssuesCreated, 0);
}

TEST_F(AutomaticIssues, existingAndEarlierIssues_onlyNewRenewalDatesGetOne)
{
    AddRule(QStringLiteral("EmailContractManager = 0, EmailContractSpecialist = 0, EmailClient = 0,"
                           " IssuePriority = NULL, AutoCloseIssue = 0"));
    const qint64 closedAlready = AddAcmeTraining(kIssueDue);
    AddIssue(closedAlready, QDate(2026, 12, 20), QStringLiteral("Closed"));
    const qint64 renewedBefore = AddAcmeTraining(QDate(2025, 12, 1)); // renews 12/1/2026, overdue
    AddIssue(renewedBefore, QDate(2025, 12, 1));                      // for the earlier renewal
    const qint64 manual = AddAcmeTraining(QDate(2025, 12, 2));
    AddIssue(manual, QDate(2026, 12, 2), QStringLiteral("Open"), QStringLiteral("typed in"), QStringLiteral("jsmith"));
    TrainingExpiryOutcome done = ProcessTrainingExpiry();
    EXPECT_EQ(done.IssuesCreated, 2);
    const QList<QVariantList> opened = db.queryRows(
        QStringLiteral("SELECT ItemID, Priority FROM Issues WHERE EnteredDate IS NOT NULL ORDER BY ItemID"));
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0][0].toLongLong(), renewedBefore);
    EXPECT_EQ(opened[1][0].toLongLong(), manual);
    EXPECT_EQ(opened[0][1].toString(), QString()); // Null priority in the rule
    EXPECT_FALSE(opened[0][1].isNull());
}

// Issues are committed 200 at a time; a refused one holds back only itself.
TEST_F(AutomaticIssues, failingInsert_onlyItLeftUnopenedReportedAndNotCounted)
{
    AddRule(QStringLiteral("EmailContractManager = 0, EmailContractSpecialist = 0, EmailClient = 0"));
    QList<qint64> ids;
    for (int i = 0; i < 250; ++i)
        ids.append(AddAcmeTraining(kIssueDue));
    const qint64 refused = ids.at(120);
    db.exec(QStringLiteral("CREATE TRIGGER RefuseOne BEFORE INSERT ON Issues WHEN NEW.ItemID = %1"
                           " BEGIN SELECT RAISE(ABORT, 'issue refused'); END")
                .arg(refused));
    TrainingExpiryOutcome done = ProcessTrainingExpiry();
    EXPECT_EQ(done.IssuesCreated, 249);
    EXPECT_EQ(Count(QStringLiteral("Issues")), 249);
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE ItemID = %1").arg(refused)), 0);
    ASSERT_EQ(done.Failures.size(), 1);
    EXPECT_TRUE(done.Failures[0].contains(QStringLiteral("training %1 ").arg(refused)));
    EXPECT_TRUE(done.Failures[0].contains(QStringLiteral("issue refused")));

    db.exec(QStringLiteral("DROP TRIGGER RefuseOne"));
    done = ProcessTrainingExpiry();
    EXPECT_EQ(done.IssuesCreated, 1);
    EXPECT_EQ(Count(QStringLiteral("(SELECT DISTINCT ItemID FROM Issues)")), 250);
}

TEST_F(AutomaticIssues, createIssueNullOrOff_opensNothing)
{
    AddRule(QStringLiteral("CreateIssue = NULL, EmailContractManager = 0, EmailContractSpecialist = 0,"
                           " EmailClient = 0"));
    AddAcmeTraining(kIssueDue);
    ProcessTrainingExpiry();
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET CreateIssue = 0"));
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("Issues")), 0);
}

TEST_F(AutoClose, renewedOptionalSuspendedTerminated_closedWithNoteAndCounted)
{
    AddRule(QStringLiteral("EmailContractManager = 0, EmailContractSpecialist = 0, EmailClient = 0, CreateIssue = 0"));
    const qint64 renewed = AddAcmeTraining(QDate(2025, 12, 23)); // renews 12/23/2026, a day past the window
    const qint64 renewedIssue = AddIssue(renewed, QDate(2026, 6, 1));
    const qint64 onWindow = AddAcmeTraining(QDate(2025, 12, 22)); // renews 12/22/2026, the window date
    const qint64 onWindowIssue = AddIssue(onWindow, QDate(2025, 12, 22));
    const qint64 contract = AcmeContract();
    const qint64 suspended =
        AddTraining(AddItem(QStringLiteral("A")),
                    AddPerson(QStringLiteral("S"), QVariant(), QStringLiteral("S"), QVariant(), 1, 0), contract,
                    kIssueDue);
    AddIssue(suspended, QDate(2026, 12, 20), QStringLiteral("Open"), QString()); // empty description
    const qint64 terminated =
        AddTraining(AddItem(QStringLiteral("B")),
                    AddPerson(QStringLiteral("T"), QVariant(), QStringLiteral("T"), QVariant(), 0, 1), contract,
                    kIssueDue);
    AddIssue(terminated, QDate(2026, 12, 20));
    const qint64 optional =
        AddTraining(AddItem(QStringLiteral("C"), 12, 1),
                    AddPerson(QStringLiteral("O"), QVariant(), QStringLiteral("O"), QVariant()), contract, kIssueDue);
    AddIssue(optional, QDate(2026, 12, 20));

    TrainingExpiryOutcome done = ProcessTrainingExpiry();
    EXPECT_EQ(done.IssuesClosed, 4);
    const QString note = QStringLiteral("\r\n\r\n(AUTO CLOSED 12/7/2026 2:05:09 PM)");
    const QVariantMap closed = Row(QStringLiteral("SELECT * FROM Issues WHERE ID = %1").arg(renewedIssue));
    EXPECT_EQ(closed[QStringLiteral("Description")].toString(), QStringLiteral("(AUTO ISSUE) earlier") + note);
    EXPECT_EQ(closed[QStringLiteral("Status")].toString(), QStringLiteral("Closed"));
    EXPECT_EQ(closed[QStringLiteral("EditedBy")].toString(), QStringLiteral("AUTO SERVER"));
    EXPECT_EQ(closed[QStringLiteral("EditedDate")].toString(), QStringLiteral("2026-12-07 14:05:09"));
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT Description FROM Issues WHERE ItemID = %1").arg(suspended))
                  .toString(),
              note);
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT Status FROM Issues WHERE ID = %1").arg(onWindowIssue)).toString(),
              QStringLiteral("Open"));

    // Closed issues are not selected again: no second note.
    done = ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Description LIKE '%AUTO CLOSED%AUTO CLOSED%'")), 0);
    EXPECT_EQ(done.IssuesClosed, 0);
}

TEST_F(AutoClose, notAutomaticOrNoTrainingOrInactiveContract_staysOpen)
{
    AddRule(QStringLiteral("EmailContractManager = 0, EmailContractSpecialist = 0, EmailClient = 0, CreateIssue = 0"));
    const qint64 renewed = AddAcmeTraining(QDate(2026, 6, 1));
    AddIssue(renewed, QDate(2025, 12, 1), QStringLiteral("Open"), QStringLiteral("manual"), QStringLiteral("jsmith"));
    AddIssue(renewed, QDate(2025, 12, 1), QStringLiteral("Open"), QStringLiteral("other"),
             QStringLiteral("AUTO SERVER"), QStringLiteral("Contract Expire"));
    AddIssue(424242, QDate(2025, 12, 1)); // training record gone
    db.exec(QStringLiteral("UPDATE ServiceContract SET Status = 'Inactive'"));
    const qint64 inactiveButDue = AddAcmeTraining(kIssueDue);
    AddIssue(inactiveButDue, QDate(2026, 12, 20));
    TrainingExpiryOutcome done = ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Status = 'Open'")), 4);
    EXPECT_EQ(done.IssuesClosed, 0);

    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET AutoCloseIssue = 0"));
    db.exec(QStringLiteral("UPDATE CustomerEmployee SET Terminated = 1"));
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Status = 'Open'")), 4);
}

TEST_F(TaskOrder, renewal_closesIssueThenNotifiesAndOpensAgainWhenDue)
{
    AddRule();
    const qint64 id = AddAcmeTraining(kIssueDue);
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Status = 'Open'")), 1);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 1);

    // Completed again: renews 12/10/2027, so the issue closes and nothing is due.
    db.exec(QStringLiteral("UPDATE CustomerEmployeeTraining SET CompletedDate = '2026-12-10 00:00:00' WHERE ID = %1")
                .arg(id));
    TrainingExpiryOutcome done = ProcessTrainingExpiry();
    EXPECT_EQ(done.IssuesClosed, 1);
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Status = 'Closed'")), 1);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 1);

    // A year on, the new renewal date comes within both windows.
    SetClockForTests([] { return QDateTime(QDate(2027, 11, 30), QTime(9, 0)); });
    done = ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE ItemKey = '2027-12-10 00:00:00'")), 1);
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Status = 'Open' AND AUTO_Date = '2027-12-10 00:00:00'")), 1);
    EXPECT_EQ(done.IssuesCreated, 1);
    EXPECT_EQ(done.IssuesClosed, 0);
}

TEST_F(TaskOrder, noRuleRow_doesNothingEvenWithWorkWaiting)
{
    const qint64 id = AddAcmeTraining(kIssueDue);
    AddIssue(id, QDate(2020, 1, 1)); // would be closed by an auto-close
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 0);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 0);
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Status = 'Open'")), 1);
    EXPECT_EQ(Count(QStringLiteral("Issues")), 1);
}

TEST_F(TaskOrder, onlyAutoCloseSwitchedOn_closesButNeitherNotifiesNorOpens)
{
    AddRule(QStringLiteral("EmailContractManager = NULL, EmailContractSpecialist = NULL, EmailClient = NULL,"
                           " CreateIssue = NULL"));
    const qint64 renewed = AddAcmeTraining(QDate(2026, 6, 1));
    AddIssue(renewed, QDate(2025, 12, 1));
    AddAcmeTraining(kIssueDue);
    ProcessTrainingExpiry();
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Status = 'Closed'")), 1);
    EXPECT_EQ(Count(QStringLiteral("Issues")), 1);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 0);
}
