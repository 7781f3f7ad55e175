#pragma once

// Keeps the process's memory, which holds the SMTP and database passwords,
// out of core files and crash dumps and away from other processes of the
// same user that would read it, as far as the platform allows
// (ProcessHardening_unix.cpp, ProcessHardening_windows.cpp).
void DisableCoreDumps();
