#include "mainwindow/LogLine.h"
#include "mainwindow/CycleCounters.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {
class LogLineTest : public ::testing::Test
{
protected:
    void SetUp() override { CycleCounters.Reset(); }
    void TearDown() override { CycleCounters.Reset(); }

    const QDateTime afternoon{QDate(2026, 12, 7), QTime(14, 5, 9)};
    const QDateTime midnight{QDate(2027, 1, 5), QTime(0, 0)};
};
} // namespace

TEST_F(LogLineTest, countLine_exactText)
{
    CycleCounters.Emails = 12;
    CycleCounters.IssuesCreated = 3;
    CycleCounters.IssuesClosed = 40000; // past the 16-bit range
    EXPECT_EQ(CountLine(afternoon),
              QStringLiteral("12/7/2026 2:05:09 PM  - Emails: 12  Issues Created: 3  Issues Closed: 40000\r\n"));
    EXPECT_EQ(CountLine(midnight),
              QStringLiteral("1/5/2027  - Emails: 12  Issues Created: 3  Issues Closed: 40000\r\n"));
}

TEST_F(LogLineTest, cycleText_putsErrorLinesAboveTheCountLine)
{
    CycleResult result;
    result.outcome = CycleOutcome::TaskFailed;
    result.errors = {QStringLiteral("Error in training expiry: no such table: AutomationServer_Alert"),
                     QStringLiteral("Unable to send to a@x.example;: connection refused")};
    EXPECT_EQ(CycleLogText(result, afternoon),
              QStringLiteral(
                  "12/7/2026 2:05:09 PM  - Error in training expiry: no such table: AutomationServer_Alert\r\n"
                  "12/7/2026 2:05:09 PM  - Unable to send to a@x.example;: connection refused\r\n"
                  "12/7/2026 2:05:09 PM  - Emails: 0  Issues Created: 0  Issues Closed: 0\r\n"));
}

TEST_F(LogLineTest, multiLineErrorMessage_staysOneLogLine)
{
    EXPECT_EQ(ErrorLine(afternoon, QStringLiteral("Error in sending emails: first\r\nsecond\nthird")),
              QStringLiteral("12/7/2026 2:05:09 PM  - Error in sending emails: first second third\r\n"));
}
