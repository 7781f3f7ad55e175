#include "ProcessTrainingExpiry.h"

#include "AutoCloseIssues.h"
#include "AutomaticIssues.h"
#include "ExpiryNotifications.h"
#include "TrainingExpireRule.h"

void ProcessTrainingExpiry()
{
    LoadTrainingExpireRule();
    // Closing comes before notifying, and opening last, so an issue opened in
    // one poll is first considered for closing in the next.
    if (TrainingExpireRule.AutoCloseIssue)
        AutoCloseIssues();
    if (EmailSwitchIsOn())
        QueueExpiryNotifications();
    if (SwitchIsOn(TrainingExpireRule.CreateIssue, QStringLiteral("CreateIssue")))
        CreateAutomaticIssues();
}
