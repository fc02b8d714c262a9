// The timer object and its slot table.
#include "ProtocolFixture.h"
#include "common/Error.h"
#include "protocol/XTimer.h"

namespace {

// Timers whose ids the platform hands out again once killed, as real ones do.
class ReusingTimers : public ManualTimers {
public:
    std::int32_t SetTimer(std::int32_t intervalMs) override
    {
        for (std::int32_t id = 1;; ++id)
            if (!running.count(id)) {
                running[id] = intervalMs;
                return id;
            }
    }
};

std::int32_t idOf(const XTimer &t) { return XTimerAccess::TimerID(t); }

// The slots that hold a running timer.
int usedSlots()
{
    int used = 0;
    for (int i = 1; i <= XTimerSupport::SlotCount(); ++i)
        used += XTimerSupport::SlotTimerID(i) != 0;
    return used;
}

TEST(XTimer, StartsOnlyWhenEnabledWithAPeriod)
{
    ManualTimers timers;
    XTimer t;
    t.setInterval(1000);
    EXPECT_EQ(timers.started, 0);
    EXPECT_EQ(idOf(t), 0);
    t.setEnabled(true);
    t.setEnabled(true);
    EXPECT_EQ(timers.started, 1);
    ASSERT_NE(idOf(t), 0);
    EXPECT_EQ(timers.running.at(idOf(t)), 1000);

    // A change of period restarts it; period 0 stops it.
    const std::int32_t first = idOf(t);
    t.setInterval(250);
    EXPECT_FALSE(timers.running.count(first));
    EXPECT_EQ(timers.running.at(idOf(t)), 250);
    t.setInterval(0);
    EXPECT_EQ(idOf(t), 0);
    EXPECT_TRUE(timers.running.empty());
    EXPECT_TRUE(t.Enabled());
    t.setInterval(500);
    EXPECT_EQ(timers.running.size(), 1u);
    t.setEnabled(false);
    EXPECT_TRUE(timers.running.empty());
    EXPECT_EQ(usedSlots(), 0);
}

TEST(XTimer, TableGrowsByFiveAndReusesFreedSlots)
{
    ManualTimers timers;
    const int slotsBefore = XTimerSupport::SlotCount();
    ASSERT_EQ(usedSlots(), 0);
    std::vector<std::unique_ptr<XTimer>> six;
    for (int i = 0; i < 6; ++i) {
        six.push_back(std::make_unique<XTimer>());
        six.back()->setInterval(100);
        six.back()->setEnabled(true);
    }
    EXPECT_EQ(usedSlots(), 6);
    EXPECT_EQ(XTimerSupport::SlotCount(), std::max(slotsBefore, 10));
    EXPECT_EQ(XTimerSupport::SlotCount() % 5, 0);

    int slotOfThird = 0;
    for (int i = 1; i <= XTimerSupport::SlotCount(); ++i)
        if (XTimerSupport::SlotTimer(i) == six[2].get())
            slotOfThird = i;
    ASSERT_NE(slotOfThird, 0);
    six[2]->setEnabled(false);
    EXPECT_EQ(XTimerSupport::SlotTimerID(slotOfThird), 0);
    XTimer next;
    next.setInterval(100);
    next.setEnabled(true);
    EXPECT_EQ(XTimerSupport::SlotTimer(slotOfThird), &next);
}

TEST(XTimer, TicksReachTheHandlerOneAtATime)
{
    ManualTimers timers;
    XTimer t;
    int ticks = 0, nested = 0;
    t.Tick = [&] {
        ++ticks;
        if (ticks == 1) {
            // A tick of the same timer arriving inside its handler is dropped.
            timers.fire(idOf(t));
            nested = ticks;
        }
    };
    t.setInterval(1000);
    t.setEnabled(true);
    timers.fire(idOf(t));
    EXPECT_EQ(nested, 1);
    timers.fire(idOf(t));
    EXPECT_EQ(ticks, 2);
}

TEST(XTimer, AThrowingHandlerStopsItsTimerUntilEnabledIsCycled)
{
    ManualTimers timers;
    XTimer t;
    int calls = 0;
    t.Tick = [&] {
        ++calls;
        throw RuntimeError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    };
    t.setInterval(1000);
    t.setEnabled(true);
    const std::int32_t id = idOf(t);
    timers.fire(id);
    timers.fire(id);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(timers.running.count(id));
    // Dead: still shows its id and Enabled.
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(idOf(t), id);

    t.setEnabled(false);
    t.setEnabled(true);
    timers.fire(idOf(t));
    EXPECT_EQ(calls, 2);
}

TEST(XTimer, ADeadTimerNeverStopsTheTimerThatInheritedItsId)
{
    ReusingTimers timers;
    XTimer dead, alive;
    dead.Tick = [] { throw RuntimeError(1, QStringLiteral("boom")); };
    int aliveTicks = 0;
    alive.Tick = [&] { ++aliveTicks; };
    dead.setInterval(10);
    dead.setEnabled(true);
    const std::int32_t id = idOf(dead);
    timers.fire(id);
    alive.setInterval(10);
    alive.setEnabled(true);
    ASSERT_EQ(idOf(alive), id);

    dead.setEnabled(false);
    EXPECT_TRUE(timers.running.count(id));
    timers.fire(id);
    EXPECT_EQ(aliveTicks, 1);
}

TEST(XTimer, NoTimerAvailableRaisesAndKeepsTheProperty)
{
    ManualTimers timers;
    timers.exhausted = true;
    XTimer t;
    t.setInterval(1000);
    try {
        t.setEnabled(true);
        FAIL() << "no error raised";
    } catch (const RuntimeError &e) {
        EXPECT_EQ(e.number(), XTimerSupport::NoTimersAvailable);
        EXPECT_EQ(e.description(), QStringLiteral("No timers available"));
    }
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(idOf(t), 0);
    timers.exhausted = false;
    t.setEnabled(true); // the same value: nothing happens
    EXPECT_EQ(idOf(t), 0);
    t.setInterval(900);
    EXPECT_NE(idOf(t), 0);
}

TEST(XTimer, UnknownIdsAreKilledAndDestroyedTimersLeaveNoSlot)
{
    ManualTimers timers;
    timers.fire(424242);
    ASSERT_FALSE(timers.killed.empty());
    EXPECT_EQ(timers.killed.back(), 424242);

    int ticks = 0;
    std::int32_t id = 0;
    {
        XTimer t;
        t.Tick = [&] { ++ticks; };
        t.setInterval(100);
        t.setEnabled(true);
        id = idOf(t);
    }
    EXPECT_FALSE(timers.running.count(id));
    timers.fire(id);
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(usedSlots(), 0);
}

TEST(XTimer, AHandlerMayStopOrDestroyItsOwnTimer)
{
    ManualTimers timers;
    auto t = std::make_unique<XTimer>();
    XTimer other;
    other.setInterval(5);
    t->Tick = [&] {
        t.reset();
        other.setEnabled(true); // may take the freed slot
    };
    t->setInterval(5);
    t->setEnabled(true);
    timers.fire(XTimerAccess::TimerID(*t));
    EXPECT_EQ(t, nullptr);
    int otherTicks = 0;
    other.Tick = [&] { ++otherTicks; };
    timers.fire(idOf(other));
    EXPECT_EQ(otherTicks, 1);
}

TEST(XTimer, RunsOnRealQtTimers)
{
    XTimer t;
    int ticks = 0;
    t.Tick = [&] { ++ticks; };
    t.setInterval(10);
    t.setEnabled(true);
    EXPECT_TRUE(waitFor([&] { return ticks >= 3; }, 5000));
    t.setEnabled(false);
    const int stopped = ticks;
    waitFor([] { return false; }, 60);
    EXPECT_EQ(ticks, stopped);
    EXPECT_EQ(usedSlots(), 0);
}

} // namespace
