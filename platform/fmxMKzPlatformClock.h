// Millisecond clock of the platform, replaceable by a virtual clock in tests.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>

namespace kz {

// Milliseconds of the monotonic clock, or of the installed virtual clock.
// Any thread, never blocks.
uint64_t PlatformTickCount();

// A clock that moves only when told to. While one is installed every tick
// count of the library reads it, and main-thread timers fire by it.
class TKzVirtualClock {
public:
  explicit TKzVirtualClock(uint64_t StartMs = 1000000);
  // Any thread, never blocks. Wakes the main loop so due timers fire.
  void Advance(uint64_t Ms);
  void Set(uint64_t Ms);
  uint64_t Now() const { return FNow.load(std::memory_order_acquire); }

private:
  std::atomic<uint64_t> FNow;
};

// Waits until the platform clock reads DueMs or later (an absolute time, so
// a series of waits does not drift), or until Cancelled answers true; false
// when cancelled. The real clock sleeps with clock_nanosleep; a virtual clock
// wakes the waiter when it is advanced. Cancelled is asked at least every
// 50 ms and at once after PlatformWakeClockWaiters. The waiting thread; blocks.
bool PlatformWaitUntil(uint64_t DueMs, const std::function<bool()>& Cancelled);
// Makes every PlatformWaitUntil ask its Cancelled again now. Any thread, never blocks.
void PlatformWakeClockWaiters();

// Installs (or with nullptr removes) the virtual clock. Main thread, never blocks.
void KzSetVirtualClock(TKzVirtualClock* Clock);
bool KzVirtualClockActive();

// Installs a virtual clock for the life of a scope (tests).
class TKzVirtualClockScope {
public:
  explicit TKzVirtualClockScope(uint64_t StartMs = 1000000) : Clock(StartMs) { KzSetVirtualClock(&Clock); }
  ~TKzVirtualClockScope() { KzSetVirtualClock(nullptr); }
  TKzVirtualClockScope(const TKzVirtualClockScope&) = delete;
  TKzVirtualClockScope& operator=(const TKzVirtualClockScope&) = delete;
  TKzVirtualClock Clock;
};

}  // namespace kz
