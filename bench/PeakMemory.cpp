#include "PeakMemory.h"

// Platform-specific: getrusage() is POSIX; Linux reports ru_maxrss in KiB,
// macOS in bytes. Elsewhere the figure is reported as unknown.
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

qint64 PeakResidentKiB()
{
#ifdef Q_OS_UNIX
    struct rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return -1;
#ifdef Q_OS_MACOS
    return qint64(usage.ru_maxrss) / 1024;
#else
    return qint64(usage.ru_maxrss);
#endif
#else
    return -1;
#endif
}
