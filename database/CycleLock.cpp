#include "database/CycleLock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QThread>

#include <sqlite3.h>

#include <cstring>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

enum class FileLock { Taken, HeldElsewhere, Failed };

#ifdef Q_OS_UNIX
// A descriptor of the database file kept for the whole process: closing any
// descriptor of a file drops every POSIX lock the process holds on it, and
// SQLite's own are among them. flock() locks belong to the open file, so
// they meet the other server's however it named the file, and they never
// touch SQLite's fcntl() locks.
int lockDescriptor(const QString &databaseFile)
{
    static QHash<QString, int> descriptors;
    const auto known = descriptors.constFind(databaseFile);
    if (known != descriptors.constEnd())
        return *known;
    const int fd = ::open(QFile::encodeName(databaseFile).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        descriptors.insert(databaseFile, fd);
    return fd;
}

FileLock lockFile(const QString &databaseFile, int waitMs, int *held, QString *reason)
{
    const int fd = lockDescriptor(databaseFile);
    if (fd < 0) {
        *reason = QString::fromLocal8Bit(strerror(errno));
        return FileLock::Failed;
    }
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            *held = fd;
            return FileLock::Taken;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *reason = QString::fromLocal8Bit(strerror(errno));
            return FileLock::Failed;
        }
        if (deadline.hasExpired())
            return FileLock::HeldElsewhere;
        QThread::msleep(quint64(qMin<qint64>(20, qMax<qint64>(1, deadline.remainingTime()))));
    }
}

void unlockFile(int fd)
{
    if (fd >= 0)
        ::flock(fd, LOCK_UN);
}
#else
// Elsewhere the lock file alone stands for the database.
FileLock lockFile(const QString &, int, int *, QString *)
{
    return FileLock::Taken;
}

void unlockFile(int) {}
#endif

} // namespace

int LockWaitMs(int usual)
{
    bool ok = false;
    const int shortened = qEnvironmentVariableIntValue("VELMAR_LOCK_WAIT_MS", &ok);
    return ok && shortened >= 0 ? shortened : usual;
}

QString CycleLockResourceName()
{
    return QStringLiteral("Velmar Automation Server task cycle");
}

QString SqlServerCycleLockSql(int waitMs)
{
    // NOCOUNT: the result of the SELECT must be the batch's first result.
    return QStringLiteral("SET NOCOUNT ON; DECLARE @LockResult int; EXEC @LockResult = sp_getapplock "
                          "@Resource = '%1', @LockMode = 'Exclusive', @LockOwner = 'Session', "
                          "@LockTimeout = %2; SELECT @LockResult AS LockResult")
        .arg(CycleLockResourceName())
        .arg(waitMs);
}

QString SqlServerCycleUnlockSql()
{
    return QStringLiteral("EXEC sp_releaseapplock @Resource = '%1', @LockOwner = 'Session'")
        .arg(CycleLockResourceName());
}

QString EmbeddedCycleLockPath(const QString &databaseFile)
{
    // Beside the file the database really is: two servers that reach it
    // through different links must take the same lock.
    const QString canonical = QFileInfo(databaseFile).canonicalFilePath();
    return (canonical.isEmpty() ? databaseFile : canonical) + QStringLiteral(".cycle-lock");
}

EmbeddedCycleLock::~EmbeddedCycleLock()
{
    Release();
}

CycleLockResult EmbeddedCycleLock::Take(const QString &lockFile, int waitMs, QString *reason,
                                        const QString &databaseFile)
{
    Release();
    auto failed = [&](sqlite3 *handle, const QString &what) {
        if (reason != nullptr) {
            const QString said = handle != nullptr ? QString::fromUtf8(sqlite3_errmsg(handle)) : QString();
            *reason = QStringLiteral("%1 %2: %3").arg(what, QDir::toNativeSeparators(lockFile), said);
        }
        sqlite3_close(handle);
        return CycleLockResult::Failed;
    };

    sqlite3 *handle = nullptr;
    const QByteArray path = QDir::toNativeSeparators(lockFile).toUtf8();
    if (sqlite3_open_v2(path.constData(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        return failed(handle, QStringLiteral("Cannot open the cycle lock file"));
    sqlite3_busy_timeout(handle, waitMs);
    // The file holds no data: the exclusive lock itself is the point.
    const int rc = sqlite3_exec(handle, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        sqlite3_close(handle);
        return CycleLockResult::HeldElsewhere;
    }
    if (rc != SQLITE_OK)
        return failed(handle, QStringLiteral("Cannot lock the cycle lock file"));
    m_handle = handle;
    if (databaseFile.isEmpty())
        return CycleLockResult::Taken;

    QString why;
    switch (::lockFile(databaseFile, waitMs, &m_fileLock, &why)) {
    case FileLock::Taken:
        return CycleLockResult::Taken;
    case FileLock::HeldElsewhere:
        Release();
        return CycleLockResult::HeldElsewhere;
    case FileLock::Failed:
        break;
    }
    Release();
    if (reason != nullptr)
        *reason =
            QStringLiteral("Cannot lock the database file %1: %2").arg(QDir::toNativeSeparators(databaseFile), why);
    return CycleLockResult::Failed;
}

void EmbeddedCycleLock::Release() noexcept
{
    unlockFile(std::exchange(m_fileLock, -1));
    auto *handle = static_cast<sqlite3 *>(m_handle);
    m_handle = nullptr;
    if (handle == nullptr)
        return;
    sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(handle);
}
