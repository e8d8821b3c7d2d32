#include "streaming/fmxMKzReceiverThread.h"

#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

TKzReceiverCustomThread::TKzReceiverCustomThread(bool CreateSuspended, std::string ThreadName)
    : TKzBaseThread(CreateSuspended, std::move(ThreadName)) {}

TKzReceiverCustomThread::~TKzReceiverCustomThread() {
  FAlive->store(false, std::memory_order_release);
  std::lock_guard<TCriticalSection> g(FSocketListCS);
  while (FSocketList.Count()) FSocketList.DeleteIndex(FSocketList.Count() - 1);
  PlatformCloseSocket(hReceiver);
}

void TKzReceiverCustomThread::PostToMain(std::function<void()> Proc) {
  std::shared_ptr<std::atomic<bool>> alive = FAlive;
  QueueOnMainThread([alive, Proc = std::move(Proc)] {
    if (alive->load(std::memory_order_acquire)) Proc();
  });
}

bool TKzReceiverCustomThread::DoRead(TMemoryStream& Stream, TKzConnSerial, TKzSocket, uint16_t&, uint32_t&,
                                     TKzProtocol, TKzHeaderPack&) {
  Stream.Seek(0, TSeekOrigin::soEnd);
  return true;
}

void TKzReceiverCustomThread::DeleteSocket(TKzConnSerial Conn) {
  if (Terminated()) return;
  std::lock_guard<TCriticalSection> g(FSocketListCS);
  FSocketList.DeleteSocket(Conn);
}

void TKzReceiverCustomThread::DeleteSocketGUID(TKzConnSerial Conn, const TGUID& GUID) {
  if (Terminated()) return;
  std::lock_guard<TCriticalSection> g(FSocketListCS);
  FSocketList.DeleteSocketGUID(Conn, GUID);
}

bool TKzReceiverCustomThread::SendCommandToGUID(const TKzCmd&, const TGUID&, const TGUID&, const TGUID&) {
  return false;
}

TKzSocketList& TKzReceiverCustomThread::LockSocketList() {
  FSocketListCS.Enter();
  return FSocketList;
}

void TKzReceiverCustomThread::UnlockSocketList() { FSocketListCS.Leave(); }

void TKzReceiverCustomThread::DoExecute() {
  while (SleepUnlessTerminated(1000)) {
  }
}

}  // namespace kz
