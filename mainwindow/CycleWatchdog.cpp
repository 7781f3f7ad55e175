#include "mainwindow/CycleWatchdog.h"

#include "mainwindow/SystemdNotify.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<CycleWatchdog *> &current()
{
    static std::atomic<CycleWatchdog *> watchdog{nullptr};
    return watchdog;
}

} // namespace

CycleWatchdog::CycleWatchdog(std::chrono::seconds cycleBound) : m_bound(cycleBound)
{
    current() = this;
    m_thread = std::thread([this] { watch(); });
}

CycleWatchdog::~CycleWatchdog()
{
    current() = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CycleWatchdog::CycleStarted()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = true;
    m_started = std::chrono::steady_clock::now();
    m_step = QStringLiteral("starting");
}

void CycleWatchdog::CycleEnded()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
    NotifyServiceManager("WATCHDOG=1\nSTATUS=Waiting for the next poll");
}

void CycleWatchdog::ServiceReady()
{
    NotifyServiceManager("READY=1");
}

void CycleWatchdog::Step(const QString &name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_step = name;
}

void CycleWatchdog::watch()
{
    using namespace std::chrono;
    const milliseconds serviceInterval = ServiceWatchdogInterval();
    // Well within the service manager's interval, and often enough to end a
    // cycle soon after its bound.
    const milliseconds tick =
        serviceInterval.count() > 0 ? std::min(serviceInterval / 3, milliseconds(1000)) : milliseconds(1000);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_wake.wait_for(lock, tick, [this] { return m_stopping; })) {
        if (m_running && steady_clock::now() - m_started > m_bound) {
            const QByteArray line = QStringLiteral("velmar-automation-server: the task cycle did not end within its "
                                                   "bound of %1 s (it was at: %2); ending the process so that it "
                                                   "starts afresh. Changes not committed are rolled back by the "
                                                   "database when the connection drops.\n")
                                        .arg(m_bound.count())
                                        .arg(m_step)
                                        .toLocal8Bit();
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
            std::fflush(stderr);
            std::fflush(stdout);
            // Not exit(): the stuck thread holds what exit handlers would wait on.
            std::_Exit(1);
        }
        if (serviceInterval.count() > 0)
            NotifyServiceManager("WATCHDOG=1");
    }
}

void NoteCycleStep(const QString &step)
{
    if (CycleWatchdog *watchdog = current())
        watchdog->Step(step);
    NotifyServiceManager(QByteArray("STATUS=Task cycle: ") + step.toUtf8());
}

WatchedCycle::WatchedCycle()
{
    if (CycleWatchdog *watchdog = current())
        watchdog->CycleStarted();
}

WatchedCycle::~WatchedCycle()
{
    if (CycleWatchdog *watchdog = current())
        watchdog->CycleEnded();
}
