// Platform-specific (Windows): a crash must neither wait on a dialog nobody
// sees on an unattended machine nor leave the heap, where the passwords
// live, in a dump that Windows Error Reporting writes under the user's
// profile.

#include "app/ProcessHardening.h"

#include <windows.h>

// From werapi.h, which MinGW-w64's headers cannot compile on its own; the
// function lives in kernel32 and the value is Windows' own.
extern "C" HRESULT WINAPI WerSetFlags(DWORD flags);
constexpr DWORD WER_FAULT_REPORTING_FLAG_NOHEAP = 1;

void DisableCoreDumps()
{
    ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::WerSetFlags(WER_FAULT_REPORTING_FLAG_NOHEAP);
}
