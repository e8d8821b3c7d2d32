// The sender's side of the pull topology: listens for receivers, serves
// each connection with a TKzCamSenderServer, and offers every payload the
// sender produces to the connections that asked for its data type.
#pragma once
#include <cstdint>
#include <list>
#include <memory>

#include "streaming/fmxMKzSenderServer.h"

namespace kz {

class TKzSenderListenerThread : public TKzBaseThread {
public:
  // Creating thread, never blocks; Init, then start it.
  explicit TKzSenderListenerThread(const TKzPullSettings& Settings);
  ~TKzSenderListenerThread() override;

  // Listens on Port (0: a free one) of Address (0: any). False, with
  // nothing left open, when the port cannot be had. Creating thread.
  bool Init(uint16_t Port, uint32_t Address = 0);
  uint16_t Port() const { return FPort; }

  // Offers Stream's whole content to every connection whose current data
  // type is DataType (for files only Info, naming the file). The bytes
  // queued for the last connection that took it; 0 when none did; -1 when
  // a connection refused a command or user data (its queue is full). Any thread.
  int64_t SendStream(TStream& Stream, uint16_t DataType, const TKzInfo& Info);

  // The list with its lock held until UnlockSocketList. Any thread; blocks on the lock.
  TKzSocketList& LockSocketList();
  // The same without waiting: false when the lock is taken. Any thread.
  bool TryLockSocketList(TKzSocketList*& List);
  void UnlockSocketList();
  // Connections served now. Any thread.
  int32_t ConnectionCount();

protected:
  void DoExecute() override;

private:
  void ListenServer();
  void ConnectingEvent(TKzConnSerial Conn);
  void ReapServers(bool All);

  TKzPullSettings FSettings;
  TKzSocket hReceiver = KZ_INVALID_SOCKET;
  uint16_t FPort = 0;
  TKzSocketList FSocketList;
  TCriticalSection FSocketListCS;  // guards FSocketList
  TCriticalSection FServersCS;     // guards FServers
  std::list<std::unique_ptr<TKzCamSenderServer>> FServers;
};

}  // namespace kz
