// Platform-specific (Windows): two ways a windowless program is asked to
// stop. The console's control events (Ctrl+C, Ctrl+Break, the console
// closed, log-off, shut-down) arrive on a thread of their own, which hands
// them to the event loop; a WM_CLOSE posted to the main thread (what
// QProcess::terminate and other supervisors send to a program without
// windows) arrives in the event loop itself.

#include "app/StopSignals.h"

#include "email/SendQueuedEmails.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <utility>

#include <windows.h>

namespace {
std::function<void()> &stopHandler()
{
    static std::function<void()> handler;
    return handler;
}

std::atomic<bool> stopping{false};
HANDLE stopHandled = nullptr;

// In the event loop's thread; runs the handler once, however many requests
// come.
void stopNow()
{
    if (!stopping.exchange(true) && stopHandler())
        stopHandler()();
    ::SetEvent(stopHandled);
}

BOOL WINAPI onConsoleControl(DWORD event)
{
    // The cycle running now stops between two messages, not at its end.
    RequestMailStop();
    QMetaObject::invokeMethod(QCoreApplication::instance(), &stopNow, Qt::QueuedConnection);
    // After these three Windows ends the process as soon as this returns
    // (and in any case after about five seconds): give the event loop that
    // long to finish.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        ::WaitForSingleObject(stopHandled, 4500);
    return TRUE;
}

class ThreadCloseFilter : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        const MSG *msg = static_cast<const MSG *>(message);
        if (eventType != "windows_generic_MSG" || msg->hwnd != nullptr || msg->message != WM_CLOSE)
            return false;
        RequestMailStop();
        stopNow();
        return true;
    }
};
} // namespace

void WatchStopSignals(std::function<void()> onStop)
{
    stopHandler() = std::move(onStop);
    stopHandled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    static ThreadCloseFilter filter;
    QCoreApplication::instance()->installNativeEventFilter(&filter);
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}
