#include "platform/fmxMKzPlatformClock.h"

#include <ctime>

#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

namespace {
std::atomic<TKzVirtualClock*> gVirtualClock{nullptr};

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
}

void TKzVirtualClock::Set(uint64_t Ms) {
  FNow.store(Ms, std::memory_order_release);
  WakeMainThread();
}

void KzSetVirtualClock(TKzVirtualClock* Clock) {
  gVirtualClock.store(Clock, std::memory_order_release);
  WakeMainThread();
}

bool KzVirtualClockActive() { return gVirtualClock.load(std::memory_order_acquire) != nullptr; }

}  // namespace kz
