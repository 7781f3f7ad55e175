#pragma once

#include <QString>
#include <QtGlobal>

// An exclusive lock that the operating system holds on a file for as long as
// this object keeps the file open. It goes when the process ends, however it
// ends (killed, crashed), so no copy can ever leave it behind; there is
// nothing to clean up and nothing stale to recognise. The file itself stays:
// removing it on release would let a copy that opened it a moment earlier
// lock a file no one else sees any more.
//
// The platform code lives in ExclusiveFileLock_unix.cpp (flock) and
// ExclusiveFileLock_windows.cpp (LockFileEx).
class ExclusiveFileLock
{
public:
    enum class Result {
        Taken,         // held by this object until Release or destruction
        HeldElsewhere, // another open handle (another process) holds it
        Failed,        // the file could not be opened or locked (reason given)
    };

    ExclusiveFileLock() = default;
    ~ExclusiveFileLock();
    ExclusiveFileLock(const ExclusiveFileLock &) = delete;
    ExclusiveFileLock &operator=(const ExclusiveFileLock &) = delete;

    // Opens (creating it, readable and writable by its owner only) and locks
    // `path` without waiting, and writes this process's id into it for an
    // operator who wants to know which copy runs. On Failed, *reason says why.
    Result TryTake(const QString &path, QString *reason = nullptr);
    void Release() noexcept;
    bool IsHeld() const { return m_handle != kNoHandle; }

private:
    static constexpr qintptr kNoHandle = -1;
    qintptr m_handle = kNoHandle;
};
