#include "mainwindow/PollSchedule.h"

#include "startup/CompanySettings.h"

#include <QTimer>

void RunPollTick(QTimer &timer, PollSchedule &schedule, const std::function<void()> &runCycle)
{
    timer.stop();
    if (schedule.CycleDue(CompanySettings.AutomationServerPoll)) {
        runCycle();
        schedule.Restart();
    }
    schedule.TickEnded();
    timer.start(PollSchedule::TickMs);
}
