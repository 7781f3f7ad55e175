#pragma once

#include <QByteArray>

#include <chrono>

// The service manager's notification protocol (sd_notify): one datagram to
// the socket NOTIFY_SOCKET names, e.g. "READY=1", "WATCHDOG=1",
// "STATUS=...". Silent, and false, where there is no such socket (not run by
// systemd, or not on Linux).
bool NotifyServiceManager(const QByteArray &state);

// The service's watchdog interval (WatchdogSec=) when the service manager
// watches this process; zero otherwise.
std::chrono::milliseconds ServiceWatchdogInterval();
