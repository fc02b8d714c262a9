#include "protocol/XTimerSupport.h"
#include "common/Error.h"
#include "protocol/XTimer.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QTimerEvent>
#include <vector>

namespace {

// Qt timers on a hidden object of the main thread stand in for window-less SetTimer.
class QtSystemTimers : public QObject, public XTimerSupport::SystemTimers {
public:
    using QObject::QObject;
    std::int32_t SetTimer(std::int32_t intervalMs) override
    {
        if (intervalMs < 0)
            return 0;
        return startTimer(intervalMs);
    }
    void KillTimer(std::int32_t id) override { killTimer(id); }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        constexpr std::uint32_t WM_TIMER = 0x113;
        XTimerSupport::TimerProc(nullptr, WM_TIMER, event->timerId(), 0);
    }
};

struct TimerSlot {
    XTimer *Timer = nullptr;
    std::int32_t TimerID = 0; // 0: free
    bool Busy = false;
};

std::vector<TimerSlot> &timerTable()
{
    static std::vector<TimerSlot> table(1); // entry 0 unused
    return table;
}

XTimerSupport::SystemTimers *installed = nullptr;

// Without an application there is no event loop to tick in: no timers then.
XTimerSupport::SystemTimers *systemTimers()
{
    if (installed)
        return installed;
    static QPointer<QtSystemTimers> qtTimers;
    if (!qtTimers) {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return nullptr;
        qtTimers = new QtSystemTimers(app);
    }
    return qtTimers.data();
}

void killSystemTimer(std::int32_t id)
{
    if (XTimerSupport::SystemTimers *s = systemTimers())
        s->KillTimer(id);
}

// A slot that holds this timer with this id. Matching the timer as well as the id
// matters: an id freed by a dead timer may since belong to another one.
int findSlot(const XTimer *timer, std::int32_t id)
{
    auto &table = timerTable();
    for (std::size_t i = 1; i < table.size(); ++i)
        if (table[i].TimerID == id && (!timer || table[i].Timer == timer))
            return int(i);
    return 0;
}

} // namespace

namespace XTimerSupport {

SystemTimers *setSystemTimers(SystemTimers *timers)
{
    SystemTimers *previous = installed;
    installed = timers;
    return previous;
}

std::int32_t StartTimer(XTimer &timer, std::int32_t interval)
{
    SystemTimers *s = systemTimers();
    const std::int32_t id = s ? s->SetTimer(interval) : 0;
    if (id == 0)
        throw RuntimeError(NoTimersAvailable, QStringLiteral("No timers available"));
    auto &table = timerTable();
    int free = findSlot(nullptr, 0);
    if (free == 0) {
        free = int(table.size());
        table.resize(table.size() + 5);
    }
    table[std::size_t(free)] = TimerSlot{&timer, id, false};
    return id;
}

void StopTimer(XTimer &timer)
{
    const std::int32_t id = XTimerAccess::TimerID(timer);
    if (id == 0)
        return;
    const int slot = findSlot(&timer, id);
    if (slot == 0)
        return;
    killSystemTimer(id);
    auto &entry = timerTable()[std::size_t(slot)];
    entry.Timer = nullptr;
    entry.TimerID = 0;
}

void TimerProc(void *, std::uint32_t, std::int32_t id, std::uint32_t)
{
    if (id == 0)
        return;
    const int slot = findSlot(nullptr, id);
    if (slot == 0) {
        killSystemTimer(id);
        return;
    }
    // Index the table afresh after the tick: the handler may have grown it.
    if (timerTable()[std::size_t(slot)].Busy)
        return;
    timerTable()[std::size_t(slot)].Busy = true;
    XTimer *timer = timerTable()[std::size_t(slot)].Timer;
    bool failed = false;
    try {
        timer->RaiseTick();
    } catch (...) {
        failed = true;
    }
    TimerSlot &entry = timerTable()[std::size_t(slot)];
    // The handler may have stopped (or destroyed) its own timer: then the slot is
    // already free, or even reused by another timer, and is left alone.
    if (entry.Timer != timer || entry.TimerID != id)
        return;
    if (failed) {
        killSystemTimer(id);
        entry.TimerID = 0;
        entry.Timer = nullptr;
    }
    entry.Busy = false;
}

int SlotCount() { return int(timerTable().size()) - 1; }

std::int32_t SlotTimerID(int slot)
{
    return slot >= 1 && slot <= SlotCount() ? timerTable()[std::size_t(slot)].TimerID : 0;
}

const XTimer *SlotTimer(int slot)
{
    return slot >= 1 && slot <= SlotCount() ? timerTable()[std::size_t(slot)].Timer : nullptr;
}

} // namespace XTimerSupport
