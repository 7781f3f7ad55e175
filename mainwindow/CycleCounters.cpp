#include "CycleCounters.h"

CycleCounterValues CycleCounters;
