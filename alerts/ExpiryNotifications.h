#pragma once

// Queues one notification per training certification coming up for renewal
// (renewal date on or before NotificationWindowDate, required item, working
// employee, active contract) that has no log row for the rule's Category and
// its renewal date: one queue row for each switched-on kind of recipient that
// has an address (manager, specialists, client, in that order), then the log
// row. One certification's queue rows and log row are written in one
// transaction, so a failure leaves either all of them or none. Throws on the
// first failure; certifications finished before it stay queued and logged.
void QueueExpiryNotifications();
