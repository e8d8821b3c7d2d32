// The sender's side of the pull topology: listens for receivers and serves
// every connection (TKzCamSenderServer) from one poll loop, and offers
// every payload the sender produces to the connections that asked for its
// data type, cut into packets once for all of them.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

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
  // a connection refused a command or user data (its queue is full). Any
  // thread; cuts the packets outside the list lock.
  int64_t SendStream(TStream& Stream, uint16_t DataType, const TKzInfo& Info);

  // The list with its lock held until UnlockSocketList. Any thread; blocks on the lock.
  TKzSocketList& LockSocketList();
  // The same without waiting: false when the lock is taken. Any thread.
  bool TryLockSocketList(TKzSocketList*& List);
  void UnlockSocketList();
  // Connections served now. Any thread.
  int32_t ConnectionCount();
  // What each connection served now went through. Any thread.
  std::vector<TKzPullStats> Stats();

protected:
  void DoExecute() override;

private:
  void ListenServer();
  void AcceptAll();
  void ConnectingEvent(TKzConnSerial Conn);
  bool Wants(uint16_t DataType);
  void Reap(bool All);

  TKzPullSettings FSettings;
  TKzSocket hReceiver = KZ_INVALID_SOCKET;
  uint16_t FPort = 0;
  TKzPollSet FPoll;
  TKzSocketList FSocketList;
  TCriticalSection FSocketListCS;  // guards FSocketList
  std::mutex FWriterLock;          // guards FWriter
  TKzPacketWriter FWriter;
  // The connections by serial; the poll loop's alone (producers reach them through the list).
  std::map<TKzConnSerial, std::unique_ptr<TKzCamSenderServer>> FServers;
  std::vector<TKzPollSet::TEvent> FEvents;
  uint64_t FLastSweepMs = 0;
};

}  // namespace kz
