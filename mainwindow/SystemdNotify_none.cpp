#include "mainwindow/SystemdNotify.h"

// No service manager speaks this protocol here; the cycle watchdog still
// bounds each cycle itself.
bool NotifyServiceManager(const QByteArray &)
{
    return false;
}

std::chrono::milliseconds ServiceWatchdogInterval()
{
    return std::chrono::milliseconds(0);
}
