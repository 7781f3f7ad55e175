#pragma once

#include <QStringList>

#include <limits>
#include <stdexcept>

// The counts of one task cycle, reset when a cycle's connection opens and
// read for the log line after it. 32-bit: a large cycle must not overflow.
struct CycleCounterValues
{
    qint32 Emails = 0;
    qint32 IssuesCreated = 0;
    qint32 IssuesClosed = 0;
    // Failures a cycle contained and went on from (a mail group that could
    // not be sent), each one line of text for the log, shown above the count
    // line. Reset with the counters.
    QStringList Failures;
    // Mail refused for good (5xx, an unusable address or sender), one line per
    // recipient list in the cycle it became stuck; later cycles that hold it
    // back or find it refused again only count it in MailHeldBack.
    QStringList Stuck;
    qint32 MailHeldBack = 0;

    void Reset()
    {
        Emails = IssuesCreated = IssuesClosed = MailHeldBack = 0;
        Failures.clear();
        Stuck.clear();
    }
};

extern CycleCounterValues CycleCounters;

inline void IncrementCounter(qint32 &counter)
{
    if (counter == std::numeric_limits<qint32>::max())
        throw std::overflow_error("cycle counter overflow");
    ++counter;
}
