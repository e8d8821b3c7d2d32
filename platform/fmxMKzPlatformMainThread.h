// The application's main thread: its identity, hand-over of work to it
// (synchronous and queued), and the application object with its loop.
#pragma once
#include <atomic>
#include <functional>
#include <thread>

namespace kz {

using TThreadProcedure = std::function<void()>;

// Identity of the main thread: the thread that started the process, unless
// SetMainThread moved it. Any thread, never blocks.
bool IsMainThread();
std::thread::id MainThreadID();
// Makes the calling thread the main thread (programs and tests call it first).
void SetMainThread();

// Runs Proc on the main thread and waits until it has run; runs it directly
// when called there. An exception thrown by Proc is raised again in the caller.
// Any thread; blocks until the main thread takes the work.
void Synchronize(const TThreadProcedure& Proc);
// Hands Proc to the main thread without waiting. Any thread, never blocks.
void QueueOnMainThread(TThreadProcedure Proc);

// Runs every piece of work queued for the main thread so far; returns whether
// any ran. Work queued while it runs waits for the next call.
// Main thread only (elsewhere returns false), never blocks.
bool CheckSynchronize();
// Waits up to Ms milliseconds for main-thread work to be queued (or for the
// loop to be woken); returns whether work is pending. Main thread; blocks up to Ms.
bool WaitForMainThreadWork(int Ms);
// Wakes WaitForMainThreadWork and the application loop. Any thread, never blocks.
void WakeMainThread();
// Number of procedures waiting for the main thread. Any thread.
size_t PendingMainThreadWork();

// A source of events that the main thread waits on besides its own queue: a
// desktop window system. While one is installed, every main loop
// (TApplication::Run, ProcessMessages, PumpUntil, modal forms) handles its
// events, and WaitForMainThreadWork waits inside it, so window events, queued
// work and timers are all served without polling.
class IKzMainLoopEventSource {
public:
  virtual ~IKzMainLoopEventSource() = default;
  // Handles every pending event without waiting. Main thread, never blocks.
  virtual void PumpEvents() = 0;
  // Waits up to Ms for an event or a Wake and handles what came.
  // Main thread; blocks up to Ms.
  virtual void WaitEvents(int Ms) = 0;
  // Ends a running or the next WaitEvents early. Any thread, never blocks;
  // called under the main-thread queue's lock, so it must not queue work.
  virtual void Wake() = 0;
};

// Installs (nullptr: removes) the event source; returns the previous one. The
// source must stay alive until it is removed. Main thread, never blocks.
IKzMainLoopEventSource* KzSetMainLoopEventSource(IKzMainLoopEventSource* Source);

// The application object: a terminating flag and the main loop that runs
// queued work and fires the framework timers.
class TApplication {
public:
  // Main thread. Runs until Terminate; blocks.
  void Run();
  // Runs queued work and due timers once. Main thread, never blocks.
  void ProcessMessages();
  // Any thread, never blocks; wakes Run.
  void Terminate();
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
  // Clears the flag so Run can be entered again (tests, restarted loops).
  void ResetTerminated() { FTerminated.store(false, std::memory_order_release); }

private:
  std::atomic<bool> FTerminated{false};
};

TApplication& Application();

// Pumps the main thread (queued work and timers) until Done() holds or
// TimeoutMs passes; returns Done(). Main thread. Used by programs and tests.
bool PumpUntil(const std::function<bool()>& Done, int TimeoutMs);
// Runs the main thread's loop for Ms as an application's loop runs it:
// asleep until work is queued or a timer is due. Main thread.
void PumpFor(int Ms);

}  // namespace kz
