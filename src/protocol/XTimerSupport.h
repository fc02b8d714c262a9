#pragma once
#include <cstdint>

class XTimer;

// The table of running system timers and the one callback through which they all
// tick. Slots are indexed from 1, reused when free and never removed; the table
// grows by 5 slots when full. A slot is Busy while its timer's Tick runs, so a tick
// arriving meanwhile (a handler that lets events run) is dropped.
namespace XTimerSupport {

// The platform's periodic timers: SetTimer returns a non-zero id (0 when none is
// available) and ticks arrive through TimerProc on the main thread. The default
// runs on Qt timers; tests install their own to fire ticks on demand.
class SystemTimers {
public:
    virtual ~SystemTimers() = default;
    virtual std::int32_t SetTimer(std::int32_t intervalMs) = 0;
    virtual void KillTimer(std::int32_t id) = 0;
};

// Installs the timer service; nullptr restores the Qt one. Returns the previous
// service (nullptr when it was the Qt one). Swap only while no timer runs.
SystemTimers *setSystemTimers(SystemTimers *timers);

// Starts a system timer for the XTimer and files it in a free slot. Raises
// RuntimeError 0x80047925 "No timers available" when the platform refuses.
std::int32_t StartTimer(XTimer &timer, std::int32_t interval);
// Kills the timer's system timer and frees its slot; nothing when it holds none.
void StopTimer(XTimer &timer);
// The system timer callback; only id is used.
void TimerProc(void *hwnd, std::uint32_t message, std::int32_t id, std::uint32_t time);

// For inspection: the number of slots and what slot i (1-based) holds.
int SlotCount();
std::int32_t SlotTimerID(int slot);
const XTimer *SlotTimer(int slot);

constexpr std::int32_t NoTimersAvailable = std::int32_t(0x80047925u);

} // namespace XTimerSupport
