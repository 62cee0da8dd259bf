#include "sdnotify.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quillet::app {

SdNotify::SdNotify()
{
    const QByteArray path = qgetenv("NOTIFY_SOCKET");
    const QByteArray watchdog = qgetenv("WATCHDOG_USEC");
    const QByteArray watchdogPid = qgetenv("WATCHDOG_PID");
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_USEC");
    qunsetenv("WATCHDOG_PID");

    sockaddr_un addr{};
    if (path.isEmpty() || (path[0] != '/' && path[0] != '@') ||
        size_t(path.size()) >= sizeof(addr.sun_path))
        return;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    if (path[0] == '@')
        addr.sun_path[0] = '\0';
    const auto length =
        socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()) + (path[0] == '/' ? 1 : 0));
    m_address = QByteArray(reinterpret_cast<const char *>(&addr), int(length));
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);

    bool ok = false;
    const qint64 usec = watchdog.toLongLong(&ok);
    const bool ours = watchdogPid.isEmpty() || watchdogPid.toLongLong() == qint64(::getpid());
    if (ok && usec > 0 && ours)
        m_watchdogUsec = usec;
}

SdNotify::~SdNotify()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SdNotify::send(const QByteArray &state) const
{
    if (m_fd < 0)
        return false;
    ssize_t n;
    // Never waits: a service manager that is slow to read (its queue full)
    // must not freeze the logger; a heartbeat or status that finds no room
    // is followed by the next one.
    do {
        n = ::sendto(m_fd, state.constData(), size_t(state.size()), MSG_NOSIGNAL | MSG_DONTWAIT,
                     reinterpret_cast<const sockaddr *>(m_address.constData()),
                     socklen_t(m_address.size()));
    } while (n < 0 && errno == EINTR);
    return n == state.size();
}

QByteArray SdNotify::statusLine(const QString &text)
{
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return "STATUS=" + line.simplified().toUtf8();
}

} // namespace quillet::app
