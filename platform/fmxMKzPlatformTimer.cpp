#include "platform/fmxMKzPlatformTimer.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

namespace {
// Timers are created, changed and fired on the main thread only, so the list
// needs no lock. Never destroyed: timers may outlive static teardown.
std::vector<TTimer*>& Timers() {
  static auto* list = new std::vector<TTimer*>;
  return *list;
}
}  // namespace

TTimer::TTimer() { Timers().push_back(this); }

TTimer::~TTimer() {
  auto& list = Timers();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TTimer::Rearm() { FDue = PlatformTickCount() + std::max<uint32_t>(FInterval, 1); }

void TTimer::SetInterval(uint32_t Ms) {
  FInterval = Ms;
  if (FEnabled) Rearm();
}

void TTimer::SetEnabled(bool Value) {
  FEnabled = Value;
  if (FEnabled) {
    Rearm();
    WakeMainThread();
  }
}

void FireDueTimers() {
  if (!IsMainThread()) return;
  const uint64_t now = PlatformTickCount();
  // A handler may create or free timers: walk a snapshot and re-check membership.
  std::vector<TTimer*> snapshot = Timers();
  for (TTimer* t : snapshot) {
    auto& live = Timers();
    if (std::find(live.begin(), live.end(), t) == live.end()) continue;
    if (!t->FEnabled || t->FInterval == 0 || now < t->FDue) continue;
    t->Rearm();
    if (t->OnTimer) t->OnTimer(t);
  }
}

int MsUntilNextTimer() {
  const uint64_t now = PlatformTickCount();
  int64_t best = -1;
  for (TTimer* t : Timers()) {
    if (!t->FEnabled || t->FInterval == 0) continue;
    int64_t left = t->FDue > now ? static_cast<int64_t>(t->FDue - now) : 0;
    if (best < 0 || left < best) best = left;
  }
  return static_cast<int>(std::min<int64_t>(best, 1 << 30));
}

// ---- TKzThreadTimer

void TKzThreadTimer::Start(uint32_t IntervalMs, std::function<void()> OnTimer) {
  Stop();
  std::lock_guard<std::mutex> g(FLock);
  FStop = false;
  FThread = std::thread(&TKzThreadTimer::Loop, this, std::max<uint32_t>(IntervalMs, 1), std::move(OnTimer));
}

void TKzThreadTimer::Stop() {
  std::thread t;
  {
    std::lock_guard<std::mutex> g(FLock);
    FStop = true;
    t = std::move(FThread);
  }
  FWake.notify_all();
  if (t.joinable()) t.join();
}

bool TKzThreadTimer::Running() const {
  std::lock_guard<std::mutex> g(FLock);
  return FThread.joinable() && !FStop;
}

void TKzThreadTimer::Loop(uint32_t IntervalMs, std::function<void()> OnTimer) {
  std::unique_lock<std::mutex> g(FLock);
  for (;;) {
    if (FWake.wait_for(g, std::chrono::milliseconds(IntervalMs), [this] { return FStop; })) return;
    g.unlock();
    try {
      if (OnTimer) OnTimer();
    } catch (...) {
      // House-keeping failures must not end the process.
    }
    g.lock();
  }
}

}  // namespace kz
