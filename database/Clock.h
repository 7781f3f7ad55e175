#pragma once

#include <QDate>
#include <QDateTime>

#include <functional>

// "Now" for the task cycle, the queue and the alert stretches. Local time,
// whole seconds. Tests may replace the source; nothing else does.
QDateTime CurrentDateTime();
QDate Today();
void SetClockForTests(std::function<QDateTime()> source); // empty: the real clock
