#pragma once
#include <cstdint>
#include <functional>

// A window-less periodic timer. It raises Tick every Interval milliseconds while
// Enabled; a period of 0 never runs. The running system timer is held in the
// slot table of XTimerSupport, which delivers every tick on the main thread.
class XTimer {
public:
    XTimer() = default;
    // Frees the timer's slot (and its system timer) so no tick reaches a dead object.
    ~XTimer();
    XTimer(const XTimer &) = delete;
    XTimer &operator=(const XTimer &) = delete;

    bool Enabled() const { return enabled_; }
    // Starts or stops the system timer. Raises RuntimeError when none is available;
    // the new value stays stored either way.
    void setEnabled(bool enabled);

    std::int32_t Interval() const { return interval_; }
    // A change of period restarts a running timer. Raises as setEnabled does.
    void setInterval(std::int32_t interval);

    // The event. An exception thrown by it stops this timer until Enabled is cycled.
    std::function<void()> Tick;

    // Raises Tick; called by XTimerSupport only.
    void RaiseTick();

private:
    friend struct XTimerAccess;
    std::int32_t TimerID_ = 0;
    std::int32_t interval_ = 0;
    bool enabled_ = false;
};

// What XTimerSupport sees of a timer.
struct XTimerAccess {
    static std::int32_t TimerID(const XTimer &t) { return t.TimerID_; }
};
