#include "startup/Main.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "email/MailRedirect.h"
#include "mainwindow/Form1.h"
#include "startup/ConfigFile.h"
#include "startup/DesktopFrontEnd.h"
#include "startup/MessageBox.h"
#include "startup/ProgramEnd.h"
#include "startup/SingleInstance.h"
#include "startup/frmDBSettings.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/TempDatabase.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
class MainTest : public ::testing::Test
{
protected:
    FreshCompanySettings freshSettings;
    void SetUp() override
    {
        ASSERT_TRUE(lockDir.isValid());
        qputenv("VELMAR_INSTANCE_LOCK_DIR", lockDir.path().toLocal8Bit());
        SetConfigFilePath(QDir(db.directory()).filePath(QStringLiteral("config.txt")));
        previousEnd = SetProgramEndHandler([this](int code) { endCodes.append(code); });
        InstallDesktopConnectionFailureHandler();
        db.exec(QStringLiteral("INSERT INTO Company (Name, AutomationServerPoll) VALUES ('Acme', 5)"));
    }
    void TearDown() override
    {
        delete mainWindow;
        delete LoadedDbSettingsWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        CloseDatabase();
        ReleaseInstanceLock();
        SetOpenDatabaseFailureHandler(nullptr);
        SetProgramEndHandler(previousEnd);
        SetConfigFilePath(QString());
        qunsetenv("VELMAR_INSTANCE_LOCK_DIR");
    }
    int visibleSettingsWindows() const
    {
        int count = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            count += qobject_cast<frmDBSettings *>(w) && w->isVisible() ? 1 : 0;
        return count;
    }

    TempDatabase db;
    QTemporaryDir lockDir;
    MessageRecorder recorder;
    QList<int> endCodes;
    ProgramEndHandler previousEnd;
    QPointer<Form1> mainWindow;
};
} // namespace

TEST_F(MainTest, repeatedConnectionFailures_showTheMessageEachTimeAndOneSettingsWindow)
{
    DBConnectionString = QStringLiteral("Provider=SQLite;Data Source=/no/such/velmar.db");
    EXPECT_FALSE(OpenDatabase());
    frmDBSettings *first = LoadedDbSettingsWindow();
    ASSERT_NE(first, nullptr);
    first->txtDB->setText(QStringLiteral("being edited"));
    EXPECT_FALSE(OpenDatabase());
    EXPECT_FALSE(OpenDatabase());

    ASSERT_EQ(recorder.messages.size(), 3);
    for (const MessageRecorder::Message &m : recorder.messages) {
        EXPECT_EQ(m.text,
                  QStringLiteral(
                      "Unable to connect to the database, please check the database settings and try again."));
        EXPECT_EQ(m.title, QStringLiteral("Unable to Connect"));
    }
    EXPECT_EQ(LoadedDbSettingsWindow(), first);
    EXPECT_EQ(visibleSettingsWindows(), 1);
    // Shown again, not loaded again: the typed text stays.
    EXPECT_EQ(first->txtDB->text(), QStringLiteral("being edited"));
}

TEST_F(MainTest, missingConfigFile_leavesOnlyTheSettingsWindow_whoseExitEndsTheProgramAsFailed)
{
    const MainResult result = Main(LoadForm1, MailRedirectNote());
    EXPECT_TRUE(result.keepRunning);
    EXPECT_EQ(result.mainWindow, nullptr);
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_EQ(recorder.messages[0].title, QStringLiteral("Unable to Connect"));
    ASSERT_NE(LoadedDbSettingsWindow(), nullptr);
    EXPECT_EQ(LoadedDbSettingsWindow()->txtDB->text(), QString());
    // No instance check before a connection.
    EXPECT_FALSE(QFile::exists(InstanceLockPath()));

    LoadedDbSettingsWindow()->btnExit->click();
    EXPECT_EQ(endCodes, QList<int>{1});
}

TEST_F(MainTest, reachableDatabase_runsTheFirstCycleThenShowsTheWindowWithSuffix)
{
    {
        QFile config(ConfigFilePath());
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write("\"h\"\r\n\"Database Location\",\"Provider=SQLite;Data Source=velmar.db\"\r\n"
                     "\"END OF CONFIG FILE\",\"North Plant\"\r\n");
    }
    const MainResult result = Main(LoadForm1, MailRedirectNote());
    mainWindow = qobject_cast<Form1 *>(result.mainWindow);
    ASSERT_TRUE(result.keepRunning);
    ASSERT_NE(mainWindow, nullptr);
    EXPECT_TRUE(mainWindow->isVisible());
    EXPECT_EQ(mainWindow->windowTitle(), QStringLiteral("Velmar Automation Server 1.1 - North Plant"));
    EXPECT_EQ(CompanySettings.AutomationServerPoll, 5);
    EXPECT_EQ(mainWindow->LastCycle().outcome, CycleOutcome::Completed)
        << mainWindow->LastCycle().errors.join(QLatin1Char('\n')).toStdString();
    const QStringList lines = mainWindow->txtResults->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QLatin1String("  - Emails: 0  Issues Created: 0  Issues Closed: 0")));
    EXPECT_TRUE(mainWindow->Timer1->isActive());
    EXPECT_EQ(mainWindow->Timer1->interval(), 1000);
    EXPECT_FALSE(DatabaseConnection().IsOpen());
    EXPECT_TRUE(recorder.messages.isEmpty());
}

TEST_F(MainTest, emptyCaptionSuffix_leavesCaptionEndingInDash)
{
    ASSERT_TRUE(WriteConfigFile(db.connectionString()));
    const MainResult result = Main(LoadForm1, MailRedirectNote());
    mainWindow = qobject_cast<Form1 *>(result.mainWindow);
    ASSERT_NE(mainWindow, nullptr);
    EXPECT_EQ(mainWindow->windowTitle(), QStringLiteral("Velmar Automation Server 1.1 - "));
}

TEST_F(MainTest, redirectedMail_isNamedInTheCaptionAndTheLogLine)
{
    ASSERT_TRUE(WriteConfigFile(db.connectionString()));
    SetMailRedirect(QStringLiteral("tester@redirect.test"));
    const MainResult result = Main(LoadForm1, MailRedirectNote());
    SetMailRedirect(QString());
    mainWindow = qobject_cast<Form1 *>(result.mainWindow);
    ASSERT_NE(mainWindow, nullptr);
    EXPECT_TRUE(mainWindow->windowTitle().endsWith(QLatin1String(" - MAIL REDIRECTED TO tester@redirect.test")));
    EXPECT_TRUE(mainWindow->txtResults->toPlainText().trimmed().endsWith(
        QLatin1String("Issues Closed: 0 - MAIL REDIRECTED TO tester@redirect.test")));
}

TEST_F(MainTest, settingsWindowExitWhileMainWindowRuns_keepsTheProgram_thenClosingMainEndsIt)
{
    ASSERT_TRUE(WriteConfigFile(db.connectionString()));
    const MainResult result = Main(LoadForm1, MailRedirectNote());
    mainWindow = qobject_cast<Form1 *>(result.mainWindow);
    ASSERT_NE(mainWindow, nullptr);

    // A later cycle cannot connect: message and settings window, both open.
    DBConnectionString = QStringLiteral("Provider=SQLite;Data Source=/no/such/velmar.db");
    mainWindow->bntDoTask_Click();
    ASSERT_NE(LoadedDbSettingsWindow(), nullptr);
    EXPECT_TRUE(mainWindow->isVisible());

    LoadedDbSettingsWindow()->btnExit->click();
    EXPECT_TRUE(endCodes.isEmpty());

    mainWindow->close();
    EXPECT_EQ(endCodes, QList<int>{0});
}

TEST_F(MainTest, badCompanySettings_endWithMessageNamingColumnAndValue)
{
    ASSERT_TRUE(WriteConfigFile(db.connectionString()));
    db.exec(QStringLiteral("UPDATE Company SET AutomationServerPoll = 'every hour'"));
    const MainResult result = Main(LoadForm1, MailRedirectNote());
    EXPECT_FALSE(result.keepRunning);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(result.mainWindow, nullptr);
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_TRUE(recorder.messages[0].text.contains(QLatin1String("AutomationServerPoll")));
    EXPECT_TRUE(recorder.messages[0].text.contains(QLatin1String("every hour")));
}
