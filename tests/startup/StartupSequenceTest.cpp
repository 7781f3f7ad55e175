#include "startup/StartupSequence.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "startup/ConfigFile.h"
#include "startup/ExclusiveFileLock.h"
#include "startup/MessageBox.h"
#include "startup/SingleInstance.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/TempDatabase.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
class StartupSequenceTest : public ::testing::Test
{
protected:
    FreshCompanySettings freshSettings;
    void SetUp() override
    {
        ASSERT_TRUE(lockDir.isValid());
        qputenv("VELMAR_INSTANCE_LOCK_DIR", lockDir.path().toLocal8Bit());
        SetConfigFilePath(QDir(db.directory()).filePath(QStringLiteral("config.txt")));
        SetOpenDatabaseFailureHandler([this](const QString &reason) { failures.append(reason); });
        db.exec(QStringLiteral("INSERT INTO Company (Name, AutomationServerPoll) VALUES ('Acme', 5)"));
    }
    void TearDown() override
    {
        CloseDatabase();
        ReleaseInstanceLock();
        SetOpenDatabaseFailureHandler(nullptr);
        SetConfigFilePath(QString());
        qunsetenv("VELMAR_INSTANCE_LOCK_DIR");
    }
    // config.txt beside the database, naming it by a relative path.
    void writeConfig() { ASSERT_TRUE(WriteConfigFile(QStringLiteral("Provider=SQLite;Data Source=velmar.db"))); }

    TempDatabase db;
    QTemporaryDir lockDir;
    MessageRecorder recorder;
    QStringList failures;
};
} // namespace

TEST_F(StartupSequenceTest, reachableDatabase_loadsSettingsOnceAndClosesTheConnection)
{
    writeConfig();
    const StartupResult result = RunStartupSequence();
    EXPECT_EQ(result.outcome, StartupOutcome::Ready);
    EXPECT_EQ(CompanySettings.Name, QStringLiteral("Acme"));
    EXPECT_EQ(CompanySettings.AutomationServerPoll, 5);
    EXPECT_FALSE(DatabaseConnection().IsOpen());
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_TRUE(recorder.messages.isEmpty());
    EXPECT_TRUE(QFile::exists(InstanceLockPath()));
}

TEST_F(StartupSequenceTest, missingConfigFile_failsToConnectBeforeTheInstanceCheck)
{
    const StartupResult result = RunStartupSequence();
    EXPECT_EQ(result.outcome, StartupOutcome::ConnectionFailed);
    EXPECT_EQ(failures.size(), 1);
    EXPECT_EQ(DBConnectionString, QString());
    EXPECT_FALSE(QFile::exists(InstanceLockPath()));
    EXPECT_EQ(CompanySettings.Name, QString());
}

TEST_F(StartupSequenceTest, anotherCopyRunning_isRefusedAfterConnecting)
{
    writeConfig();
    // Another copy holds the lock.
    ExclusiveFileLock other;
    ASSERT_EQ(other.TryTake(InstanceLockPath()), ExclusiveFileLock::Result::Taken);

    const StartupResult result = RunStartupSequence();

    EXPECT_EQ(result.outcome, StartupOutcome::Ended);
    EXPECT_EQ(result.exitCode, ExitAlreadyRunning);
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_EQ(recorder.messages[0].text, QStringLiteral("This application is already running."));
    EXPECT_EQ(recorder.messages[0].title, QStringLiteral("Application Already Running"));
    EXPECT_EQ(CompanySettings.Name, QString());
}

TEST_F(StartupSequenceTest, badCompanyRow_showsColumnAndValueAndEnds)
{
    writeConfig();
    db.exec(QStringLiteral("UPDATE Company SET AutomationServerPoll = 99999"));
    const StartupResult result = RunStartupSequence();
    EXPECT_EQ(result.outcome, StartupOutcome::Ended);
    EXPECT_EQ(result.exitCode, ExitFailure);
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_EQ(recorder.messages[0].title, CompanySettingsFailedTitle());
    EXPECT_TRUE(recorder.messages[0].text.contains(QLatin1String("AutomationServerPoll")));
    EXPECT_TRUE(recorder.messages[0].text.contains(QLatin1String("99999")));
    EXPECT_FALSE(DatabaseConnection().IsOpen());
}

TEST_F(StartupSequenceTest, missingCompanyTable_showsTheDatabaseReason)
{
    writeConfig();
    db.exec(QStringLiteral("DROP TABLE Company"));
    const StartupResult result = RunStartupSequence();
    EXPECT_EQ(result.outcome, StartupOutcome::Ended);
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_TRUE(recorder.messages[0].text.contains(QLatin1String("Company")))
        << recorder.messages[0].text.toStdString();
}

TEST_F(StartupSequenceTest, headlessConnectionReport_namesTheConfigFileAndReason)
{
    ReadConfigFile();
    ReportConnectionFailureHeadless(QStringLiteral("no such file"));
    ASSERT_EQ(recorder.messages.size(), 1);
    const QString &text = recorder.messages[0].text;
    EXPECT_TRUE(text.startsWith(ConnectionFailedText()));
    EXPECT_TRUE(text.contains(ConfigFilePath())) << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String("does not exist")));
    EXPECT_TRUE(text.contains(QLatin1String("no such file")));
    EXPECT_EQ(recorder.messages[0].title, QStringLiteral("Unable to Connect"));
}
