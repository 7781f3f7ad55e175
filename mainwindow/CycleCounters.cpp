#include "mainwindow/CycleCounters.h"

CycleCounterValues CycleCounters;
