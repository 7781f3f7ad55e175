#pragma once

#include <QtGlobal>

#include <limits>
#include <stdexcept>

// The counts of one task cycle, reset when a cycle's connection opens and
// read for the log line after it. 32-bit: a large cycle must not overflow.
// DoTasks alone writes them, from what each task reports it did.
struct CycleCounterValues
{
    qint32 Emails = 0;
    qint32 IssuesCreated = 0;
    qint32 IssuesClosed = 0;

    void Reset() { Emails = IssuesCreated = IssuesClosed = 0; }
};

extern CycleCounterValues CycleCounters;

// Adds a task's count (never negative) to a counter, overflow-checked.
inline void IncrementCounter(qint32 &counter, qint32 by)
{
    if (by > std::numeric_limits<qint32>::max() - counter)
        throw std::overflow_error("cycle counter overflow");
    counter += by;
}
