#include "startup/SingleInstance.h"

#include "startup/ExclusiveFileLock.h"

#include <QDir>
#include <QStandardPaths>
#include <QtGlobal>

#if !defined(Q_OS_WIN)
#include <unistd.h>
#endif

namespace {
ExclusiveFileLock &heldLock()
{
    static ExclusiveFileLock lock;
    return lock;
}

// The first folder of a list systemd passes as "a:b".
QString firstOfList(const char *variable)
{
    return qEnvironmentVariable(variable).section(QLatin1Char(':'), 0, 0);
}
} // namespace

QString InstanceLockDirectory()
{
    const QString testDir = qEnvironmentVariable("VELMAR_INSTANCE_LOCK_DIR");
    if (!testDir.isEmpty())
        return testDir;
    // The service's RuntimeDirectory=: created by systemd for the service
    // user alone.
    const QString serviceDir = firstOfList("RUNTIME_DIRECTORY");
    if (!serviceDir.isEmpty())
        return serviceDir;
#if defined(Q_OS_WIN)
    // %TEMP% belongs to the user.
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation);
#else
    // $XDG_RUNTIME_DIR, which Qt takes only when it is the user's own folder
    // with mode 0700 (otherwise a 0700 folder of the user's own under /tmp,
    // or nothing).
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
}

QString InstanceLockPath()
{
    const QString dir = InstanceLockDirectory();
    if (dir.isEmpty())
        return QString();
#if defined(Q_OS_WIN)
    const QString name = QStringLiteral("velmar-automation-server.lock");
#else
    // Platform-specific (Unix): the user's id in the name. In a folder that
    // several users share, a file another user's copy left behind (which
    // this user may not open) never stands in the way of this user's lock.
    const QString name = QStringLiteral("velmar-automation-server-%1.lock").arg(::geteuid());
#endif
    return QDir(dir).filePath(name);
}

bool AnotherInstanceRunning()
{
    if (heldLock().IsHeld())
        return false;
    const QString path = InstanceLockPath();
    QString reason = QStringLiteral("no folder of this user's own to hold it");
    const ExclusiveFileLock::Result result =
        path.isEmpty() ? ExclusiveFileLock::Result::Failed : heldLock().TryTake(path, &reason);
    if (result == ExclusiveFileLock::Result::Failed) {
        // Only a live holder means another copy; a lock that cannot be had
        // at all proves nothing and must not stop the server.
        qWarning("velmar-automation-server: running without the single-instance lock: %s", qPrintable(reason));
    }
    return result == ExclusiveFileLock::Result::HeldElsewhere;
}

void ReleaseInstanceLock()
{
    heldLock().Release();
}
