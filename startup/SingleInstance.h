#pragma once

#include <QString>

// True exactly when another copy of this program runs for this user on this
// machine. The first call that finds no other copy takes the lock and holds
// it until the program ends. The operating system holds the lock (see
// ExclusiveFileLock.h), so a copy that was killed or crashed never leaves it
// behind, and the lock lives in a folder only this user can write, so no
// other user can create or hold it.
bool AnotherInstanceRunning();

// Gives the lock back (the end of a run in tests; the program's end does this
// on its own).
void ReleaseInstanceLock();

// The folder of the lock, the first that is set of: VELMAR_INSTANCE_LOCK_DIR
// (tests only: parallel runs must not see each other or an installed server),
// the service's $RUNTIME_DIRECTORY, the user's runtime folder
// ($XDG_RUNTIME_DIR; %TEMP% on Windows). Empty when the user has none.
QString InstanceLockDirectory();
// "<that folder>/velmar-automation-server-<user id>.lock" (no user id on
// Windows, whose folder is the user's own), or empty.
QString InstanceLockPath();
