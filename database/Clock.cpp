#include "database/Clock.h"

namespace {
std::function<QDateTime()> &clockSource()
{
    static std::function<QDateTime()> source;
    return source;
}
} // namespace

QDateTime CurrentDateTime()
{
    // Whole seconds: what the date text can show is what is stored.
    if (clockSource()) {
        QDateTime now = clockSource()();
        now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
        return now;
    }
    // The local time of a second is the same however often it is asked for;
    // finding it reads the zone rules (with glibc, a check of the zone file
    // each time), which costs more than the rows a task writes per call.
    thread_local qint64 second = -1;
    thread_local QDateTime local;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != second) {
        local = QDateTime::fromSecsSinceEpoch(now, Qt::LocalTime);
        second = now;
    }
    return local;
}

QDate Today()
{
    return CurrentDateTime().date();
}

void SetClockForTests(std::function<QDateTime()> source)
{
    clockSource() = std::move(source);
}
