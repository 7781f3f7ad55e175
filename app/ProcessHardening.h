#pragma once

// Keeps the process's memory, which holds the SMTP and database passwords,
// out of core files and away from other processes of the same user that
// would read it; where the platform offers no such control, nothing happens.
void DisableCoreDumps();
