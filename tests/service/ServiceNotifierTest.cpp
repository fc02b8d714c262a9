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
              QStringList({"READY=1", "STATUS=3 panel lines, 1 in communication error, 2 clients connected",
                           "STATUS=1 panel line, 0 in communication error, 1 client connected",
                           "STATUS=2 panel lines, 2 in communication error, 0 clients connected", "STOPPING=1"}));
}

TEST(ServiceNotifier, WatchdogPingsFromTheRunningEventLoopOnlyWhenAskedForThisProcess)
{
    for (const auto &[usec, pid] : {std::pair<const char *, QByteArray>{"not a number", {}},
                                    {"0", {}},
                                    {"100000", QByteArray::number(::getppid())}}) {
        NotifySocket systemd(usec);
        if (!pid.isEmpty())
            qputenv("WATCHDOG_PID", pid);
        EXPECT_EQ(ServiceNotifier().watchdogInterval(), 0ms) << usec << " " << pid.constData();
    }
    NotifySocket systemd("100000");
    ServiceNotifier notifier;
    EXPECT_EQ(notifier.watchdogInterval(), 50ms);
    EXPECT_TRUE(systemd.messages().isEmpty()); // nothing before the loop runs: a hung loop sends no ping
    EXPECT_TRUE(waitFor([&] { return systemd.messages().count("WATCHDOG=1") >= 3; }, 5000));
    EXPECT_EQ(systemd.messages().count(), systemd.messages().count("WATCHDOG=1"));
}

} // namespace
