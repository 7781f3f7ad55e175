#pragma once

#include <QtGlobal>

#include <functional>
#include <limits>

class QTimer;

// When the poll timer runs a cycle. The timer ticks one second after load and
// then one minute after each tick's handler has ended; a tick runs a cycle
// when MinuteCount exceeds the poll period P (AutomationServerPoll). With
// P >= 1 the first timed cycle runs on tick P + 1 and then every P-th tick;
// with P <= 0 every tick runs one. A manual cycle leaves the count alone.
//
// 32-bit: a poll period of 32767 can never make the count overflow within a
// run (it stops at its maximum instead of failing).
class PollSchedule
{
public:
    static constexpr int FirstTickMs = 1000;
    static constexpr int TickMs = 60000;

    // At load, and after every timer-driven cycle.
    void Restart() { m_minuteCount = 1; }
    // Whether this tick runs a cycle (signed comparison with the period).
    bool CycleDue(qint16 poll) const { return m_minuteCount > poll; }
    // The end of every tick, whether or not it ran a cycle.
    void TickEnded()
    {
        if (m_minuteCount < std::numeric_limits<qint32>::max())
            ++m_minuteCount;
    }

    qint32 MinuteCount() const { return m_minuteCount; }

private:
    qint32 m_minuteCount = 1;
};

// One tick of the poll timer, the same for the window and the headless
// server: the timer stays stopped while the tick runs its cycle (so cycles
// never overlap) and is re-armed TickMs after the tick ends.
void RunPollTick(QTimer &timer, PollSchedule &schedule, const std::function<void()> &runCycle);
