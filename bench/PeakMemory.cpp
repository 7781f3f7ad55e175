#include "bench/PeakMemory.h"

// Platform-specific: getrusage() is POSIX; Linux reports ru_maxrss in KiB,
// macOS in bytes. Elsewhere the figures are reported as unknown.
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

qint64 PeakResidentKiB()
{
#ifdef Q_OS_UNIX
    struct rusage usage
    {};
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

double ProcessCpuMilliseconds()
{
#ifdef Q_OS_UNIX
    struct rusage usage
    {};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return -1;
    const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
#else
    return -1;
#endif
}
