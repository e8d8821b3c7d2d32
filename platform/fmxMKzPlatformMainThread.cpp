#include "platform/fmxMKzPlatformMainThread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformTimer.h"

namespace kz {

namespace {

struct TSyncItem {
  TThreadProcedure Proc;
  // Set for synchronous hand-overs: the waiting caller sleeps on Done.
  struct TWaiter {
    std::mutex Lock;
    std::condition_variable Cond;
    bool Done = false;
    std::exception_ptr Error;
  };
  std::shared_ptr<TWaiter> Waiter;
};

struct TMainQueue {
  std::mutex Lock;  // guards Items and Wakeups
  std::condition_variable Cond;
  std::deque<TSyncItem> Items;
  uint64_t Wakeups = 0;
  // Written on the main thread under Lock; read there freely, elsewhere
  // under Lock (so it cannot be removed while a worker wakes it).
  IKzMainLoopEventSource* Source = nullptr;
};

TMainQueue& Queue() {
  // Never destroyed: worker threads may still hand over work while static
  // objects are being torn down at exit.
  static TMainQueue* q = new TMainQueue;
  return *q;
}

std::atomic<std::thread::id>& MainId() {
  static std::atomic<std::thread::id> id{std::this_thread::get_id()};
  return id;
}

// Takes the identity of the thread that runs static initialisation.
const bool gMainIdTaken = (MainId(), true);

void RunItem(TSyncItem& Item) {
  std::exception_ptr error;
  try {
    Item.Proc();
  } catch (...) {
    error = std::current_exception();
  }
  if (Item.Waiter) {
    // Moved, not copied: the waiting thread becomes the error's only owner.
    std::lock_guard<std::mutex> g(Item.Waiter->Lock);
    Item.Waiter->Done = true;
    Item.Waiter->Error = std::move(error);
    Item.Waiter->Cond.notify_all();
  }
  // Queued work has nobody to report to; a failing procedure is dropped.
}

}  // namespace

bool IsMainThread() { return std::this_thread::get_id() == MainId().load(); }
std::thread::id MainThreadID() { return MainId().load(); }
void SetMainThread() { MainId().store(std::this_thread::get_id()); }

void Synchronize(const TThreadProcedure& Proc) {
  if (IsMainThread()) {
    Proc();
    return;
  }
  auto waiter = std::make_shared<TSyncItem::TWaiter>();
  {
    TMainQueue& q = Queue();
    std::lock_guard<std::mutex> g(q.Lock);
    q.Items.push_back(TSyncItem{Proc, waiter});
    q.Cond.notify_all();
    if (q.Source) q.Source->Wake();
  }
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lk(waiter->Lock);
    waiter->Cond.wait(lk, [&] { return waiter->Done; });
    error = std::move(waiter->Error);
  }
  if (error) std::rethrow_exception(error);
}

void QueueOnMainThread(TThreadProcedure Proc) {
  TMainQueue& q = Queue();
  std::lock_guard<std::mutex> g(q.Lock);
  q.Items.push_back(TSyncItem{std::move(Proc), nullptr});
  q.Cond.notify_all();
  if (q.Source) q.Source->Wake();
}

bool CheckSynchronize() {
  if (!IsMainThread()) return false;
  std::deque<TSyncItem> batch;
  {
    TMainQueue& q = Queue();
    std::lock_guard<std::mutex> g(q.Lock);
    batch.swap(q.Items);
  }
  for (TSyncItem& item : batch) RunItem(item);
  return !batch.empty();
}

bool WaitForMainThreadWork(int Ms) {
  TMainQueue& q = Queue();
  if (q.Source && IsMainThread()) {
    {
      std::lock_guard<std::mutex> g(q.Lock);
      if (!q.Items.empty()) return true;
    }
    // Work queued from here on wakes the source.
    q.Source->WaitEvents(Ms < 0 ? 0 : Ms);
    std::lock_guard<std::mutex> g(q.Lock);
    return !q.Items.empty();
  }
  std::unique_lock<std::mutex> lk(q.Lock);
  if (!q.Items.empty()) return true;
  const uint64_t seen = q.Wakeups;
  q.Cond.wait_for(lk, std::chrono::milliseconds(Ms < 0 ? 0 : Ms),
                  [&] { return !q.Items.empty() || q.Wakeups != seen; });
  return !q.Items.empty();
}

void WakeMainThread() {
  TMainQueue& q = Queue();
  std::lock_guard<std::mutex> g(q.Lock);
  ++q.Wakeups;
  q.Cond.notify_all();
  if (q.Source) q.Source->Wake();
}

IKzMainLoopEventSource* KzSetMainLoopEventSource(IKzMainLoopEventSource* Source) {
  TMainQueue& q = Queue();
  std::lock_guard<std::mutex> g(q.Lock);
  IKzMainLoopEventSource* old = q.Source;
  q.Source = Source;
  return old;
}

size_t PendingMainThreadWork() {
  TMainQueue& q = Queue();
  std::lock_guard<std::mutex> g(q.Lock);
  return q.Items.size();
}

void TApplication::ProcessMessages() {
  CheckSynchronize();
  FireDueTimers();
  if (IKzMainLoopEventSource* source = Queue().Source; source && IsMainThread()) source->PumpEvents();
}

namespace {
// How long an idle main loop sleeps: until the next timer is due, at most
// CapMs. Under a virtual clock, deadlines move only when the clock is
// advanced, which wakes the loop; the cap keeps the loop responsive regardless.
int IdleWaitMs(int CapMs) {
  const int wait = MsUntilNextTimer();
  return wait < 0 || wait > CapMs || KzVirtualClockActive() ? CapMs : wait;
}
}  // namespace

void TApplication::Run() {
  while (!Terminated()) {
    ProcessMessages();
    if (Terminated()) break;
    WaitForMainThreadWork(IdleWaitMs(100));
  }
}

void TApplication::Terminate() {
  FTerminated.store(true, std::memory_order_release);
  WakeMainThread();
}

TApplication& Application() {
  static TApplication* app = new TApplication;
  return *app;
}

bool PumpUntil(const std::function<bool()>& Done, int TimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (!Done()) {
    Application().ProcessMessages();
    if (Done()) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return Done();
    WaitForMainThreadWork(static_cast<int>(left < 5 ? left : 5));
  }
  return true;
}

void PumpFor(int Ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  for (;;) {
    Application().ProcessMessages();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return;
    WaitForMainThreadWork(IdleWaitMs(static_cast<int>(left < 100 ? left : 100)));
  }
}

}  // namespace kz
