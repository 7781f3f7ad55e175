#pragma once

#include <QString>

#include <memory>

// One task cycle at a time on one database, whichever machine runs it. The
// single-instance check covers one machine only; two servers on two machines
// against one database would otherwise notify and mail everything twice.
//
// SQL Server: an application lock owned by the session, released when the
// connection closes (and explicitly just before, so a pooled session does
// not keep it). Embedded backend: an exclusive SQLite lock on a small file
// beside the database, released when the lock's handle closes; the operating
// system releases it when the process dies.

// How long a cycle waits for another server's cycle to end before skipping.
constexpr int CycleLockWaitMs = 5000;

// How long to wait on a lock another server holds (the cycle lock, the
// embedded database's write lock): `usual`, or VELMAR_LOCK_WAIT_MS where a
// test of what happens after the wait shortens every such wait.
int LockWaitMs(int usual);

enum class CycleLockResult {
    Taken,         // this cycle holds the lock until the connection closes
    HeldElsewhere, // another server held it for the whole wait
    Failed,        // the lock could not be asked for (reason given)
};

// The application lock's resource name.
QString CycleLockResourceName();
// Takes the application lock for the session, waiting up to waitMs, and
// returns sp_getapplock's result as the one column LockResult (0 or 1:
// granted; -1: timed out; below: refused).
QString SqlServerCycleLockSql(int waitMs);
// Gives the application lock back (an error when not held, ignored).
QString SqlServerCycleUnlockSql();

// The embedded backend's lock file for a database file.
QString EmbeddedCycleLockPath(const QString &databaseFile);

// The embedded backend's lock: an exclusive transaction on the lock file,
// held by its own SQLite handle until Release or destruction; and, where the
// platform has one, a lock on the database file itself, which belongs to the
// file and not to a name of it: two servers reaching one file by two paths
// (a hard link, a second mount) that the lock file's name cannot tell apart
// still take turns.
class EmbeddedCycleLock
{
public:
    EmbeddedCycleLock() = default;
    ~EmbeddedCycleLock();
    EmbeddedCycleLock(const EmbeddedCycleLock &) = delete;
    EmbeddedCycleLock &operator=(const EmbeddedCycleLock &) = delete;

    // Creates the lock file when missing; databaseFile (when given) is
    // locked as well. On Failed, *reason says why.
    CycleLockResult Take(const QString &lockFile, int waitMs, QString *reason, const QString &databaseFile = QString());
    void Release() noexcept;
    bool IsHeld() const { return m_handle != nullptr; }

private:
    void *m_handle = nullptr; // sqlite3*
    int m_fileLock = -1;      // descriptor whose file lock is held, or -1
};
