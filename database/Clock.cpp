#include "Clock.h"

namespace {
std::function<QDateTime()> &clockSource()
{
    static std::function<QDateTime()> source;
    return source;
}
}

QDateTime CurrentDateTime()
{
    QDateTime now = clockSource() ? clockSource()() : QDateTime::currentDateTime();
    // Whole seconds: what the date text can show is what is stored.
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    return now;
}

QDate Today()
{
    return CurrentDateTime().date();
}

void SetClockForTests(std::function<QDateTime()> source)
{
    clockSource() = std::move(source);
}
