#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Ends the process when a task cycle runs past its bound, whatever it waits
// on: it writes one line to standard error naming the bound and the step the
// cycle was at, and exits with status 1 (a service manager then starts it
// again; the database rolls back what the dropped connection left open).
// Under systemd it also tells the service manager the process is alive
// ("WATCHDOG=1") while no cycle is past its bound, so WatchdogSec= ends a
// process that can no longer say so. One per process, on the thread that runs
// the cycles; DoTasks reports its steps through NoteCycleStep.
class CycleWatchdog
{
public:
    explicit CycleWatchdog(std::chrono::seconds cycleBound);
    ~CycleWatchdog();
    CycleWatchdog(const CycleWatchdog &) = delete;
    CycleWatchdog &operator=(const CycleWatchdog &) = delete;

    void CycleStarted();
    void Step(const QString &name);
    void CycleEnded();
    // "READY=1": start-up is over (Type=notify).
    static void ServiceReady();

private:
    void watch();

    std::chrono::seconds m_bound;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_running = false;
    std::chrono::steady_clock::time_point m_started;
    QString m_step;
    std::thread m_thread;
};

// The default bound of one cycle: far above a long first cycle on a large
// host database, far below "for ever".
constexpr std::chrono::seconds DefaultCycleBound{30 * 60};

// Called by the cycle between its steps ("opening the database", "training
// expiry", ...); tells the watchdog, if there is one, and the service
// manager's status line.
void NoteCycleStep(const QString &step);

// Marks one cycle from its construction to its end for the watchdog, if
// there is one.
class WatchedCycle
{
public:
    WatchedCycle();
    ~WatchedCycle();
    WatchedCycle(const WatchedCycle &) = delete;
    WatchedCycle &operator=(const WatchedCycle &) = delete;
};
