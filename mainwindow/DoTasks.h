#pragma once

#include <QStringList>

// How one task cycle ended.
enum class CycleOutcome {
    Completed,        // every task ran without a failure
    ConnectionFailed, // OpenDatabase failed (and reported it); nothing ran
    TaskFailed,       // a task failed or a mail group could not be sent
    Skipped,          // another server held the database's cycle lock; nothing ran
    MailStuck,        // nothing failed but mail refused for good (held back, see --queue-status)
};

struct CycleResult
{
    CycleOutcome outcome = CycleOutcome::Completed;
    // One text per failure the cycle contained, in the order they happened
    // ("Error in training expiry: <message>", a mail group's failure...), a
    // note for a message a stopped server left in flight (sent again; not a
    // failure), or the one line saying why the cycle was skipped.
    QStringList errors;
};

// One task cycle: open the connection, reset CycleCounters, take the
// database's cycle lock (another server's cycle on the same database ends
// first, or this one is skipped after CycleLockWaitMs), run the training
// expiry alert, send the queued emails, close the connection (which gives the
// lock back).
// CycleCounters get the counts each task reports, and the result the
// failures it reports, in order.
// A task that fails does not stop the server: its error is recorded, the
// shared result set is closed, and the cycle goes on with the next task (the
// queue may hold mail from other writers); the connection is closed at the
// end either way. Statements executed before a failure stay executed.
CycleResult DoTasks();

// The log text of a cycle skipped because another server holds the lock.
QString CycleSkippedText();
