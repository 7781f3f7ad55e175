#pragma once

#include "alerts/ProcessTrainingExpiry.h"

// Opens one automatic issue for every required training of an active
// contract's working employee whose renewal date is on or before
// IssueWindowDate and that has no automatic issue (open or closed) for that
// renewal date yet; each counted in outcome.IssuesCreated once
// committed. Up to 200 issues share a transaction; an insert that fails
// holds back only its own issue, left for the next poll and reported in
// outcome.Failures (see IsolatedBatches).
void CreateAutomaticIssues(TrainingExpiryOutcome &outcome);
