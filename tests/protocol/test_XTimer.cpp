// The timer object and its slot table.
#include "ProtocolFixture.h"
#include "common/Error.h"
#include "protocol/XTimer.h"

namespace {

std::int32_t idOf(const XTimer &t) { return XTimerAccess::TimerID(t); }

std::unique_ptr<XTimer> started(std::int32_t interval)
{
    auto t = std::make_unique<XTimer>();
    t->setInterval(interval);
    t->setEnabled(true);
    return t;
}

int usedSlots()
{
    int used = 0;
    for (int i = 1; i <= XTimerSupport::SlotCount(); ++i)
        used += XTimerSupport::SlotTimerID(i) != 0;
    return used;
}

TEST(XTimer, RunsOnlyWhenEnabledWithAPeriodFilesItselfInASlotTicksOneAtATimeAndStopsOnAThrowingHandler)
{
    {
        const auto real = started(10); // on the Qt timers, first
        int ticks = 0;
        real->Tick = [&] { ++ticks; };
        EXPECT_TRUE(waitFor([&] { return ticks >= 3; }));
        real->setEnabled(false);
        const int stopped = ticks;
        settle();
        EXPECT_EQ(ticks, stopped);
    }
    ManualTimers timers;
    XTimer t;
    using Running = std::map<std::int32_t, std::int32_t>;
    t.setInterval(1000);
    EXPECT_TRUE(timers.running.empty());
    t.setEnabled(true);
    t.setEnabled(true);
    EXPECT_EQ(timers.running, (Running{{idOf(t), 1000}}));
    t.setInterval(250);
    EXPECT_EQ(timers.running, (Running{{idOf(t), 250}}));
    t.setInterval(0);
    EXPECT_TRUE(timers.running.empty() && idOf(t) == 0 && t.Enabled());
    t.setInterval(500);
    EXPECT_EQ(timers.running, (Running{{idOf(t), 500}}));
    t.setEnabled(false);
    EXPECT_TRUE(timers.running.empty() && usedSlots() == 0);
    // No timer available: the error reaches the caller, the value stays stored,
    // and nothing runs until the property is written again with a new value.
    timers.exhausted = true;
    try {
        t.setEnabled(true);
        ADD_FAILURE() << "no error raised";
    } catch (const RuntimeError &e) {
        EXPECT_EQ(std::make_pair(e.number(), e.description()),
                  std::make_pair(XTimerSupport::NoTimersAvailable, QString("No timers available")));
    }
    timers.exhausted = false;
    t.setEnabled(true);
    EXPECT_TRUE(timers.running.empty() && t.Enabled());
    t.setInterval(900);
    EXPECT_EQ(timers.running, (Running{{idOf(t), 900}}));
    t.setEnabled(false);

    // The slot table grows by five and reuses freed slots; a tick of an unknown id kills it.
    timers.fire(424242);
    EXPECT_EQ(timers.killed.back(), 424242);
    const int slotsBefore = XTimerSupport::SlotCount();
    std::vector<std::unique_ptr<XTimer>> six(6);
    for (auto &t : six)
        t = started(100);
    EXPECT_EQ(usedSlots(), 6);
    EXPECT_EQ(XTimerSupport::SlotCount(), std::max(slotsBefore, 10));
    int third = 0;
    for (int i = 1; i <= XTimerSupport::SlotCount(); ++i)
        third = XTimerSupport::SlotTimer(i) == six[2].get() ? i : third;
    six[2]->setEnabled(false);
    EXPECT_EQ(XTimerSupport::SlotTimerID(third), 0);
    const auto next = started(100);
    EXPECT_EQ(XTimerSupport::SlotTimer(third), next.get());
    // A timer that goes leaves no slot: a tick of its id reaches nobody.
    const std::int32_t id = idOf(*six[3]);
    six[3].reset();
    EXPECT_FALSE(timers.running.count(id));
    EXPECT_EQ(usedSlots(), 5);

    // Ticks come one at a time, and a throwing handler stops its timer.
    {
        timers.reuseIds = true;
        XTimer t;
        int ticks = 0;
        t.Tick = [&] {
            if (++ticks == 1)
                timers.fire(idOf(t)); // a tick of the same timer inside its handler is dropped
            if (ticks == 3)
                throw RuntimeError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
        };
        t.setInterval(1000);
        t.setEnabled(true);
        const std::int32_t id = idOf(t);
        timers.fire(id);
        EXPECT_EQ(ticks, 1);
        timers.fire(id, 3);
        EXPECT_EQ(ticks, 3);
        EXPECT_FALSE(timers.running.count(id));
        EXPECT_TRUE(t.Enabled() && idOf(t) == id); // dead, yet it shows its id and Enabled
        // Another timer inherits the id; the dead one's disable must not stop it.
        const auto alive = started(10);
        int aliveTicks = 0;
        alive->Tick = [&] { ++aliveTicks; };
        ASSERT_EQ(idOf(*alive), id);
        t.setEnabled(false);
        timers.fire(id);
        EXPECT_EQ(aliveTicks, 1);
        t.setEnabled(true); // cycled: it ticks again
        timers.fire(idOf(t));
        EXPECT_EQ(ticks, 4);
        // A handler may destroy its own timer, and another may take its slot.
        auto own = started(5);
        own->Tick = [&] {
            own.reset();
            t.setInterval(20);
        };
        timers.fire(idOf(*own));
        EXPECT_EQ(own, nullptr);
        timers.fire(idOf(t));
        EXPECT_EQ(ticks, 5);
    }
}

} // namespace
