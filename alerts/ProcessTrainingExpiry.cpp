#include "alerts/ProcessTrainingExpiry.h"

#include "alerts/AutoCloseIssues.h"
#include "alerts/AutomaticIssues.h"
#include "alerts/ExpiryNotifications.h"
#include "alerts/TrainingExpireRule.h"

void ProcessTrainingExpiry(TrainingExpiryOutcome &outcome)
{
    LoadTrainingExpireRule();
    // Closing comes before notifying, and opening last, so an issue opened in
    // one poll is first considered for closing in the next.
    if (TrainingExpireRule.AutoCloseIssue)
        AutoCloseIssues(outcome);
    if (EmailSwitchIsOn())
        QueueExpiryNotifications(outcome);
    if (SwitchIsOn(TrainingExpireRule.CreateIssue, QStringLiteral("CreateIssue")))
        CreateAutomaticIssues(outcome);
}
