// Platform-specific (Windows): the lock is LockFileEx on the first byte of the
// file; Windows releases it when the handle closes or the process ends.

#include "startup/ExclusiveFileLock.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>

#include <windows.h>

ExclusiveFileLock::~ExclusiveFileLock()
{
    Release();
}

ExclusiveFileLock::Result ExclusiveFileLock::TryTake(const QString &path, QString *reason)
{
    Release();
    auto fail = [&](const QString &what, DWORD error) {
        if (reason)
            *reason = QStringLiteral("%1 %2: %3").arg(what, path, qt_error_string(int(error)));
        return Result::Failed;
    };
    const QString native = QDir::toNativeSeparators(path);
    HANDLE file =
        ::CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return fail(QStringLiteral("Cannot open"), ::GetLastError());
    OVERLAPPED whole = {};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(file);
        if (error == ERROR_LOCK_VIOLATION)
            return Result::HeldElsewhere;
        return fail(QStringLiteral("Cannot lock"), error);
    }
    m_handle = reinterpret_cast<qintptr>(file);
    // Only information for the operator, written past the locked first
    // byte, which other handles cannot read.
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + "\r\n";
    OVERLAPPED afterLock = {};
    afterLock.Offset = 1;
    DWORD written = 0;
    ::WriteFile(file, pid.constData(), DWORD(pid.size()), &written, &afterLock);
    return Result::Taken;
}

void ExclusiveFileLock::Release() noexcept
{
    if (m_handle == kNoHandle)
        return;
    ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = kNoHandle;
}
