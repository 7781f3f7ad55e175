#include "app/ProcessHardening.h"

#include <QtGlobal>

// ---- Platform: core dumps (Unix; Linux also marks the process undumpable) --
#ifdef Q_OS_UNIX
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
#else
void DisableCoreDumps() {}
#endif
// ---- end of platform part --------------------------------------------------
