#include "service/ServiceNotifier.h"

#include "TestSupport.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Stands in for systemd: a datagram socket in the abstract namespace that
// NOTIFY_SOCKET names while the test runs, and the watchdog variables it asks for.
class NotifySocket {
public:
    explicit NotifySocket(const char *watchdogUsec = nullptr)
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const QByteArray name = "kv7-notify-test-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(++n_);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(name.begin(), name.end(), address.sun_path + 1);
        const bool bound = ::bind(fd_, reinterpret_cast<const sockaddr *>(&address),
                                  socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0;
        EXPECT_TRUE(bound);
        qputenv("NOTIFY_SOCKET", '@' + name);
        if (watchdogUsec)
            qputenv("WATCHDOG_USEC", watchdogUsec);
    }
    ~NotifySocket()
    {
        qunsetenv("NOTIFY_SOCKET");
        qunsetenv("WATCHDOG_USEC");
        qunsetenv("WATCHDOG_PID");
        ::close(fd_);
    }

    // Every message received so far, in order.
    QStringList messages()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd_, buffer, sizeof buffer, 0)) >= 0)
            received_ << QString::fromUtf8(buffer, n);
        return received_;
    }

private:
    int fd_ = -1;
    QStringList received_;
    static inline int n_ = 0;
};

TEST(ServiceNotifier, ReadyStatusAndStoppingReachSystemd)
{
    NotifySocket systemd;
    ServiceNotifier notifier;
    EXPECT_EQ(notifier.watchdogInterval(), 0ms); // no watchdog asked for
    notifier.ready();
    notifier.setStatus(3, 1, 2);
    notifier.setStatus(3, 1, 2); // unchanged: not sent again
    notifier.setStatus(1, 0, 1);
    notifier.setStatus(2, 2, 0);
    notifier.stopping();
    EXPECT_EQ(systemd.messages(),
              QStringList({QStringLiteral("READY=1"),
                           QStringLiteral("STATUS=3 panel lines, 1 in communication error, 2 clients connected"),
                           QStringLiteral("STATUS=1 panel line, 0 in communication error, 1 client connected"),
                           QStringLiteral("STATUS=2 panel lines, 2 in communication error, 0 clients connected"),
                           QStringLiteral("STOPPING=1")}));
}

TEST(ServiceNotifier, WatchdogPingsFromTheRunningEventLoop)
{
    NotifySocket systemd("100000");
    ServiceNotifier notifier;
    EXPECT_EQ(notifier.watchdogInterval(), 50ms);
    // Nothing before the loop runs: a loop that hangs sends no ping.
    EXPECT_TRUE(systemd.messages().isEmpty());
    EXPECT_TRUE(waitFor([&] { return systemd.messages().count(QStringLiteral("WATCHDOG=1")) >= 3; }, 5000));
    EXPECT_EQ(systemd.messages().count(), systemd.messages().count(QStringLiteral("WATCHDOG=1")));
}

TEST(ServiceNotifier, WatchdogOnlyWhenAskedForThisProcess)
{
    struct Case {
        const char *usec;
        QByteArray pid;
    };
    const Case cases[] = {{"not a number", {}}, {"0", {}}, {"100000", QByteArray::number(::getppid())}};
    for (const Case &c : cases) {
        NotifySocket systemd(c.usec);
        if (!c.pid.isEmpty())
            qputenv("WATCHDOG_PID", c.pid);
        ServiceNotifier notifier;
        EXPECT_EQ(notifier.watchdogInterval(), 0ms) << c.usec << " " << c.pid.constData();
    }
}

} // namespace
