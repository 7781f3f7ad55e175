// Platform-specific (Windows): the program is built as a desktop program, so
// Windows opens no console window beside its main window; but then a copy
// started from a console (--headless, --once, --help) has no standard output
// either, unless it was redirected. Such a copy writes to the console it was
// started from. It is done before main() so that nothing is written before.

#include <cstdio>

#include <windows.h>

namespace {
bool hasHandle(DWORD which)
{
    const HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool useParentConsole()
{
    const bool out = hasHandle(STD_OUTPUT_HANDLE);
    const bool err = hasHandle(STD_ERROR_HANDLE);
    if ((out && err) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return false;
    if (!out)
        std::freopen("CONOUT$", "w", stdout);
    if (!err)
        std::freopen("CONOUT$", "w", stderr);
    return true;
}

[[maybe_unused]] const bool attached = useParentConsole();
} // namespace
