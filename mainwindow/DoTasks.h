#pragma once

#include <QStringList>

// How one task cycle ended.
enum class CycleOutcome {
    Completed,          // every task ran without a failure
    ConnectionFailed,   // OpenDatabase failed (and reported it); nothing ran
    TaskFailed,         // a task failed or a mail group could not be sent
};

struct CycleResult
{
    CycleOutcome outcome = CycleOutcome::Completed;
    // One text per failure the cycle contained, in the order they happened
    // ("Error in training expiry: <message>", a mail group's failure...).
    QStringList errors;
};

// One task cycle: open the connection, reset CycleCounters, run the training
// expiry alert, send the queued emails, close the connection.
// A task that fails does not stop the server: its error is recorded, the
// shared result set is closed, and the cycle goes on with the next task (the
// queue may hold mail from other writers); the connection is closed at the
// end either way. Statements executed before a failure stay executed.
CycleResult DoTasks();
