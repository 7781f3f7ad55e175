#pragma once

// Opens one automatic issue for every required training of an active
// contract's working employee whose renewal date is on or before
// IssueWindowDate and that has no automatic issue (open or closed) for that
// renewal date yet; each counted in CycleCounters.IssuesCreated. Throws on the
// first failure; issues inserted before it stay inserted and counted.
void CreateAutomaticIssues();
