#pragma once

#include <QtGlobal>

// The process's peak resident memory so far, in KiB; -1 where the platform
// offers no such figure.
qint64 PeakResidentKiB();
