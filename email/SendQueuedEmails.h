#pragma once

// Sends every queued row of AutomationServer_EmailsSent, one message per run
// of rows with the same recipient list, marks them sent and counts the
// messages in CycleCounters.Emails. A group whose send fails stays queued and
// is reported in CycleCounters.Failures; the run goes on with the next group.
// A failure of the query or of a marking statement throws (DbError).
void SendQueuedEmails();
