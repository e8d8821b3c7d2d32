#include "platform/fmxMKzPlatformClock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>

#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

namespace {
std::atomic<TKzVirtualClock*> gVirtualClock{nullptr};

// Waiters on a virtual clock sleep here until it moves.
std::mutex gWaitLock;
std::condition_variable gWaitWake;
std::atomic<uint64_t> gWakeGeneration{0};

void WakeWaiters() {
  {
    std::lock_guard<std::mutex> g(gWaitLock);
    gWakeGeneration.fetch_add(1, std::memory_order_relaxed);
  }
  gWaitWake.notify_all();
}

uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}
}  // namespace

uint64_t PlatformTickCount() {
  if (TKzVirtualClock* c = gVirtualClock.load(std::memory_order_acquire)) return c->Now();
  return MonotonicMs();
}

TKzVirtualClock::TKzVirtualClock(uint64_t StartMs) : FNow(StartMs) {}

void TKzVirtualClock::Advance(uint64_t Ms) {
  FNow.fetch_add(Ms, std::memory_order_acq_rel);
  WakeMainThread();
  WakeWaiters();
}

void TKzVirtualClock::Set(uint64_t Ms) {
  FNow.store(Ms, std::memory_order_release);
  WakeMainThread();
  WakeWaiters();
}

void KzSetVirtualClock(TKzVirtualClock* Clock) {
  gVirtualClock.store(Clock, std::memory_order_release);
  WakeMainThread();
  WakeWaiters();
}

void PlatformWakeClockWaiters() { WakeWaiters(); }

bool PlatformWaitUntil(uint64_t DueMs, const std::function<bool()>& Cancelled) {
  constexpr uint64_t SliceMs = 50;
  for (;;) {
    if (Cancelled && Cancelled()) return false;
    if (gVirtualClock.load(std::memory_order_acquire)) {
      std::unique_lock<std::mutex> g(gWaitLock);
      const uint64_t generation = gWakeGeneration.load(std::memory_order_relaxed);
      if (PlatformTickCount() >= DueMs) return true;
      gWaitWake.wait_for(g, std::chrono::milliseconds(SliceMs),
                         [&] { return gWakeGeneration.load(std::memory_order_relaxed) != generation; });
      continue;
    }
    const uint64_t now = MonotonicMs();
    if (now >= DueMs) return true;
    // Absolute sleeps in slices, so a cancel is seen within one slice.
    const uint64_t until = std::min(DueMs, now + SliceMs);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(until / 1000u);
    ts.tv_nsec = static_cast<long>((until % 1000u) * 1000000u);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
  }
}

bool KzVirtualClockActive() { return gVirtualClock.load(std::memory_order_acquire) != nullptr; }

}  // namespace kz
