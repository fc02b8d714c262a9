#include "service/ServiceNotifier.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The notification protocol of systemd, which is small enough to speak here rather
// than map a library and its dependencies into every start: one datagram per state
// to the socket that NOTIFY_SOCKET names, a path or, after "@", an abstract name.
// The environment stays set: the server notifies for as long as it runs.
void notify(const QByteArray &state)
{
    const QByteArray name = qgetenv("NOTIFY_SOCKET");
    sockaddr_un address{};
    if (name.isEmpty() || (name[0] != '/' && name[0] != '@') || std::size_t(name.size()) > sizeof(address.sun_path))
        return;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + std::size_t(name.size()));
    ::sendto(fd, state.constData(), std::size_t(state.size()), MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&address),
             length);
    ::close(fd);
}

// WATCHDOG_USEC, when systemd asked this very process (WATCHDOG_PID) for pings; else 0.
std::uint64_t watchdogUsec()
{
    bool valid = false;
    const std::uint64_t usec = qEnvironmentVariable("WATCHDOG_USEC").toULongLong(&valid);
    if (!valid)
        return 0;
    if (qEnvironmentVariableIsSet("WATCHDOG_PID")) {
        const qint64 pid = qEnvironmentVariable("WATCHDOG_PID").toLongLong(&valid);
        if (!valid || pid != ::getpid())
            return 0;
    }
    return usec;
}

QString count(int n, const char *one, const char *many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

QString statusText(int panelLines, int linesInError, int clients)
{
    return count(panelLines, "panel line", "panel lines") + QStringLiteral(", ") + QString::number(linesInError) +
           QStringLiteral(" in communication error, ") + count(clients, "client", "clients") +
           QStringLiteral(" connected");
}

} // namespace

ServiceNotifier::ServiceNotifier(QObject *parent) : QObject(parent)
{
    const std::uint64_t usec = watchdogUsec();
    if (usec == 0)
        return;
    // Two pings per interval: one late event does not cost a restart.
    const auto half = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(usec / 2));
    watchdog_.setInterval(std::max(half, std::chrono::milliseconds(1)));
    connect(&watchdog_, &QTimer::timeout, this, [] { notify("WATCHDOG=1"); });
    watchdog_.start();
}

void ServiceNotifier::ready() { notify("READY=1"); }

void ServiceNotifier::stopping() { notify("STOPPING=1"); }

void ServiceNotifier::setStatus(int panelLines, int linesInError, int clients)
{
    const QString text = statusText(panelLines, linesInError, clients);
    if (text == status_)
        return;
    status_ = text;
    notify("STATUS=" + text.toUtf8());
}

std::chrono::milliseconds ServiceNotifier::watchdogInterval() const
{
    return watchdog_.isActive() ? watchdog_.intervalAsDuration() : std::chrono::milliseconds(0);
}
