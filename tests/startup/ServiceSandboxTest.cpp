// The server as the systemd unit runs it: the configuration in a folder it
// may not write, the embedded database and its cycle lock in the unit's
// StateDirectory=, the single-instance lock in its RuntimeDirectory=.

#include "tests/support/HostData.h"
#include "tests/support/ServerRun.h"
#include "tests/support/TempDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

TEST(ServiceSandboxTest, relativeDatabaseInTheStateFolder_runsACycle_withEveryLockInTheServicesOwnFolders)
{
    TempDatabase state;
    state.exec(QStringLiteral("INSERT INTO Company (Name, AutomationServerPoll, AutomationServerEmailServer,"
                              " AutomationServerEmailServerPort) VALUES ('Acme', 5, '127.0.0.1', '1')"));
    QTemporaryDir etc, runtime;
    ASSERT_TRUE(etc.isValid() && runtime.isValid());
    const QString config =
        WriteServerConfig(etc.path(),
                          QStringLiteral("Provider=SQLite;Data Source=") + QFileInfo(state.path()).fileName());
    QFile::setPermissions(etc.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    qputenv("STATE_DIRECTORY", state.directory().toLocal8Bit());
    qputenv("RUNTIME_DIRECTORY", runtime.path().toLocal8Bit());

    const ServerExit run = RunServer(OnceArguments(config), QString());
    qunsetenv("STATE_DIRECTORY");
    qunsetenv("RUNTIME_DIRECTORY");
    QFile::setPermissions(etc.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QLatin1String("Issues Closed: 0"))) << run.out.toStdString();
    EXPECT_TRUE(QFile::exists(state.path() + QStringLiteral(".cycle-lock")));
    EXPECT_TRUE(QFile::exists(
        QDir(runtime.path()).filePath(QStringLiteral("velmar-automation-server-%1.lock").arg(::geteuid()))));
    EXPECT_EQ(QDir(etc.path()).entryList(QDir::Files), QStringList{QStringLiteral("config.txt")});
}
