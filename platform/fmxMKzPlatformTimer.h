// Framework timers: they fire on the main thread from the application loop
// (TApplication::Run / ProcessMessages), by the platform tick count.
#pragma once
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

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

// A process timer that needs no main loop: OnTimer runs on the timer's own
// thread every Interval ms of real time until Stop. For periodic house-keeping
// of process-wide objects (the callback must lock what it touches).
class TKzThreadTimer {
public:
  TKzThreadTimer() = default;
  ~TKzThreadTimer() { Stop(); }
  TKzThreadTimer(const TKzThreadTimer&) = delete;
  TKzThreadTimer& operator=(const TKzThreadTimer&) = delete;

  // Starts the thread (a running timer is restarted). Any thread, never blocks.
  void Start(uint32_t IntervalMs, std::function<void()> OnTimer);
  // Stops the thread and waits for it: returns as soon as a running OnTimer
  // has finished. Any thread except the timer's own; blocks that long.
  void Stop();
  bool Running() const;

private:
  void Loop(uint32_t IntervalMs, std::function<void()> OnTimer);
  mutable std::mutex FLock;  // guards FStop and FThread
  std::condition_variable FWake;
  bool FStop = false;
  std::thread FThread;
};

}  // namespace kz
