#include "streaming/fmxMKzReceiverThread.h"

namespace kz {

TKzReceiverCustomThread::TKzReceiverCustomThread(bool CreateSuspended, std::string ThreadName)
    : TKzBaseThread(CreateSuspended, std::move(ThreadName)) {}

TKzReceiverCustomThread::~TKzReceiverCustomThread() {
  FAlive->store(false, std::memory_order_release);
  std::lock_guard<TCriticalSection> g(FSocketListCS);
  while (FSocketList.Count()) FSocketList.DeleteIndex(FSocketList.Count() - 1);
  PlatformCloseSocket(hReceiver);
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
