#include "service/ServiceNotifier.h"

#include "NotifySocket.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

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
