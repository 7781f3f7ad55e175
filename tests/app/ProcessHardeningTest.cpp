// Once DisableCoreDumps ran, a crash leaves no memory image (Unix) and waits
// on no dialog (Windows).

#include "app/ProcessHardening.h"

#include <QtGlobal>

#include <gtest/gtest.h>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/resource.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif
#endif

TEST(ProcessHardeningTest, afterDisableCoreDumps_noDumpIsWrittenAndNoCrashDialogShown)
{
    DisableCoreDumps();
#ifdef Q_OS_WIN
    EXPECT_TRUE(::GetErrorMode() & SEM_NOGPFAULTERRORBOX);
#else
    rlimit core = {};
    ASSERT_EQ(::getrlimit(RLIMIT_CORE, &core), 0);
    EXPECT_EQ(core.rlim_cur | core.rlim_max, rlim_t(0)); // both limits
#ifdef Q_OS_LINUX
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
#endif
#endif
}
