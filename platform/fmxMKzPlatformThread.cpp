#include "platform/fmxMKzPlatformThread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

// ---- TEvent

TEvent::TEvent(bool ManualReset, bool InitialState) : FManualReset(ManualReset), FSignaled(InitialState) {}

void TEvent::SetEvent() {
  // Waking happens under the lock: a waiter may free the event as soon as
  // its wait returns. Setting a set event wakes nobody new.
  std::lock_guard<std::mutex> g(FLock);
  if (FSignaled) return;
  FSignaled = true;
  if (FManualReset)
    FCond.notify_all();
  else
    FCond.notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> g(FLock);
  FSignaled = false;
}

bool TEvent::IsSet() {
  std::lock_guard<std::mutex> g(FLock);
  return FSignaled;
}

TWaitResult TEvent::WaitFor(uint32_t Timeout) {
  std::unique_lock<std::mutex> lk(FLock);
  auto ready = [&] { return FSignaled; };
  if (Timeout == INFINITE)
    FCond.wait(lk, ready);
  else if (!FCond.wait_for(lk, std::chrono::milliseconds(Timeout), ready))
    return TWaitResult::wrTimeout;
  if (!FManualReset) FSignaled = false;
  return TWaitResult::wrSignaled;
}

// ---- TThread

TThread::TThread(bool CreateSuspended) : FCreateSuspended(CreateSuspended) {}

TThread::~TThread() {
  if (FThread.joinable()) {
    if (std::this_thread::get_id() == FThread.get_id()) {
      FThread.detach();  // a free-on-terminate thread deleting itself
    } else {
      Terminate();
      WaitFor();
    }
  }
}

void TThread::JoinEnded() {
  std::lock_guard<std::mutex> g(FJoinLock);
  if (FThread.joinable() && std::this_thread::get_id() != FThread.get_id()) FThread.join();
}

void TThread::AfterConstruction() {
  if (!FCreateSuspended) Start();
}

void TThread::Start() {
  bool expected = false;
  if (!FStarted.compare_exchange_strong(expected, true)) return;
  FThread = std::thread([this] { ThreadProc(); });
}

void TThread::Terminate() {
  FTerminated.store(true, std::memory_order_release);
  TerminatedSet();
}

void TThread::SetFreeOnTerminate(bool Value) {
  std::lock_guard<std::mutex> g(FEndLock);
  FFreeOnTerminate = Value;
}

bool TThread::FreeOnTerminate() const {
  std::lock_guard<std::mutex> g(FEndLock);
  return FFreeOnTerminate;
}

void TThread::NameThreadForDebugging(const std::string& Name) {
  pthread_setname_np(pthread_self(), Name.substr(0, 15).c_str());
}

bool TThread::RaisePriority(int Steps) {
  // A lower nice value for this thread alone; unprivileged processes may
  // only go as far as their limit allows, which is usually not at all.
  const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  const int now = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), now - Steps) == 0;
}

void TThread::DoTerminate() {
  if (!OnTerminate) return;
  Synchronize([this] { OnTerminate(this); });
}

void TThread::ThreadProc() {
  FThreadId = std::this_thread::get_id();
  try {
    Execute();
  } catch (...) {
    FFatal = std::current_exception();
  }
  FFinished.store(true, std::memory_order_release);
  try {
    DoTerminate();
  } catch (...) {
    if (!FFatal) FFatal = std::current_exception();
  }
  bool freeSelf;
  {
    std::lock_guard<std::mutex> g(FEndLock);
    FEnded = true;
    freeSelf = FFreeOnTerminate;
    FEndCond.notify_all();
  }
  if (freeSelf) delete this;
}

bool TThread::WaitForEnd(uint32_t Ms) {
  if (!Started()) return false;
  std::unique_lock<std::mutex> lk(FEndLock);
  if (Ms == INFINITE) {
    FEndCond.wait(lk, [&] { return FEnded; });
  } else if (!FEndCond.wait_for(lk, std::chrono::milliseconds(Ms), [&] { return FEnded; })) {
    return false;
  }
  // A thread that frees itself is never waited for this way; joining here
  // lets the waiter know the thread is fully gone.
  if (!FFreeOnTerminate) {
    lk.unlock();
    JoinEnded();
  }
  return true;
}

int TThread::WaitFor() {
  if (!Started()) return ReturnValue;
  if (IsMainThread()) {
    while (!WaitForEnd(2)) CheckSynchronize();
  } else {
    WaitForEnd(INFINITE);
  }
  return ReturnValue;
}

}  // namespace kz
