#include "database/CycleLock.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

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

CycleLockResult EmbeddedCycleLock::Take(const QString &lockFile, int waitMs, QString *reason)
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
    return CycleLockResult::Taken;
}

void EmbeddedCycleLock::Release() noexcept
{
    auto *handle = static_cast<sqlite3 *>(m_handle);
    m_handle = nullptr;
    if (handle == nullptr)
        return;
    sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(handle);
}
