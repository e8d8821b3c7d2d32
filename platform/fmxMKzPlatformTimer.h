// Framework timers: they fire on the main thread from the application loop
// (TApplication::Run / ProcessMessages), by the platform tick count.
#pragma once
#include <cstdint>
#include <functional>

namespace kz {

class TTimer {
public:
  TTimer();
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  // Main thread, never blocks.
  void SetInterval(uint32_t Ms);
  uint32_t Interval() const { return FInterval; }
  // Main thread, never blocks. Enabling (re)starts the period from now.
  void SetEnabled(bool Value);
  bool Enabled() const { return FEnabled; }

  // Runs on the main thread at every tick.
  std::function<void(TTimer*)> OnTimer;

private:
  friend void FireDueTimers();
  friend int MsUntilNextTimer();
  void Rearm();
  uint32_t FInterval = 1000;
  bool FEnabled = false;
  uint64_t FDue = 0;
};

// Fires every timer that is due. Main thread only, never blocks.
void FireDueTimers();
// Milliseconds until the next enabled timer is due, or -1 without one.
int MsUntilNextTimer();

}  // namespace kz
