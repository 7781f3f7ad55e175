#include "startup/SingleInstance.h"
#include "startup/ExclusiveFileLock.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

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
        qunsetenv("RUNTIME_DIRECTORY");
    }

    QTemporaryDir dir;
};
} // namespace

TEST_F(SingleInstanceTest, firstCopy_holdsTheLockUntilItGivesItBack)
{
    EXPECT_TRUE(InstanceLockPath().startsWith(dir.path()));
    EXPECT_FALSE(AnotherInstanceRunning());
    // Asking again in the same copy does not see itself as another.
    EXPECT_FALSE(AnotherInstanceRunning());
    ExclusiveFileLock other;
    EXPECT_EQ(other.TryTake(InstanceLockPath()), ExclusiveFileLock::Result::HeldElsewhere);
    ReleaseInstanceLock();
    EXPECT_EQ(other.TryTake(InstanceLockPath()), ExclusiveFileLock::Result::Taken);
    EXPECT_TRUE(AnotherInstanceRunning());
}

#if defined(Q_OS_UNIX)
TEST_F(SingleInstanceTest, copyInAnotherProcess_countsWhileItLives_andAKilledOneLeavesNothingBehind)
{
    QProcess copy;
    copy.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-c"),
                QStringLiteral("import fcntl, os, sys; fcntl.flock(os.open(sys.argv[1], os.O_RDWR | os.O_CREAT), "
                               "fcntl.LOCK_EX); print('HOLDING', flush=True); sys.stdin.readline()"),
                InstanceLockPath()});
    ASSERT_TRUE(copy.waitForReadyRead(20000)) << copy.readAllStandardError().toStdString();
    EXPECT_TRUE(AnotherInstanceRunning());

    copy.kill(); // SIGKILL: no chance to clean up
    ASSERT_TRUE(copy.waitForFinished(10000));
    EXPECT_TRUE(QFile::exists(InstanceLockPath()));
    EXPECT_FALSE(AnotherInstanceRunning());
}
#endif

TEST_F(SingleInstanceTest, filesThatNoLiveCopyHolds_neverBlockAStart)
{
    // What earlier versions and killed copies left, or another user wrote:
    // an empty file, one naming a live process, a take-over guard.
    const QList<QPair<QString, QByteArray>> leftovers{{QString(), QByteArray()},
                                                      {QString(),
                                                       QByteArray::number(QCoreApplication::applicationPid()) +
                                                           "\nvelmar-automation-server\nhost\n"},
                                                      {QStringLiteral(".rmlock"), QByteArray("1\n")}};
    for (const auto &[suffix, content] : leftovers) {
        QFile file(InstanceLockPath() + suffix);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        EXPECT_FALSE(AnotherInstanceRunning()) << file.fileName().toStdString() << ": " << content.toStdString();
        ReleaseInstanceLock();
    }
}

#if defined(Q_OS_UNIX)
TEST_F(SingleInstanceTest, lockFolder_isTheServicesOrTheUsersOwn_neverTheSharedTemporaryFolder)
{
    qunsetenv("VELMAR_INSTANCE_LOCK_DIR");
    qputenv("RUNTIME_DIRECTORY", (dir.path() + QStringLiteral(":/run/other")).toLocal8Bit());
    EXPECT_EQ(InstanceLockDirectory(), dir.path());

    qunsetenv("RUNTIME_DIRECTORY");
    const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
    const QFileInfo folder(InstanceLockDirectory());
    EXPECT_NE(folder.absoluteFilePath(), QStringLiteral("/tmp"));
    EXPECT_EQ(folder.ownerId(), ::geteuid());
    EXPECT_FALSE(folder.permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther));
    EXPECT_FALSE(AnotherInstanceRunning());
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("velmar-automation-server-%1.lock").arg(::geteuid()))));
    qputenv("XDG_RUNTIME_DIR", previousRuntime);
}
#endif

TEST_F(SingleInstanceTest, unusableLockDirectory_doesNotStopTheServer)
{
    qputenv("VELMAR_INSTANCE_LOCK_DIR", dir.filePath(QStringLiteral("missing/dir")).toLocal8Bit());
    EXPECT_FALSE(AnotherInstanceRunning());
}
