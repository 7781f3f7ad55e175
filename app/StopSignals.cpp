#include "app/StopSignals.h"

#include <QtGlobal>

// ---- POSIX signal handling (Unix only) ------------------------------------
// The handler only writes a byte to a socket pair; the event loop sees the
// socket become readable and calls onStop like any other event.
#ifdef Q_OS_UNIX
#include "email/SendQueuedEmails.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {
int signalSockets[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const int savedErrno = errno;
    // The cycle running now stops between two messages, not at its end.
    RequestMailStop();
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
    errno = savedErrno;
}
} // namespace

void WatchStopSignals(std::function<void()> onStop)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSockets) != 0)
        qFatal("Cannot create the socket pair for SIGTERM/SIGINT handling");
    auto *notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, onStop = std::move(onStop)] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalSockets[1], &byte, 1);
        notifier->setEnabled(false);
        onStop();
    });

    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Once is enough: a second signal gets the default, an end at once.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}
#else
void WatchStopSignals(std::function<void()>) {}
#endif
// ---- end of POSIX signal handling -----------------------------------------
