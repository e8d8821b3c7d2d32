// The worker-thread base class with its four-state life cycle, the
// stop-and-wait procedures, the main-thread-safe critical section and the
// buffering worker thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/fmxMKzPlatformStream.h"
#include "platform/fmxMKzPlatformThread.h"

namespace kz {

enum class TKzThreadState : uint8_t { kztsNotInit = 0, kztsBeforeRun = 1, kztsRun = 2, kztsFinish = 3 };

// A critical section that the main thread enters without ever blocking it
// for long: workers may hold it while they wait for the main thread.
class TKzCriticalSection : public TCriticalSection {
public:
  // Worker: a blocking enter. Main thread: TryEnter_ in a loop with
  // KzMWait(50) between tries, so queued main-thread work keeps running.
  void SafeEnter();
  // Non-blocking enter. Any thread.
  bool TryEnter_() { return TryEnter(); }
};

// Holds a TKzCriticalSection through SafeEnter for a scope.
class TKzSafeLock {
public:
  explicit TKzSafeLock(TKzCriticalSection& Section) : FSection(Section) { FSection.SafeEnter(); }
  ~TKzSafeLock() { FSection.Leave(); }
  TKzSafeLock(const TKzSafeLock&) = delete;
  TKzSafeLock& operator=(const TKzSafeLock&) = delete;

private:
  TKzCriticalSection& FSection;
};

// Base of every worker thread of the library. Subclasses implement
// DoExecute; Execute wraps it with the state changes and the thread name.
class TKzBaseThread : public TThread {
public:
  // Creating thread, never blocks. ThreadName is the class name shown to
  // debuggers (cut to 15 bytes on Linux).
  TKzBaseThread(bool CreateSuspended, std::string ThreadName);
  ~TKzBaseThread() override;

  TKzThreadState IsState() const { return FState.load(std::memory_order_acquire); }
  void SetState(TKzThreadState Value) { FState.store(Value, std::memory_order_release); }
  bool IsFinished() const { return IsState() == TKzThreadState::kztsFinish; }
  const std::string& ThreadName() const { return FThreadName; }
  // The wake-up event of subclasses that sleep on one; null otherwise.
  TEvent* Event() const { return FEvent.get(); }

  // Requests termination. Any thread, never blocks.
  virtual void Abort();
  // Interrupts blocking work (closes sockets, files). Any thread, never blocks.
  virtual void StopThread() {}
  // Starts a never-started thread, requests termination and wakes it, so the
  // body runs once to its end. Any thread, never blocks.
  void StartAndFinish();
  virtual void ExecuteFinished() {}
  // Waits for the end without aborting; see the life-cycle notes in the
  // implementation. Owner's thread; blocks about one second at most.
  bool OnlyWaitFinish(uint32_t Interval);
  // Names the calling thread after the class. The owning worker.
  void SetName();
  // Sleeps Ms milliseconds unless termination is requested first; returns
  // false when it was. The owning worker.
  bool SleepUnlessTerminated(uint32_t Ms);

protected:
  // Creates the owned wake-up event (subclasses that sleep on one).
  void CreateEvent(bool ManualReset, bool InitialState);
  void Execute() final;
  virtual void DoExecute() = 0;
  void TerminatedSet() override;

private:
  std::atomic<TKzThreadState> FState{TKzThreadState::kztsNotInit};
  std::string FThreadName;
  std::unique_ptr<TEvent> FEvent;
  TEvent FTerminatedEvent{true, false};  // set with the terminate flag; ends SleepUnlessTerminated
};

// Starts a suspended thread; a TKzBaseThread moves to kztsBeforeRun first.
// Any thread, never blocks.
void StartThread(TThread* Thread);

// Clears an owner's thread reference so that waiters see it change. Any thread.
template <typename T>
void KzClearThreadRef(T*& Ref) {
  std::atomic_ref<T*>(Ref).store(nullptr, std::memory_order_release);
}
template <typename T>
T* KzLoadThreadRef(T*& Ref) {
  return std::atomic_ref<T*>(Ref).load(std::memory_order_acquire);
}

// Waits for the thread in Ref to finish (aborting it first when DoAbort);
// returns when it finished or Ref no longer refers to it. Owner's thread
// (main thread included: queued main-thread work keeps running); blocks.
void WaitFinishThread(TKzBaseThread* Thread, const std::function<TKzBaseThread*()>& LoadRef, uint32_t Interval,
                      bool DoAbort);

template <typename T>
void WaitFinish(T*& Ref, uint32_t Interval, bool DoAbort) {
  T* t = KzLoadThreadRef(Ref);
  if (!t) return;
  WaitFinishThread(t, [&Ref] { return static_cast<TKzBaseThread*>(KzLoadThreadRef(Ref)); }, Interval,
                   DoAbort);
}

// Stops and frees an owned thread, then clears the reference. Owner's thread; blocks.
template <typename T>
void KzMFreeThread(T*& Ref) {
  T* t = KzLoadThreadRef(Ref);
  if (!t) return;
  WaitFinish(Ref, 1000, true);
  t->WaitFor();  // the end notification may still be on its way
  delete t;
  KzClearThreadRef(Ref);
}

// Stops a self-freeing thread and waits until its termination handler has
// cleared Ref. Owner's thread; blocks until the reference is cleared.
void TerminateAndWaitForFreeingThread(TKzBaseThread* Thread, const std::function<bool()>& RefCleared,
                                      uint32_t Interval);
template <typename T>
void KzMTerminateThreadAndWaitForFreeing(T*& Ref, uint32_t Interval) {
  T* t = KzLoadThreadRef(Ref);
  if (!t) return;
  TerminateAndWaitForFreeingThread(t, [&Ref, t] { return KzLoadThreadRef(Ref) != t; }, Interval);
}

// On the main thread: runs queued main-thread work, then waits up to Ms but
// returns early when new work arrives (and runs it). Elsewhere: sleeps Ms.
void KzMWait(uint32_t Ms);

// A worker that collects bytes from producers and hands them in batches to
// OnGetData on its own thread.
class TKzDataThread : public TKzBaseThread {
public:
  static constexpr int64_t MaxPendingBytes = 524288;
  using TKzGetDataEvent = std::function<void(TKzDataThread* Sender, TMemoryStream& Stream, int64_t Size)>;

  TKzDataThread(bool CreateSuspended, std::string ThreadName = "TKzDataThread");
  ~TKzDataThread() override;

  // Appends Count bytes of Stream from its position (0: all of it, from the
  // start) and wakes the thread. Any thread, never blocks for long.
  void CopyFrom(TStream& Stream, int64_t Count);
  void CopyFromBuffer(const void* Buffer, int64_t Count);
  // Throttle for producers: blocks while more than MaxPendingBytes wait (or
  // until termination); returns false. Any producer thread.
  bool IsCheckData();
  int64_t GetDataSize();
  // Drops pending and undelivered bytes. Any thread (main: SafeEnter).
  void Clear();
  void Abort() override;
  void Run() { StartThread(this); }
  int64_t PendingBytes();

  TKzGetDataEvent OnGetData;

protected:
  void DoExecute() override;

private:
  TCriticalSection FSection;  // guards FTmp
  TMemoryStream FTmp;
  TKzCriticalSection FAccessSection;  // guards FData and the delivery
  TMemoryStream FData;
};

}  // namespace kz
