#pragma once

// Queues one notification per training certification coming up for renewal
// (renewal date on or before NotificationWindowDate, required item, working
// employee, active contract) that has no log row for the rule's Category and
// its renewal date: one queue row for each switched-on kind of recipient that
// has an address (manager, specialists, client, in that order), then the log
// row. A certification's queue rows and log row are written in the same
// transaction, shared by up to 200 certifications, so a failure never leaves
// part of a certification. Throws on the first failure, having rolled back
// the batch it happened in: the certifications of earlier batches stay queued
// and logged, those of the failed batch are notified at the next poll.
void QueueExpiryNotifications();
