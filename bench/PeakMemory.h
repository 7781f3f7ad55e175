#pragma once

#include <QtGlobal>

// The process's peak resident memory so far, in KiB; -1 where the platform
// offers no such figure.
qint64 PeakResidentKiB();

// CPU time (user + system) the process has used so far, in milliseconds;
// -1 where the platform offers no such figure. Set beside wall time, it
// tells computing from waiting (for the SMTP server, the disk, other load).
double ProcessCpuMilliseconds();
