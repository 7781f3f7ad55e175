#include "mainwindow/Form1.h"
#include "database/Clock.h"
#include "database/DateText.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "mainwindow/CycleCounters.h"
#include "mainwindow/LogLine.h"
#include "startup/ProgramEnd.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/TempDatabase.h"

#include <QApplication>
#include <QCursor>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {
class Form1Test : public ::testing::Test
{
protected:
    FreshCompanySettings freshSettings;
    void SetUp() override
    {
        DBConnectionString = db.connectionString();
        CycleCounters.Reset();
        SetOpenDatabaseFailureHandler([this](const QString &) {
            ++connectionFailures;
            // What the pointer looks like while the cycle runs.
            const QCursor *cursor = QApplication::overrideCursor();
            pointerDuringCycle = cursor ? std::optional<Qt::CursorShape>(cursor->shape()) : std::nullopt;
        });
        previousEnd = SetProgramEndHandler([this](int code) { endCodes.append(code); });
        SetClockForTests([this] { return now; });
        form = std::make_unique<Form1>();
    }
    void TearDown() override
    {
        form.reset();
        SetClockForTests(nullptr);
        SetProgramEndHandler(previousEnd);
        SetOpenDatabaseFailureHandler(nullptr);
        CloseDatabase();
        CycleCounters.Reset();
    }
    QStringList lines() const { return form->txtResults->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    // Minute n after the start; the clock is set to it before cycle n, so
    // each cycle's line differs.
    QDateTime reading(int n) const { return start.addSecs(60 * n); }
    void at(int n) { now = reading(n); }
    static QString withoutLineEnd(QString text)
    {
        text.chop(2);
        return text;
    }

    TempDatabase db;
    std::unique_ptr<Form1> form;
    const QDateTime start{QDate(2026, 12, 8), QTime(9, 14, 2)};
    QDateTime now = start;
    int connectionFailures = 0;
    std::optional<Qt::CursorShape> pointerDuringCycle;
    QList<int> endCodes;
    ProgramEndHandler previousEnd;
};
} // namespace

TEST_F(Form1Test, layout_matchesTheDesign)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Velmar Automation Server 1.1"));
    EXPECT_EQ(form->size(), QSize(729, 466));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);

    EXPECT_EQ(form->txtResults->geometry(), QRect(8, 8, 713, 417));
    EXPECT_EQ(form->txtResults->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(form->txtResults->isReadOnly());
    EXPECT_TRUE(form->txtResults->toPlainText().isEmpty());
    EXPECT_EQ(form->btnExit->text(), QStringLiteral("Exit"));
    EXPECT_EQ(form->btnExit->geometry(), QRect(640, 432, 81, 25));
    EXPECT_EQ(form->btnClear->text(), QStringLiteral("Clear"));
    EXPECT_EQ(form->btnClear->geometry(), QRect(552, 432, 81, 25));
    EXPECT_EQ(form->bntDoTask->text(), QStringLiteral("Do Tasks"));
    EXPECT_EQ(form->bntDoTask->geometry(), QRect(464, 432, 81, 25));
    // Tab order, read from the focus chain (the text box's own scroll bars
    // and viewport sit in it too).
    const QList<QWidget *> controls{form->txtResults, form->btnExit, form->btnClear, form->bntDoTask};
    QList<QWidget *> order;
    QWidget *w = form->txtResults;
    do {
        if (controls.contains(w) && !order.contains(w))
            order.append(w);
        w = w->nextInFocusChain();
    } while (w != form->txtResults);
    EXPECT_EQ(order, controls);

    EXPECT_FALSE(form->Timer1->isActive()); // disabled until loaded
}

TEST_F(Form1Test, load_runsFirstCycleLogsAndArmsTheTimerForOneSecond)
{
    form->Form_Load();
    EXPECT_EQ(lines(), QStringList{withoutLineEnd(CountLine(reading(0)))});
    EXPECT_EQ(lines()[0], QStringLiteral("12/8/2026 9:14:02 AM  - Emails: 0  Issues Created: 0  Issues Closed: 0"));
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer1->interval(), 1000);
    EXPECT_TRUE(form->Timer1->isSingleShot());
    EXPECT_EQ(form->MinuteCount(), 1);
    EXPECT_FALSE(DatabaseConnection().IsOpen());
}

TEST_F(Form1Test, threeCycles_giveThreeLinesNewestFirst_andTypedTextStaysBelow)
{
    form->Form_Load();
    form->txtResults->moveCursor(QTextCursor::End);
    form->txtResults->insertPlainText(QStringLiteral("\noperator note"));
    at(1);
    form->bntDoTask->click();
    at(2);
    form->bntDoTask->click();
    EXPECT_EQ(lines(),
              (QStringList{withoutLineEnd(CountLine(reading(2))), withoutLineEnd(CountLine(reading(1))),
                           withoutLineEnd(CountLine(reading(0))), QStringLiteral("operator note")}));
}

// Left running for months the box keeps only its newest lines: the oldest
// go from the bottom, and nothing a cycle writes is lost from the top.
TEST_F(Form1Test, fullBox_dropsItsOldestLinesFromTheBottom)
{
    form->Form_Load();
    QString old;
    for (int i = 0; i < Form1::MostResultLines; ++i)
        old += QStringLiteral("old line %1\n").arg(i);
    form->txtResults->setPlainText(old);
    at(1);
    form->bntDoTask_Click();
    at(2);
    form->bntDoTask_Click();

    const QStringList shown = lines();
    ASSERT_EQ(shown.size(), Form1::MostResultLines);
    EXPECT_EQ(shown.at(0), withoutLineEnd(CountLine(reading(2))));
    EXPECT_EQ(shown.at(1), withoutLineEnd(CountLine(reading(1))));
    EXPECT_EQ(shown.at(2), QStringLiteral("old line 0"));
    EXPECT_EQ(shown.last(), QStringLiteral("old line %1").arg(Form1::MostResultLines - 3));
    EXPECT_FALSE(form->txtResults->document()->isUndoAvailable());
}

TEST_F(Form1Test, clear_emptiesTheBox_andTheNextLineComesFirst)
{
    form->Form_Load();
    at(1);
    form->bntDoTask_Click();
    form->btnClear->click();
    EXPECT_EQ(form->txtResults->toPlainText(), QString());
    at(2);
    form->bntDoTask_Click();
    EXPECT_EQ(lines(), QStringList{withoutLineEnd(CountLine(reading(2)))});
}

TEST_F(Form1Test, pollFive_ticksOneToSix_runOneTimedCycleOnTheSixth)
{
    CompanySettings.AutomationServerPoll = 5;
    form->Form_Load();
    for (int tick = 1; tick <= 5; ++tick) {
        form->Timer1_Timer();
        EXPECT_EQ(lines().size(), 1) << tick;
        EXPECT_TRUE(form->Timer1->isActive());
        EXPECT_EQ(form->Timer1->interval(), 60000);
    }
    form->Timer1_Timer();
    EXPECT_EQ(lines().size(), 2);
    EXPECT_EQ(form->MinuteCount(), 2);
    for (int tick = 7; tick <= 11; ++tick)
        form->Timer1_Timer();
    EXPECT_EQ(lines().size(), 3);
}

TEST_F(Form1Test, manualCycleMidPeriod_leavesTheCountAndTheNextTimedCycle)
{
    CompanySettings.AutomationServerPoll = 5;
    form->Form_Load();
    for (int tick = 1; tick <= 3; ++tick)
        form->Timer1_Timer();
    EXPECT_EQ(form->MinuteCount(), 4);
    form->bntDoTask_Click();
    EXPECT_EQ(form->MinuteCount(), 4);
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer1->interval(), 60000);
    EXPECT_EQ(lines().size(), 2);
    form->Timer1_Timer(); // tick 4
    form->Timer1_Timer(); // tick 5
    EXPECT_EQ(lines().size(), 2);
    form->Timer1_Timer(); // tick 6: the timed cycle, as without the manual one
    EXPECT_EQ(lines().size(), 3);
}

TEST_F(Form1Test, failedConnection_repeatsLastCountsAndReArmsTheTimer)
{
    form->Form_Load();
    CycleCounters.Emails = 4; // as if the last successful cycle sent four
    DBConnectionString = QStringLiteral("Provider=SQLite;Data Source=/no/such/velmar.db");
    form->bntDoTask_Click();
    EXPECT_EQ(connectionFailures, 1);
    EXPECT_EQ(form->LastCycle().outcome, CycleOutcome::ConnectionFailed);
    ASSERT_EQ(lines().size(), 2);
    EXPECT_TRUE(lines()[0].endsWith(QLatin1String("  - Emails: 4  Issues Created: 0  Issues Closed: 0")));
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(pointerDuringCycle, std::optional<Qt::CursorShape>(Qt::WaitCursor));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Form1Test, failingTask_putsItsErrorAboveTheCountLine)
{
    form->Form_Load();
    db.exec(QStringLiteral("DROP TABLE AutomationServer_Alert"));
    at(1);
    form->Timer1_Timer(); // poll 0: a cycle
    const QStringList shown = lines();
    ASSERT_EQ(shown.size(), 3);
    EXPECT_TRUE(shown[0].startsWith(DateText(reading(1)) + QStringLiteral("  - Error in training expiry: ")))
        << shown[0].toStdString();
    EXPECT_EQ(shown[1], withoutLineEnd(CountLine(reading(1))));
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_FALSE(DatabaseConnection().IsOpen());
}

TEST_F(Form1Test, exit_closesTheConnectionAndEndsTheProgram)
{
    form->Form_Load();
    ASSERT_TRUE(OpenDatabase());
    form->btnExit->click();
    EXPECT_FALSE(DatabaseConnection().IsOpen());
    EXPECT_EQ(endCodes, QList<int>{0});
}
