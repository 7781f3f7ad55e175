#pragma once

#include <functional>

// Calls `onStop` from the event loop (so between cycles, never inside one)
// when the process is asked to stop: SIGTERM or SIGINT on Unix; on Windows
// a console control event (Ctrl+C, Ctrl+Break, console closed, log-off,
// shut-down) or a WM_CLOSE posted to the program (StopSignals_windows.cpp).
// A cycle already running sends no further mail group once the signal came
// (RequestMailStop); without an event loop (a single cycle) that alone is
// what the signal does, and the cycle ends normally. A second signal ends the
// process at once, as the platform would.
void WatchStopSignals(std::function<void()> onStop);
