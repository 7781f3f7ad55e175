// Platform-specific (Unix): no core file at all; Linux also marks the process
// undumpable, which keeps other processes of the same user from attaching to
// it or reading its memory.

#include "app/ProcessHardening.h"

#include <QtGlobal>

#include <sys/resource.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

void DisableCoreDumps()
{
    const rlimit none = {0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
#ifdef Q_OS_LINUX
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}
