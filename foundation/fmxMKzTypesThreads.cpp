#include "foundation/fmxMKzTypesThreads.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

// ---- TKzCriticalSection

void TKzCriticalSection::SafeEnter() {
  if (!IsMainThread()) {
    Enter();
    return;
  }
  while (!TryEnter_()) KzMWait(50);
}

// ---- KzMWait

void KzMWait(uint32_t Ms) {
  if (IsMainThread()) {
    CheckSynchronize();
    if (WaitForMainThreadWork(static_cast<int>(std::min<uint32_t>(Ms, 1u << 30)))) CheckSynchronize();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
}

// ---- TKzBaseThread

TKzBaseThread::TKzBaseThread(bool CreateSuspended, std::string ThreadName)
    : TThread(CreateSuspended), FThreadName(std::move(ThreadName)) {}

TKzBaseThread::~TKzBaseThread() = default;

void TKzBaseThread::CreateEvent(bool ManualReset, bool InitialState) {
  FEvent = std::make_unique<TEvent>(ManualReset, InitialState);
}

void TKzBaseThread::Abort() { Terminate(); }

void TKzBaseThread::SetName() { NameThreadForDebugging(FThreadName); }

void TKzBaseThread::TerminatedSet() { FTerminatedEvent.SetEvent(); }

bool TKzBaseThread::SleepUnlessTerminated(uint32_t Ms) {
  if (Terminated()) return false;
  return FTerminatedEvent.WaitFor(Ms) == TWaitResult::wrTimeout && !Terminated();
}

void TKzBaseThread::Execute() {
  SetState(TKzThreadState::kztsRun);
  SetName();
  try {
    DoExecute();
  } catch (...) {
    SetState(TKzThreadState::kztsFinish);
    throw;  // kept by the platform thread as its fatal exception
  }
  SetState(TKzThreadState::kztsFinish);
}

void TKzBaseThread::StartAndFinish() {
  if (Suspended()) StartThread(this);
  Abort();
  if (FEvent) FEvent->SetEvent();
}

bool TKzBaseThread::OnlyWaitFinish(uint32_t Interval) {
  if (IsState() == TKzThreadState::kztsNotInit) {
    SetState(TKzThreadState::kztsFinish);
    DoTerminate();
    return true;
  }
  if (IsFinished()) return true;
  if (FEvent) FEvent->SetEvent();
  if (!WaitForEnd(1000)) KzMWait(Interval);
  return IsFinished();
}

void StartThread(TThread* Thread) {
  if (!Thread || !Thread->Suspended()) return;
  if (auto* base = dynamic_cast<TKzBaseThread*>(Thread)) {
    if (base->IsState() == TKzThreadState::kztsNotInit) base->SetState(TKzThreadState::kztsBeforeRun);
  }
  Thread->Start();
}

void WaitFinishThread(TKzBaseThread* Thread, const std::function<TKzBaseThread*()>& LoadRef, uint32_t Interval,
                      bool DoAbort) {
  Thread->SetFreeOnTerminate(false);
  if (Thread->IsState() == TKzThreadState::kztsNotInit) {
    Thread->SetState(TKzThreadState::kztsFinish);
    Thread->DoTerminate();
    return;
  }
  if (DoAbort) {
    Thread->StopThread();
    Thread->Abort();
  }
  while (LoadRef() == Thread && Thread->IsState() != TKzThreadState::kztsFinish) {
    if (TEvent* e = Thread->Event()) e->SetEvent();
    if (Thread->WaitForEnd(100)) break;
    KzMWait(Interval);
  }
}

void TerminateAndWaitForFreeingThread(TKzBaseThread* Thread, const std::function<bool()>& RefCleared,
                                      uint32_t Interval) {
  if (Thread->IsState() == TKzThreadState::kztsNotInit) {
    if (Thread->OnTerminate) Thread->OnTerminate(Thread);
    return;
  }
  Thread->StopThread();
  Thread->Abort();
  if (TEvent* e = Thread->Event()) e->SetEvent();
  while (!RefCleared()) KzMWait(Interval);
}

// ---- TKzDataThread

TKzDataThread::TKzDataThread(bool CreateSuspended, std::string ThreadName)
    : TKzBaseThread(CreateSuspended, std::move(ThreadName)) {
  CreateEvent(false, false);
}

TKzDataThread::~TKzDataThread() = default;

void TKzDataThread::CopyFrom(TStream& Stream, int64_t Count) {
  {
    std::lock_guard<TCriticalSection> g(FSection);
    if (!Terminated()) {
      FTmp.Seek(0, TSeekOrigin::soEnd);
      FTmp.CopyAvailableFrom(Stream, Count);
    }
  }
  Event()->SetEvent();
}

void TKzDataThread::CopyFromBuffer(const void* Buffer, int64_t Count) {
  {
    std::lock_guard<TCriticalSection> g(FSection);
    if (!Terminated() && Buffer && Count > 0) {
      FTmp.Seek(0, TSeekOrigin::soEnd);
      FTmp.Write(Buffer, Count);
    }
  }
  Event()->SetEvent();
}

int64_t TKzDataThread::PendingBytes() {
  std::lock_guard<TCriticalSection> g(FSection);
  return FTmp.Size();
}

bool TKzDataThread::IsCheckData() {
  // Producers sleep briefly between checks rather than spin; a terminated
  // thread no longer drains, so the wait ends there too.
  while (!Terminated() && PendingBytes() > MaxPendingBytes)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return false;
}

int64_t TKzDataThread::GetDataSize() {
  std::lock_guard<TCriticalSection> g(FSection);
  return FData.Position();
}

void TKzDataThread::Clear() {
  {
    std::lock_guard<TCriticalSection> g(FSection);
    FTmp.SetSize(0);
  }
  TKzSafeLock g(FAccessSection);
  FData.SetSize(0);
}

void TKzDataThread::Abort() {
  TKzBaseThread::Abort();
  Clear();
  Event()->SetEvent();
}

void TKzDataThread::DoExecute() {
  for (;;) {
    const bool woke = Event()->WaitFor(INFINITE) == TWaitResult::wrSignaled;
    if (Terminated()) break;
    {
      std::lock_guard<TCriticalSection> access(FAccessSection);
      if (woke) {
        {
          std::lock_guard<TCriticalSection> g(FSection);
          FData.SetSize(0);
          FData.Write(FTmp.Memory(), FTmp.Size());
          FTmp.SetSize(0);
          Event()->ResetEvent();
        }
        if (OnGetData && FData.Size() > 0) {
          FData.SetPosition(0);
          OnGetData(this, FData, FData.Size());
        }
        FData.SetSize(0);
      }
    }
    if (!woke || Terminated()) break;
  }
}

}  // namespace kz
