#include "SingleInstance.h"

#include <QDir>
#include <QLockFile>
#include <QtGlobal>

#include <memory>

namespace {
std::unique_ptr<QLockFile> &heldLock()
{
    static std::unique_ptr<QLockFile> lock;
    return lock;
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
    // Only a live holder means another copy; a lock that cannot be created
    // at all (no such directory, no permission) proves nothing and must not
    // stop the server.
    return lock->error() == QLockFile::LockFailedError;
}

void ReleaseInstanceLock()
{
    heldLock().reset();
}
