#include "alerts/ProcessTrainingExpiry.h"

#include "alerts/AutoCloseIssues.h"
#include "alerts/AutomaticIssues.h"
#include "alerts/ExpiryNotifications.h"
#include "alerts/TrainingExpireRule.h"
#include "database/DbConnection.h"
#include "database/UnreadableDates.h"

namespace {
void runStretches(TrainingExpiryOutcome &outcome)
{
    LoadTrainingExpireRule();
    // The log of what a stretch wrote is copied into the database once its
    // rows have been read (a reader still walking them holds it back), so the
    // log holds one stretch's writes at most, not the cycle's.
    DbConnection &connection = DatabaseConnection();
    // Closing comes before notifying, and opening last, so an issue opened in
    // one poll is first considered for closing in the next.
    if (TrainingExpireRule.AutoCloseIssue) {
        AutoCloseIssues(outcome);
        connection.CheckpointLog();
    }
    if (EmailSwitchIsOn()) {
        QueueExpiryNotifications(outcome);
        connection.CheckpointLog();
    }
    if (SwitchIsOn(TrainingExpireRule.CreateIssue, QStringLiteral("CreateIssue"))) {
        CreateAutomaticIssues(outcome);
        connection.CheckpointLog();
    }
}
} // namespace

void ProcessTrainingExpiry(TrainingExpiryOutcome &outcome)
{
    TakeUnreadableDateLines(); // what an earlier, failed run left
    try {
        runStretches(outcome);
    } catch (...) {
        outcome.Failures.append(TakeUnreadableDateLines());
        throw;
    }
    outcome.Failures.append(TakeUnreadableDateLines());
}
