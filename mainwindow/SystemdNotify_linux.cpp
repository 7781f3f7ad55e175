#include "mainwindow/SystemdNotify.h"

#include <QByteArray>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

bool NotifyServiceManager(const QByteArray &state)
{
    QByteArray path = qgetenv("NOTIFY_SOCKET");
    sockaddr_un address{};
    if (path.isEmpty() || size_t(path.size()) >= sizeof(address.sun_path) || (path[0] != '/' && path[0] != '@'))
        return false;
    if (path[0] == '@')
        path[0] = '\0'; // the abstract namespace
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()));
    const bool sent = sendto(fd, state.constData(), size_t(state.size()), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr *>(&address), length) == state.size();
    close(fd);
    return sent;
}

std::chrono::milliseconds ServiceWatchdogInterval()
{
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    if (!pid.isEmpty() && pid.toLongLong() != getpid())
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(qgetenv("WATCHDOG_USEC").toLongLong() / 1000);
}
