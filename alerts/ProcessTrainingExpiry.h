#pragma once

#include <QStringList>

// What one run of the task did, for the cycle's counts and log. Filled as the
// run goes: what happened before a failure that throws stays in it.
struct TrainingExpiryOutcome
{
    qint32 IssuesClosed = 0;
    qint32 IssuesCreated = 0; // counted once committed
    // Certifications and issues held back for the next poll (IsolatedBatches),
    // and rows left out for a date that cannot be read: one log line each.
    QStringList Failures;
};

// The "Training Expire" alert task: loads the rule, then runs auto-close,
// expiry notifications and automatic issue creation as the rule switches
// them. Needs DatabaseConnection() open. Throws DbError (or another
// std::exception) on failure; statements executed before it stay executed.
void ProcessTrainingExpiry(TrainingExpiryOutcome &outcome);
