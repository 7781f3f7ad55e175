#include "mainwindow/PollSchedule.h"

#include <QList>

#include <gtest/gtest.h>

#include <limits>

namespace {
// Drives the timer's logic tick by tick, as the window's tick handler does,
// and returns the ticks (1-based) that ran a cycle.
QList<int> timedCycles(qint16 poll, int ticks)
{
    PollSchedule schedule;
    schedule.Restart(); // load
    QList<int> cycles;
    for (int tick = 1; tick <= ticks; ++tick) {
        if (schedule.CycleDue(poll)) {
            cycles.append(tick);
            schedule.Restart();
        }
        schedule.TickEnded();
    }
    return cycles;
}
} // namespace

TEST(PollScheduleTest, pollFive_firstTimedCycleOnTickSixThenEveryFifth)
{
    EXPECT_EQ(timedCycles(5, 21), (QList<int>{6, 11, 16, 21}));
}

TEST(PollScheduleTest, pollOne_firstOnTickTwoThenEveryTick)
{
    EXPECT_EQ(timedCycles(1, 5), (QList<int>{2, 3, 4, 5}));
}

TEST(PollScheduleTest, pollZeroOrNegative_everyTickIncludingTheFirst)
{
    EXPECT_EQ(timedCycles(0, 4), (QList<int>{1, 2, 3, 4}));
    EXPECT_EQ(timedCycles(-3, 4), (QList<int>{1, 2, 3, 4}));
    EXPECT_EQ(timedCycles(std::numeric_limits<qint16>::min(), 2), (QList<int>{1, 2}));
}

TEST(PollScheduleTest, minuteCount_isOneAfterLoadAndAfterEachTimedCycle)
{
    PollSchedule schedule;
    schedule.Restart();
    EXPECT_EQ(schedule.MinuteCount(), 1);
    for (int tick = 0; tick < 3; ++tick)
        schedule.TickEnded();
    EXPECT_EQ(schedule.MinuteCount(), 4);
    EXPECT_TRUE(schedule.CycleDue(3));
    EXPECT_FALSE(schedule.CycleDue(4));
    schedule.Restart();
    schedule.TickEnded();
    EXPECT_EQ(schedule.MinuteCount(), 2);
}

TEST(PollScheduleTest, largestPoll_runsOnTick32768InsteadOfOverflowing)
{
    // A 16-bit count would overflow on tick 32767; the 32-bit one goes on and
    // keeps the rule "first timed cycle on tick P + 1".
    EXPECT_EQ(timedCycles(std::numeric_limits<qint16>::max(), 40000), QList<int>{32768});
}
