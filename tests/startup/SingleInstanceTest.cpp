#include "SingleInstance.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
// Each test gets its own lock directory, so parallel runs and an installed
// server never meet.
class SingleInstanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        qputenv("VELMAR_INSTANCE_LOCK_DIR", dir.path().toLocal8Bit());
    }
    void TearDown() override
    {
        ReleaseInstanceLock();
        qunsetenv("VELMAR_INSTANCE_LOCK_DIR");
    }
    // A lock file as another copy leaves it: its process id and name.
    void writeLockOf(qint64 pid, const QString &processName)
    {
        QFile file(InstanceLockPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(pid) + '\n' + processName.toUtf8() + "\n\n");
    }
    // The lock file of a copy that crashed: it names a process that is gone.
    void writeLockOfACrashedCopy()
    {
        QProcess crashed;
        crashed.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        ASSERT_TRUE(crashed.waitForStarted(5000));
        const qint64 pid = crashed.processId();
        crashed.kill();
        ASSERT_TRUE(crashed.waitForFinished(5000));
        writeLockOf(pid, QStringLiteral("sleep"));
    }

    QTemporaryDir dir;
};
}

TEST_F(SingleInstanceTest, firstCopy_takesTheLockAndKeepsIt)
{
    EXPECT_TRUE(InstanceLockPath().startsWith(dir.path()));
    EXPECT_FALSE(AnotherInstanceRunning());
    EXPECT_TRUE(QFile::exists(InstanceLockPath()));
    // Asking again in the same copy does not see itself as another.
    EXPECT_FALSE(AnotherInstanceRunning());
    ReleaseInstanceLock();
    EXPECT_FALSE(QFile::exists(InstanceLockPath()));
}

TEST_F(SingleInstanceTest, lockOfALiveProcess_meansAnotherCopyRuns)
{
    QProcess holder;
    holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(holder.waitForStarted(5000));
    writeLockOf(holder.processId(), QStringLiteral("sleep"));

    EXPECT_TRUE(AnotherInstanceRunning());
    EXPECT_TRUE(QFile::exists(InstanceLockPath()));

    holder.kill();
    holder.waitForFinished(5000);
}

TEST_F(SingleInstanceTest, lockLeftByACrashedCopy_doesNotBlock)
{
    writeLockOfACrashedCopy();

    EXPECT_FALSE(AnotherInstanceRunning());
    // Taken over: the file now names this process.
    QFile file(InstanceLockPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readLine().trimmed().toLongLong(), QCoreApplication::applicationPid());
}

TEST_F(SingleInstanceTest, emptyLockFileLeftByACopyKilledWhileWritingIt_doesNotBlockForGood)
{
    QFile file(InstanceLockPath());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));   // created, owner never written
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    file.close();
    EXPECT_FALSE(AnotherInstanceRunning());
    QFile taken(InstanceLockPath());
    ASSERT_TRUE(taken.open(QIODevice::ReadOnly));
    EXPECT_EQ(taken.readLine().trimmed().toLongLong(), QCoreApplication::applicationPid());
}

#if defined(Q_OS_UNIX)
TEST_F(SingleInstanceTest, freshEmptyLockFileWithNoLiveOwner_isTakenOverAtOnce)
{
    QFile file(InstanceLockPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    // A copy killed right after creating the file: the restart must not wait.
    EXPECT_FALSE(AnotherInstanceRunning());
}
#endif

#if defined(Q_OS_UNIX)
// A copy killed while it was taking over a crashed copy's lock leaves the
// helper file that guards the take-over ("<lock>.rmlock"), possibly still
// empty. Neither of the two dead copies may block the next start.
TEST_F(SingleInstanceTest, takeOverLeftHalfDoneByAKilledCopy_doesNotBlock)
{
    writeLockOfACrashedCopy();
    QFile guard(InstanceLockPath() + QStringLiteral(".rmlock"));
    ASSERT_TRUE(guard.open(QIODevice::WriteOnly));
    guard.close();

    EXPECT_FALSE(AnotherInstanceRunning());
    QFile taken(InstanceLockPath());
    ASSERT_TRUE(taken.open(QIODevice::ReadOnly));
    EXPECT_EQ(taken.readLine().trimmed().toLongLong(), QCoreApplication::applicationPid());
}

TEST_F(SingleInstanceTest, liveCopyTakingOverACrashedCopysLock_meansAnotherCopyRuns)
{
    writeLockOfACrashedCopy();
    // Another copy is in the middle of its take-over: it holds the guard.
    QLockFile guard(InstanceLockPath() + QStringLiteral(".rmlock"));
    ASSERT_TRUE(guard.tryLock(0));

    EXPECT_TRUE(AnotherInstanceRunning());
    EXPECT_TRUE(QFile::exists(InstanceLockPath() + QStringLiteral(".rmlock")));
}
#endif

TEST_F(SingleInstanceTest, unusableLockDirectory_doesNotStopTheServer)
{
    qputenv("VELMAR_INSTANCE_LOCK_DIR", dir.filePath(QStringLiteral("missing/dir")).toLocal8Bit());
    EXPECT_FALSE(AnotherInstanceRunning());
}
