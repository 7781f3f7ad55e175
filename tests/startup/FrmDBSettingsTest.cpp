#include "startup/frmDBSettings.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "startup/ConfigFile.h"
#include "startup/DesktopFrontEnd.h"
#include "startup/MessageBox.h"
#include "startup/ProgramEnd.h"
#include "tests/support/TempDatabase.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {
class FrmDBSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        configPath = QDir(db.directory()).filePath(QStringLiteral("config.txt"));
        SetConfigFilePath(configPath);
        previousEnd = SetProgramEndHandler([this](int code) { endCodes.append(code); });
        DBConnectionString = QStringLiteral("Provider=SQLite;Data Source=/no/such/velmar.db");
    }
    void TearDown() override
    {
        if (frmDBSettings *window = LoadedDbSettingsWindow())
            delete window;
        CloseDatabase();
        SetProgramEndHandler(previousEnd);
        SetConfigFilePath(QString());
        SetOpenDatabaseFailureHandler(nullptr);
    }
    frmDBSettings *loaded()
    {
        frmDBSettings *window = ShowDbSettingsWindow();
        EXPECT_NE(window, nullptr);
        return window;
    }

    TempDatabase db;
    QString configPath;
    MessageRecorder recorder;
    QList<int> endCodes;
    ProgramEndHandler previousEnd;
};
} // namespace

TEST_F(FrmDBSettingsTest, layout_matchesTheDesign)
{
    frmDBSettings *w = loaded();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Database Settings"));
    EXPECT_EQ(w->size(), QSize(782, 80));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w->windowType(), Qt::Tool); // kept out of the taskbar

    EXPECT_EQ(w->Label1->text(), QStringLiteral("Database Connection String:"));
    EXPECT_EQ(w->Label1->geometry(), QRect(8, 16, 145, 17));
    EXPECT_EQ(w->txtDB->geometry(), QRect(160, 16, 617, 19));
    EXPECT_EQ(w->btnSave->text(), QStringLiteral("Save"));
    EXPECT_EQ(w->btnSave->geometry(), QRect(608, 48, 81, 25));
    EXPECT_EQ(w->btnExit->text(), QStringLiteral("Exit"));
    EXPECT_EQ(w->btnExit->geometry(), QRect(696, 48, 81, 25));
    EXPECT_EQ(w->btnTest->text(), QStringLiteral("Test"));
    EXPECT_EQ(w->btnTest->geometry(), QRect(520, 48, 81, 25));

    // Tab order: the text box, Save, Exit, Test (not the order on screen).
    const QList<QWidget *> controls{w->txtDB, w->btnSave, w->btnExit, w->btnTest};
    QList<QWidget *> order;
    QWidget *next = w->txtDB;
    do {
        if (controls.contains(next) && !order.contains(next))
            order.append(next);
        next = next->nextInFocusChain();
    } while (next != w->txtDB);
    EXPECT_EQ(order, controls);
}

TEST_F(FrmDBSettingsTest, labelShowsItsWholeCaption_atTheDesignedSize_whateverTheFont)
{
    const QFont platformFont = QApplication::font();
    for (const qreal pointSize : {platformFont.pointSizeF(), 12.0, 20.0}) {
        QFont font = platformFont;
        font.setPointSizeF(pointSize);
        QApplication::setFont(font);
        frmDBSettings w;
        EXPECT_EQ(w.Label1->geometry(), QRect(8, 16, 145, 17));
        EXPECT_LE(QFontMetrics(w.Label1->font()).horizontalAdvance(w.Label1->text()), w.Label1->contentsRect().width())
            << "at " << pointSize << " points";
    }
    QApplication::setFont(platformFont);
}

TEST_F(FrmDBSettingsTest, load_showsTheStringReadAtStartUp_evenEmpty)
{
    DBConnectionString = QStringLiteral("DSN=velmar;UID=o'neil");
    EXPECT_EQ(loaded()->txtDB->text(), DBConnectionString);
    delete LoadedDbSettingsWindow();
    DBConnectionString.clear();
    EXPECT_EQ(loaded()->txtDB->text(), QString());
}

TEST_F(FrmDBSettingsTest, testWithNonsense_saysUnableAndChangesNothing)
{
    ASSERT_TRUE(WriteConfigFile(QStringLiteral("DSN=original")));
    DBConnectionString = QStringLiteral("DSN=original");
    frmDBSettings *w = loaded();
    for (const QString &text :
         {QString(), QStringLiteral("nonsense"), QStringLiteral("Provider=SQLite;Data Source=/no/such/file.db")}) {
        w->txtDB->setText(text);
        w->btnTest->click();
        ASSERT_FALSE(recorder.messages.isEmpty());
        EXPECT_EQ(recorder.messages.last().text, QStringLiteral("Unable to connect using this connection string."));
        EXPECT_EQ(recorder.messages.last().title, QStringLiteral("Unable to Connect"));
        EXPECT_EQ(w->txtDB->text(), text);
    }
    EXPECT_EQ(DBConnectionString, QStringLiteral("DSN=original"));
    ReadConfigFile();
    EXPECT_EQ(DBConnectionString, QStringLiteral("DSN=original"));
    EXPECT_TRUE(w->isVisible());
}

TEST_F(FrmDBSettingsTest, testTwice_succeedsAndLeavesConnectionOpen_butNextOpenUsesStartUpString)
{
    frmDBSettings *w = loaded();
    w->txtDB->setText(QStringLiteral("  ") + db.connectionString() + QStringLiteral("  "));
    w->btnTest->click();
    w->btnTest->click();
    ASSERT_EQ(recorder.messages.size(), 2);
    for (const MessageRecorder::Message &m : recorder.messages) {
        EXPECT_EQ(m.text, QStringLiteral("Connection Successful!"));
        EXPECT_EQ(m.title, QStringLiteral("Connection Successful."));
    }
    EXPECT_TRUE(DatabaseConnection().IsOpen());
    // The tested string is not used: the next open reconnects with the one
    // read at start-up (unreachable here).
    EXPECT_FALSE(OpenDatabase());
}

TEST_F(FrmDBSettingsTest, save_writesTrimmedTextThenSaysRestartAndEnds)
{
    frmDBSettings *w = loaded();
    w->txtDB->setText(QStringLiteral("   DSN=new place   "));
    w->btnSave->click();
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_EQ(recorder.messages[0].text,
              QStringLiteral("The application will exit now, once it has exited, you may restart and log in."));
    EXPECT_EQ(recorder.messages[0].title, QStringLiteral("Application Restart"));
    EXPECT_EQ(endCodes, QList<int>{0});
    QFile file(configPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), ConfigFileBytes(QStringLiteral("DSN=new place")));
}

TEST_F(FrmDBSettingsTest, saveThatCannotWrite_saysWhyAndKeepsRunning)
{
    SetConfigFilePath(QDir(db.directory()).filePath(QStringLiteral("missing/config.txt")));
    frmDBSettings *w = loaded();
    w->txtDB->setText(QStringLiteral("DSN=x"));
    w->btnSave->click();
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_EQ(recorder.messages[0].title, QStringLiteral("Unable to Save"));
    EXPECT_TRUE(recorder.messages[0].text.contains(QLatin1String("missing/config.txt")))
        << recorder.messages[0].text.toStdString();
    EXPECT_TRUE(endCodes.isEmpty());
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->txtDB->text(), QStringLiteral("DSN=x"));
}

TEST_F(FrmDBSettingsTest, exitAsTheOnlyWindow_unloadsAndEndsTheProgram)
{
    InstallDesktopConnectionFailureHandler();
    EXPECT_FALSE(OpenDatabase());
    frmDBSettings *w = LoadedDbSettingsWindow();
    ASSERT_NE(w, nullptr);
    w->btnExit->click();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(LoadedDbSettingsWindow(), nullptr);
    EXPECT_EQ(endCodes, QList<int>{0});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(FrmDBSettingsTest, failureAfterExit_loadsAFreshWindow)
{
    InstallDesktopConnectionFailureHandler();
    EXPECT_FALSE(OpenDatabase());
    frmDBSettings *first = LoadedDbSettingsWindow();
    ASSERT_NE(first, nullptr);
    first->txtDB->setText(QStringLiteral("typed"));
    first->btnExit->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // A later failure loads a fresh window, with the start-up string again.
    EXPECT_FALSE(OpenDatabase());
    frmDBSettings *second = LoadedDbSettingsWindow();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(second->txtDB->text(), DBConnectionString);
}
