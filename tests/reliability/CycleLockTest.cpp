// The database-wide lock that keeps two servers from running a cycle on the
// same database at once.

#include "tests/reliability/ReliabilitySupport.h"

#include "database/CycleLock.h"
#include "database/DbConnection.h"
#include "mainwindow/LogLine.h"

#include <QDir>
#include <QFile>

TEST(CycleLockStatements, sqlServer_sessionOwnedApplicationLockTakenAndGivenBack)
{
    EXPECT_EQ(SqlServerCycleLockSql(5000),
              QStringLiteral("SET NOCOUNT ON; DECLARE @LockResult int; EXEC @LockResult = sp_getapplock "
                             "@Resource = 'Velmar Automation Server task cycle', @LockMode = 'Exclusive', "
                             "@LockOwner = 'Session', @LockTimeout = 5000; SELECT @LockResult AS LockResult"));
    EXPECT_EQ(SqlServerCycleUnlockSql(),
              QStringLiteral("EXEC sp_releaseapplock @Resource = 'Velmar Automation Server task cycle', "
                             "@LockOwner = 'Session'"));
    EXPECT_TRUE(SqlServerCycleLockSql(250).contains(QLatin1String("@LockTimeout = 250;")));
}

namespace {
class EmbeddedCycleLockTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(first.Open(db.connectionString(), &error)) << error.toStdString();
        ASSERT_TRUE(second.Open(db.connectionString(), &error)) << error.toStdString();
    }
    TempDatabase db;
    DbConnection first;
    DbConnection second;
};
} // namespace

TEST_F(EmbeddedCycleLockTest, secondConnection_waitsThenIsRefused_untilTheFirstCloses)
{
    EXPECT_EQ(first.TakeCycleLock(0), CycleLockResult::Taken);
    EXPECT_TRUE(first.HoldsCycleLock());
    EXPECT_EQ(first.TakeCycleLock(0), CycleLockResult::Taken); // already held: no self-deadlock
    EXPECT_EQ(second.TakeCycleLock(200), CycleLockResult::HeldElsewhere);
    EXPECT_FALSE(second.HoldsCycleLock());
    // The holder's statements still run: the lock guards cycles, not the data.
    EXPECT_NO_THROW(first.Execute(QStringLiteral("INSERT INTO Employee (Email) VALUES ('a@b.test')")));
    EXPECT_NO_THROW(second.Execute(QStringLiteral("INSERT INTO Employee (Email) VALUES ('c@d.test')")));

    first.Close();
    EXPECT_FALSE(first.HoldsCycleLock());
    EXPECT_EQ(second.TakeCycleLock(200), CycleLockResult::Taken);
    EXPECT_TRUE(QFile::exists(EmbeddedCycleLockPath(db.path())));
}

TEST_F(EmbeddedCycleLockTest, holderInAnotherProcessKilled_lockIsFreeAtOnce)
{
    SqliteLockHolder holder(EmbeddedCycleLockPath(db.path()));
    EXPECT_EQ(first.TakeCycleLock(200), CycleLockResult::HeldElsewhere);
    holder.kill();
    EXPECT_EQ(first.TakeCycleLock(2000), CycleLockResult::Taken);
}

TEST_F(EmbeddedCycleLockTest, lockFileThatCannotBeUsed_failsWithTheReasonAndPath)
{
    ASSERT_TRUE(QDir().mkdir(EmbeddedCycleLockPath(db.path())));
    QString reason;
    EXPECT_EQ(first.TakeCycleLock(200, &reason), CycleLockResult::Failed);
    EXPECT_TRUE(reason.contains(QDir::toNativeSeparators(EmbeddedCycleLockPath(db.path())))) << reason.toStdString();
    EXPECT_FALSE(first.HoldsCycleLock());
}

namespace {
class LockedCycle : public CycleTest
{
protected:
    void SetUp() override
    {
        CycleTest::SetUp();
        host.AddCompany(1);
        host.AddRule();
        work = AddWorkload(host, Today(), 2, 2, QStringLiteral("lock"));
        StartMail();
    }
    Workload work;
};
} // namespace

TEST_F(LockedCycle, anotherServerHoldsTheLock_cycleIsSkippedWithALogLineAndTouchesNothing)
{
    SqliteLockHolder otherServer(EmbeddedCycleLockPath(db.path()));
    const ShortLockWaits shortWaits;
    const QString log = Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Skipped);
    const QStringList lines = log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << log.toStdString();
    EXPECT_TRUE(lines[0].endsWith(QLatin1String("  - Cycle skipped: another server is running a cycle on this "
                                                "database (it holds the database's cycle lock)")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QLatin1String("  - Emails: 0  Issues Created: 0  Issues Closed: 0")));
    EXPECT_FALSE(DatabaseConnection().IsOpen());
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 0);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 0);
    EXPECT_EQ(Count(QStringLiteral("Issues")), 0);
    EXPECT_TRUE(AllMail().isEmpty());

    // The other server ends its cycle: the next one here does the work, once.
    otherServer.release();
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, work.due, 3, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, AllMail(), true));
}

TEST_F(LockedCycle, lockCannotBeTaken_cycleFailsWithTheReasonAndNothingRuns)
{
    ASSERT_TRUE(QDir().mkdir(EmbeddedCycleLockPath(db.path())));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
    ASSERT_EQ(last.errors.size(), 1);
    EXPECT_TRUE(last.errors[0].startsWith(QLatin1String("Error in taking the cycle lock: ")))
        << last.errors[0].toStdString();
    EXPECT_FALSE(DatabaseConnection().IsOpen());
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 0);
}

TEST_F(LockedCycle, completedCycle_givesTheLockBack)
{
    Cycle();
    ASSERT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    DbConnection other;
    ASSERT_TRUE(other.Open(db.connectionString()));
    EXPECT_EQ(other.TakeCycleLock(0), CycleLockResult::Taken);
}
