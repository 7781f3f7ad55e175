#include "mainwindow/HeadlessServer.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/TempDatabase.h"

#include <gtest/gtest.h>

namespace {
class HeadlessServerTest : public ::testing::Test
{
protected:
    FreshCompanySettings freshSettings;
    void SetUp() override { DBConnectionString = db.connectionString(); }
    void TearDown() override { CloseDatabase(); }

    TempDatabase db;
    QStringList written;
    HeadlessServer server{[this](const QString &text) { written.append(text); }};
};
} // namespace

TEST_F(HeadlessServerTest, start_runsTheFirstCycleAndArmsOneSecond)
{
    server.Start();
    ASSERT_EQ(written.size(), 1);
    EXPECT_TRUE(written[0].endsWith(QLatin1String("  - Emails: 0  Issues Created: 0  Issues Closed: 0\r\n")));
    EXPECT_TRUE(server.Timer().isActive());
    EXPECT_EQ(server.Timer().interval(), 1000);
    EXPECT_EQ(server.Schedule().MinuteCount(), 1);
}

TEST_F(HeadlessServerTest, ticks_followTheWindowsSchedule)
{
    CompanySettings.AutomationServerPoll = 2;
    server.Start();
    server.Tick(); // 1 > 2? no
    server.Tick(); // 2 > 2? no
    EXPECT_EQ(written.size(), 1);
    EXPECT_EQ(server.Timer().interval(), 60000);
    server.Tick(); // tick P + 1
    EXPECT_EQ(written.size(), 2);
    EXPECT_TRUE(server.Timer().isActive());
}

TEST_F(HeadlessServerTest, stop_endsPollingWithTheConnectionClosed)
{
    server.Start();
    ASSERT_TRUE(OpenDatabase());
    server.Stop();
    EXPECT_FALSE(server.Timer().isActive());
    EXPECT_FALSE(DatabaseConnection().IsOpen());
}
