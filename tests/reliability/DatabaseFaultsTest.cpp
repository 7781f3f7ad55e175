// The database failing under a cycle: missing at the start, locked by another
// process past the busy timeout half-way, refusing a statement. Each time the
// failure reaches the log with the database's own words, the connection is
// closed, the next cycle recovers, and nothing is lost or done twice.

#include "tests/reliability/ReliabilitySupport.h"

#include "database/CycleLock.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"

#include <QFile>
#include <QTemporaryDir>

namespace {
class DatabaseFaults : public CycleTest
{
protected:
    void SetUp() override
    {
        CycleTest::SetUp();
        host.AddCompany(1);
        host.AddRule();
        work = AddWorkload(host, Today(), 2, 3, QStringLiteral("db"));
        StartMail();
    }

    // After a failed cycle: nothing left open, the lock free for the next server.
    void expectClosedAndUnlocked()
    {
        EXPECT_FALSE(DatabaseConnection().IsOpen());
        DbConnection other;
        ASSERT_TRUE(other.Open(db.connectionString()));
        EXPECT_EQ(other.TakeCycleLock(0), CycleLockResult::Taken);
    }

    void expectRecoveredOnce()
    {
        Cycle();
        EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_NO_VIOLATIONS(DatabaseViolations(db, work.due, 3, true));
        EXPECT_NO_VIOLATIONS(MailViolations(db, AllMail(), true));
        const int mails = int(AllMail().size());
        Cycle();
        EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(AllMail().size(), mails) << "a further cycle mailed again";
    }

    Workload work;
};
} // namespace

TEST_F(DatabaseFaults, fileMissingAtCycleStart_reportedWithPathAndNextCycleRecovers)
{
    const QString away = db.path() + QStringLiteral(".away");
    db.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    ASSERT_TRUE(QFile::rename(db.path(), away));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::ConnectionFailed);
    ASSERT_EQ(connectionFailures.size(), 1);
    EXPECT_TRUE(connectionFailures[0].startsWith(QLatin1String("Database file not found: ")));
    EXPECT_TRUE(connectionFailures[0].contains(db.path())) << connectionFailures[0].toStdString();
    // Never created empty in its place.
    EXPECT_FALSE(QFile::exists(db.path()));
    EXPECT_FALSE(DatabaseConnection().IsOpen());
    EXPECT_TRUE(AllMail().isEmpty());

    ASSERT_TRUE(QFile::rename(away, db.path()));
    expectRecoveredOnce();
}

TEST_F(DatabaseFaults, fileThatIsNoDatabase_reportedAndNextCycleRecovers)
{
    // The connection string now names a file that is not a database (a
    // restore gone wrong); then the right one again.
    const QString garbagePath = db.directory() + QStringLiteral("/restored.db");
    {
        QFile garbage(garbagePath);
        ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, 'x'));
    }
    DBConnectionString = QStringLiteral("Provider=SQLite;Data Source=") + garbagePath;
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::ConnectionFailed);
    ASSERT_EQ(connectionFailures.size(), 1);
    EXPECT_TRUE(connectionFailures[0].contains(QLatin1String("file is not a database")))
        << connectionFailures[0].toStdString();
    EXPECT_FALSE(DatabaseConnection().IsOpen());

    DBConnectionString = db.connectionString();
    expectRecoveredOnce();
}

TEST_F(DatabaseFaults, writeLockedByAnotherProcessPastTheBusyTimeout_nothingHalfWrittenAndNextCycleRecovers)
{
    // Readers are not blocked (WAL): the cycle gets half-way, to its first
    // write, and waits there for the busy timeout.
    SqliteLockHolder otherWriter(db.path(), QStringLiteral("BEGIN IMMEDIATE"));
    const ShortLockWaits shortWaits;
    const QString log = Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
    ASSERT_EQ(last.errors.size(), 1) << log.toStdString();
    EXPECT_EQ(last.errors[0], QStringLiteral("Error in training expiry: database is locked"));
    EXPECT_TRUE(log.contains(QLatin1String("  - Error in training expiry: database is locked\r\n")));
    // Either a certification's queue rows and log row stand together, or none of them.
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 0);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 0);
    otherWriter.release();
    expectClosedAndUnlocked();
    expectRecoveredOnce();
}

TEST_F(DatabaseFaults, logTableMissing_errorNamesItAndNoCertificationIsQueued)
{
    const QVariant schema = db.queryValue(
        QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = 'AutomationServer_Emails'"));
    db.exec(QStringLiteral("DROP TABLE AutomationServer_Emails"));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
    ASSERT_EQ(last.errors.size(), 1);
    EXPECT_EQ(last.errors[0], QStringLiteral("Error in training expiry: no such table: AutomationServer_Emails"));
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 0);
    expectClosedAndUnlocked();

    db.exec(schema.toString());
    expectRecoveredOnce();
}

TEST_F(DatabaseFaults, issueColumnMissing_notificationsStillGoOutAndIssuesFollowOnceRepaired)
{
    db.exec(QStringLiteral("ALTER TABLE Issues DROP COLUMN Priority"));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
    // Each issue is held back on its own, and named.
    ASSERT_EQ(last.errors.size(), qMin<qsizetype>(work.issueDue.size(), 20));
    for (const QString &error : std::as_const(last.errors))
        EXPECT_TRUE(error.startsWith(QLatin1String("The automatic issue of training ")) &&
                    error.endsWith(QLatin1String("table Issues has no column named Priority")))
            << error.toStdString();
    // Notifying came before the failing stretch and stands; its mail went out.
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, work.due, 3, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, AllMail(), true));
    EXPECT_EQ(Count(QStringLiteral("Issues")), 0);
    expectClosedAndUnlocked();

    db.exec(QStringLiteral("ALTER TABLE Issues ADD COLUMN Priority NVARCHAR(20)"));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    const qint64 opened = Count(QStringLiteral("Issues"));
    EXPECT_GT(opened, 0);
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Priority = 'High' AND Status = 'Open'")), opened);
    expectRecoveredOnce();
    EXPECT_EQ(Count(QStringLiteral("Issues")), opened);
}

TEST_F(DatabaseFaults, queueTableMissing_notificationsWaitAndAreSentOnceRepaired)
{
    const QVariant schema = db.queryValue(
        QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = 'AutomationServer_EmailsSent'"));
    db.exec(QStringLiteral("DROP TABLE AutomationServer_EmailsSent"));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
    ASSERT_GE(last.errors.size(), 2) << last.errors.join(QLatin1Char('\n')).toStdString();
    for (const QString &error : last.errors.mid(0, last.errors.size() - 1))
        EXPECT_TRUE(error.startsWith(QLatin1String("The notification of training ")) &&
                    error.endsWith(QLatin1String("no such table: AutomationServer_EmailsSent")))
            << error.toStdString();
    EXPECT_EQ(last.errors.last(),
              QStringLiteral("Error in sending emails: no such table: AutomationServer_EmailsSent"));
    // The log row is written with its queue rows or not at all.
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 0);

    db.exec(schema.toString());
    expectRecoveredOnce();
}

// The mark is taken before the message leaves: a queue whose marking
// statement does not stand sends nothing (and says why), and once it stands
// again every message goes out exactly once.
TEST_F(DatabaseFaults, markingStatementRefused_nothingSentThenEverythingOnce)
{
    db.exec(QStringLiteral("CREATE TRIGGER refuse_marking BEFORE UPDATE ON AutomationServer_EmailsSent "
                           "BEGIN SELECT RAISE(ABORT, 'marking refused'); END;"));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
    ASSERT_EQ(last.errors.size(), 1);
    EXPECT_TRUE(last.errors[0].startsWith(QLatin1String("Mail sending stopped for this cycle: the queue rows cannot "
                                                        "be marked sent, so no message is sent (marking refused)")))
        << last.errors[0].toStdString();
    EXPECT_EQ(AllMail().size(), 0);
    db.exec(QStringLiteral("DROP TRIGGER refuse_marking"));

    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, work.due, 3, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, AllMail(), true));
    EXPECT_EQ(DuplicateMessages(AllMail()), 0);
}

TEST(DatabaseFaultsAtStart, oneShotAndHeadless_unreachableDatabase_reportAndExitOneThenRunOnceItIsBack)
{
    TempDatabase db;
    HostData host(db);
    SmtpServer smtp;
    ASSERT_TRUE(smtp.available());
    host.AddCompany(smtp.port());
    host.AddRule();
    const Workload work = AddWorkload(host, QDate::currentDate(), 1, 2, QStringLiteral("start"));
    const QString config = WriteServerConfig(db.directory(), db.connectionString());
    QTemporaryDir lockDir;
    const QString away = db.path() + QStringLiteral(".away");
    db.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    ASSERT_TRUE(QFile::rename(db.path(), away));

    for (const QString &mode : {QStringLiteral("--once"), QStringLiteral("--headless")}) {
        const ServerExit down = RunServer({mode, QStringLiteral("--config"), config}, lockDir.path(), 30000);
        EXPECT_EQ(down.exitCode, 1) << mode.toStdString();
        EXPECT_TRUE(down.err.contains(QLatin1String("Unable to connect to the database"))) << down.err.toStdString();
        EXPECT_TRUE(down.err.contains(QLatin1String("Reason: Database file not found: ") + db.path()))
            << down.err.toStdString();
    }

    ASSERT_TRUE(QFile::rename(away, db.path()));
    const ServerExit up = RunServer(OnceArguments(config), lockDir.path());
    EXPECT_EQ(up.exitCode, 0) << up.out.toStdString() << up.err.toStdString();
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, work.due, 3, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, smtp.messages(), true));
}
