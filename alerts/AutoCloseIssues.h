#pragma once

#include "alerts/ProcessTrainingExpiry.h"

// Closes every open automatic "Training Expire" issue that no longer applies
// (training renewed beyond IssueWindowDate, item optional, employee suspended
// or terminated), appending a dated note, one statement per issue, each
// counted in outcome.IssuesClosed. Throws on the first failure; issues
// closed before it stay closed and counted.
void AutoCloseIssues(TrainingExpiryOutcome &outcome);
