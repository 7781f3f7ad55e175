#pragma once

#include "alerts/ProcessTrainingExpiry.h"

// Queues one notification per training certification coming up for renewal
// (renewal date on or before NotificationWindowDate, required item, working
// employee, active contract) that has no log row for the rule's Category and
// its renewal date: one queue row for each switched-on kind of recipient that
// has an address (manager, specialists, client, in that order), then the log
// row. A certification's queue rows and log row are written together, in a
// transaction shared by up to 1,000 certifications, so a failure never leaves
// part of a certification. A certification whose rows fail holds back only
// itself: it is left for the next poll and reported in
// outcome.Failures (see IsolatedBatches).
void QueueExpiryNotifications(TrainingExpiryOutcome &outcome);
