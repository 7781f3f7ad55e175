// Platform-specific (Unix): the lock is flock(2) on an open file description,
// so two handles conflict even inside one process, and the kernel drops it
// with the last descriptor when the process dies.

#include "startup/ExclusiveFileLock.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

ExclusiveFileLock::~ExclusiveFileLock()
{
    Release();
}

ExclusiveFileLock::Result ExclusiveFileLock::TryTake(const QString &path, QString *reason)
{
    Release();
    auto fail = [&](const QString &what, int error) {
        if (reason)
            *reason = QStringLiteral("%1 %2: %3").arg(what, path, qt_error_string(error));
        return Result::Failed;
    };
    // No symbolic link: the lock must be this file, not one someone pointed
    // it at.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return fail(QStringLiteral("Cannot open"), errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Result::HeldElsewhere;
        return fail(QStringLiteral("Cannot lock"), error);
    }
    m_handle = fd;
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    // Only information for the operator; the lock does not depend on it.
    const bool noted = ::ftruncate(fd, 0) == 0 && ::write(fd, pid.constData(), size_t(pid.size())) == pid.size();
    Q_UNUSED(noted);
    return Result::Taken;
}

void ExclusiveFileLock::Release() noexcept
{
    if (m_handle == kNoHandle)
        return;
    // Closing the descriptor drops the lock.
    ::close(int(m_handle));
    m_handle = kNoHandle;
}
