#include "platform/fmxMKzPlatformTimerQueue.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <queue>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/fmxMKzPlatformClock.h"

namespace kz {

namespace {
struct TDeadline {
  uint64_t Due;
  TKzTimerQueue::TTimerId Id;
  uint64_t Generation;
  bool operator>(const TDeadline& O) const { return Due > O.Due; }
};

std::mutex gQueuesLock;  // guards gQueues
std::set<TKzTimerQueue*> gQueues;
}  // namespace

struct TKzTimerQueue::TState {
  struct TTimer {
    std::shared_ptr<TCallback> Callback;
    uint64_t Generation = 0;
    bool Armed = false;
  };
  mutable std::mutex Lock;  // guards everything below
  std::condition_variable Wake;
  std::unordered_map<TTimerId, TTimer> Timers;
  std::priority_queue<TDeadline, std::vector<TDeadline>, std::greater<TDeadline>> Heap;
  TTimerId NextId = 1;
  TTimerId Running = 0;
  uint64_t SettledTick = 0;
  bool Quit = false;
  std::thread Thread;

  void ArmLocked(TTimer& T, TTimerId Id, uint32_t DelayMs) {
    T.Armed = true;
    const uint64_t due = PlatformTickCount() + DelayMs;
    // The thread needs waking only when this deadline comes first.
    const bool first = Heap.empty() || due < Heap.top().Due;
    Heap.push({due, Id, ++T.Generation});
    if (first) Wake.notify_all();
  }
  // Drops heap entries of deleted, disarmed or moved timers.
  void PruneLocked() {
    while (!Heap.empty()) {
      const TDeadline& d = Heap.top();
      auto it = Timers.find(d.Id);
      if (it != Timers.end() && it->second.Armed && it->second.Generation == d.Generation) return;
      Heap.pop();
    }
  }
};

TKzTimerQueue::TKzTimerQueue() : FState(std::make_unique<TState>()) {
  FState->Thread = std::thread([this] { Loop(); });
  std::lock_guard<std::mutex> g(gQueuesLock);
  gQueues.insert(this);
}

TKzTimerQueue::~TKzTimerQueue() {
  {
    std::lock_guard<std::mutex> g(gQueuesLock);
    gQueues.erase(this);
  }
  {
    std::lock_guard<std::mutex> g(FState->Lock);
    FState->Quit = true;
  }
  FState->Wake.notify_all();
  FState->Thread.join();
}

TKzTimerQueue::TTimerId TKzTimerQueue::Create(TCallback Callback) {
  std::lock_guard<std::mutex> g(FState->Lock);
  const TTimerId id = FState->NextId++;
  FState->Timers[id].Callback = std::make_shared<TCallback>(std::move(Callback));
  return id;
}

bool TKzTimerQueue::Arm(TTimerId Id, uint32_t DelayMs) {
  std::lock_guard<std::mutex> g(FState->Lock);
  auto it = FState->Timers.find(Id);
  if (it == FState->Timers.end()) return false;
  FState->ArmLocked(it->second, Id, DelayMs);
  return true;
}

bool TKzTimerQueue::ArmIfIdle(TTimerId Id, uint32_t DelayMs) {
  std::lock_guard<std::mutex> g(FState->Lock);
  auto it = FState->Timers.find(Id);
  if (it == FState->Timers.end()) return false;
  if (!it->second.Armed) FState->ArmLocked(it->second, Id, DelayMs);
  return true;
}

void TKzTimerQueue::Cancel(TTimerId Id) {
  std::lock_guard<std::mutex> g(FState->Lock);
  auto it = FState->Timers.find(Id);
  if (it != FState->Timers.end()) it->second.Armed = false;
}

bool TKzTimerQueue::Armed(TTimerId Id) const {
  std::lock_guard<std::mutex> g(FState->Lock);
  auto it = FState->Timers.find(Id);
  return it != FState->Timers.end() && it->second.Armed;
}

void TKzTimerQueue::Delete(TTimerId Id) {
  std::unique_lock<std::mutex> lk(FState->Lock);
  FState->Timers.erase(Id);
  if (std::this_thread::get_id() == FState->Thread.get_id()) return;
  FState->Wake.wait(lk, [&] { return FState->Running != Id; });
}

bool TKzTimerQueue::AllSettledAt(uint64_t Tick) {
  std::lock_guard<std::mutex> g(gQueuesLock);
  for (TKzTimerQueue* q : gQueues) {
    std::lock_guard<std::mutex> l(q->FState->Lock);
    if (q->FState->SettledTick < Tick || q->FState->Running) return false;
  }
  return true;
}

void TKzTimerQueue::Loop() {
  TState& s = *FState;
  std::unique_lock<std::mutex> lk(s.Lock);
  while (!s.Quit) {
    s.PruneLocked();
    const uint64_t now = PlatformTickCount();
    if (!s.Heap.empty() && s.Heap.top().Due <= now) {
      const TTimerId id = s.Heap.top().Id;
      s.Heap.pop();
      TState::TTimer& t = s.Timers[id];
      t.Armed = false;
      std::shared_ptr<TCallback> callback = t.Callback;
      s.Running = id;
      lk.unlock();
      (*callback)();
      lk.lock();
      s.Running = 0;
      s.Wake.notify_all();
      continue;
    }
    s.SettledTick = now;
    if (KzVirtualClockActive()) {
      // The virtual clock moves without telling anyone: look again soon.
      s.Wake.wait_for(lk, std::chrono::microseconds(200));
    } else if (s.Heap.empty()) {
      s.Wake.wait(lk);
    } else {
      s.Wake.wait_for(lk, std::chrono::milliseconds(s.Heap.top().Due - now));
    }
  }
}

}  // namespace kz
