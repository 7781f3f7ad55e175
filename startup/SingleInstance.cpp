#include "SingleInstance.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QtGlobal>

#include <memory>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {
constexpr qint64 kOwnerlessLockGraceSeconds = 5;

std::unique_ptr<QLockFile> &heldLock()
{
    static std::unique_ptr<QLockFile> lock;
    return lock;
}

// Platform-specific (Unix): the lock file's owner holds a native lock on it for
// as long as it lives, which tells a starting copy from a dead one at once.
// Elsewhere only the grace time decides.
bool HeldByLiveProcess(const QString &path)
{
#if defined(Q_OS_UNIX)
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (free)
        ::flock(fd, LOCK_UN);
    ::close(fd);
    return !free;
#else
    Q_UNUSED(path);
    return true;
#endif
}

// Platform-specific (Unix): removes a file of the lock's kind that no live
// process holds. Elsewhere nothing is removed here.
bool RemoveAbandonedLockFile(const QString &path)
{
#if defined(Q_OS_UNIX)
    return QFileInfo::exists(path) && !HeldByLiveProcess(path) && QFile::remove(path);
#else
    Q_UNUSED(path);
    return false;
#endif
}

QString machineWideDirectory()
{
    const QString testDir = qEnvironmentVariable("VELMAR_INSTANCE_LOCK_DIR");
    if (!testDir.isEmpty())
        return testDir;
#if defined(Q_OS_WIN)
    // Shared by every user of the machine, unlike %TEMP%.
    const QString programData = qEnvironmentVariable("ProgramData");
    if (!programData.isEmpty())
        return programData;
    return QDir::tempPath();
#else
    // Not $TMPDIR, which may differ per user or per session.
    return QStringLiteral("/tmp");
#endif
}
}

QString InstanceLockPath()
{
    return QDir(machineWideDirectory()).filePath(QStringLiteral("velmar-automation-server.lock"));
}

bool AnotherInstanceRunning()
{
    if (heldLock())
        return false;
    auto lock = std::make_unique<QLockFile>(InstanceLockPath());
    // A running copy holds the lock however long it runs; only a lock whose
    // process is gone counts as stale.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        heldLock() = std::move(lock);
        return false;
    }
    // A copy killed while it took over a dead copy's lock leaves the guard of
    // that take-over ("<lock>.rmlock"); while the guard is fresh every later
    // take-over gives up, so the dead copies would block starts for half a
    // minute. A guard no live process holds is removed and the take-over
    // tried again.
    if (lock->error() == QLockFile::LockFailedError
        && RemoveAbandonedLockFile(InstanceLockPath() + QStringLiteral(".rmlock")) && lock->tryLock(0)) {
        heldLock() = std::move(lock);
        return false;
    }
    // A copy killed between creating the lock file and writing its owner
    // into it leaves a file that names no process; with no stale time such a
    // file would block every later start for good. Once it is older than any
    // start-up could take to write it, it is taken over.
    qint64 pid = 0;
    QString hostName;
    QString appName;
    if (lock->error() == QLockFile::LockFailedError && !lock->getLockInfo(&pid, &hostName, &appName)) {
        const QDateTime written = QFileInfo(InstanceLockPath()).lastModified();
        const bool pastGrace =
            written.isValid() && written.secsTo(QDateTime::currentDateTime()) >= kOwnerlessLockGraceSeconds;
        if ((pastGrace || !HeldByLiveProcess(InstanceLockPath())) && lock->removeStaleLockFile()
            && lock->tryLock(0)) {
            heldLock() = std::move(lock);
            return false;
        }
    }
    // Only a live holder means another copy; a lock that cannot be created
    // at all (no such directory, no permission) proves nothing and must not
    // stop the server.
    return lock->error() == QLockFile::LockFailedError;
}

void ReleaseInstanceLock()
{
    heldLock().reset();
}
