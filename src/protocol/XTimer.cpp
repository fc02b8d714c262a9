#include "protocol/XTimer.h"
#include "protocol/XTimerSupport.h"

XTimer::~XTimer()
{
    // The slot table holds a plain pointer: leaving it there would tick freed memory.
    try {
        XTimerSupport::StopTimer(*this);
    } catch (...) {
    }
}

void XTimer::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    if (interval_ == 0)
        return;
    if (enabled) {
        TimerID_ = XTimerSupport::StartTimer(*this, interval_);
    } else if (TimerID_ != 0) {
        XTimerSupport::StopTimer(*this);
        TimerID_ = 0;
    }
}

void XTimer::setInterval(std::int32_t interval)
{
    if (interval == interval_)
        return;
    interval_ = interval;
    if (TimerID_ != 0) {
        XTimerSupport::StopTimer(*this);
        TimerID_ = 0;
    }
    if (interval != 0 && enabled_)
        TimerID_ = XTimerSupport::StartTimer(*this, interval);
}

void XTimer::RaiseTick()
{
    // A copy: the handler may destroy this timer, and with it Tick.
    if (Tick) {
        const std::function<void()> handler = Tick;
        handler();
    }
}
