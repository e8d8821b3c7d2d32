// Kernel services of the platform: the thread class, events, a recursive
// critical section with try-enter, and a locked list.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace kz {

constexpr uint32_t INFINITE = 0xFFFFFFFFu;

enum class TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// An event, auto- or manual-reset, as the kernel's.
class TEvent {
public:
  explicit TEvent(bool ManualReset = true, bool InitialState = false);
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;
  // Any thread, never block.
  void SetEvent();
  void ResetEvent();
  // Any thread; blocks up to Timeout ms (INFINITE: without limit). An
  // auto-reset event is cleared by the wait that it releases.
  TWaitResult WaitFor(uint32_t Timeout = INFINITE);
  bool IsSet();

private:
  std::mutex FLock;
  std::condition_variable FCond;
  const bool FManualReset;
  bool FSignaled;
};

// A recursive lock with a non-blocking enter.
class TCriticalSection {
public:
  TCriticalSection() = default;
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;
  // Any thread; Enter blocks, TryEnter never does.
  void Enter() { FLock.lock(); }
  bool TryEnter() { return FLock.try_lock(); }
  void Leave() { FLock.unlock(); }
  // BasicLockable, for std::lock_guard.
  void lock() { Enter(); }
  void unlock() { Leave(); }

private:
  std::recursive_mutex FLock;
};

// The platform thread. Created suspended or started at once (then the owner
// calls AfterConstruction once the object is complete). Execute runs on the
// thread; OnTerminate runs on the main thread when Execute has returned; a
// free-on-terminate thread deletes itself after that.
class TThread {
public:
  explicit TThread(bool CreateSuspended);
  // Stops and waits for a running thread. Owners stop threads before freeing
  // them (the derived part is gone by the time this runs).
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts a thread created non-suspended. Creating thread, never blocks.
  void AfterConstruction();
  // Starts a suspended thread; a second call does nothing. Any thread, never blocks.
  void Start();
  // Requests termination. Any thread, never blocks.
  void Terminate();
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
  // True until started.
  bool Suspended() const { return !FStarted.load(std::memory_order_acquire); }
  bool Started() const { return FStarted.load(std::memory_order_acquire); }
  // Execute has returned.
  bool Finished() const { return FFinished.load(std::memory_order_acquire); }
  // Waits up to Ms for the thread to end (Execute and OnTerminate done).
  // Any thread; blocks up to Ms. Does not run main-thread work.
  bool WaitForEnd(uint32_t Ms);
  // Waits for the end without limit; on the main thread keeps running queued
  // main-thread work meanwhile, so a thread synchronising with it can finish.
  int WaitFor();

  void SetFreeOnTerminate(bool Value);
  bool FreeOnTerminate() const;
  std::thread::id ThreadID() const { return FThreadId; }
  std::exception_ptr FatalException() const { return FFatal; }

  // Runs on the main thread after Execute (for every thread that started, and
  // for a never-started thread when its owner calls DoTerminate).
  std::function<void(TThread*)> OnTerminate;

  // Names the calling thread for debuggers and tools; Linux keeps 15 bytes.
  static void NameThreadForDebugging(const std::string& Name);
  // Raises the calling thread's scheduling priority by Steps nice steps
  // (best effort: without the right nothing changes); false then.
  static bool RaisePriority(int Steps = 5);

  // Fires OnTerminate on the main thread (synchronised).
  virtual void DoTerminate();

protected:
  virtual void Execute() = 0;
  // Called when Terminate sets the flag.
  virtual void TerminatedSet() {}
  int ReturnValue = 0;

private:
  void ThreadProc();
  // Joins the ended thread once; never from the thread itself.
  void JoinEnded();
  std::mutex FJoinLock;  // guards FThread joining
  std::thread FThread;
  std::thread::id FThreadId;
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FCreateSuspended;
  mutable std::mutex FEndLock;  // guards FEnded, FFreeOnTerminate
  std::condition_variable FEndCond;
  bool FEnded = false;
  bool FFreeOnTerminate = false;
  std::exception_ptr FFatal;
};

// A list guarded by its own lock; LockList hands out the list with the lock held.
template <typename T>
class TThreadList {
public:
  class TLocked {
  public:
    explicit TLocked(TThreadList& Owner) : FGuard(Owner.FLock), FList(Owner.FItems) {}
    std::list<T>& operator*() { return FList; }
    std::list<T>* operator->() { return &FList; }

  private:
    std::unique_lock<std::mutex> FGuard;
    std::list<T>& FList;
  };
  // Any thread; blocks while another holds the list.
  TLocked LockList() { return TLocked(*this); }
  void Add(T Item) {
    std::lock_guard<std::mutex> g(FLock);
    FItems.push_back(std::move(Item));
  }
  void Remove(const T& Item) {
    std::lock_guard<std::mutex> g(FLock);
    FItems.remove(Item);
  }
  size_t Count() {
    std::lock_guard<std::mutex> g(FLock);
    return FItems.size();
  }
  void Clear() {
    std::lock_guard<std::mutex> g(FLock);
    FItems.clear();
  }

private:
  std::mutex FLock;  // guards FItems
  std::list<T> FItems;
};

}  // namespace kz
