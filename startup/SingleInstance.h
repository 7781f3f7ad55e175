#pragma once

#include <QString>

// True exactly when another copy of this program is running on this machine.
// The first call that finds no other copy takes a machine-wide lock and holds
// it until the program ends; a copy that crashed leaves a stale lock, which
// the next start recognises (its process is gone) and takes over.
bool AnotherInstanceRunning();

// Gives the lock back (the end of a run in tests; the program's end does this
// on its own).
void ReleaseInstanceLock();

// The lock file. Normally in a machine-wide directory; the environment
// variable VELMAR_INSTANCE_LOCK_DIR moves it, for tests only (parallel test
// runs must not see each other or an installed server).
QString InstanceLockPath();
