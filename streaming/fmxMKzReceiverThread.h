// The owner of a receiving side's connections: the list of reassembly
// states (one per connection, or per connection and source GUID) and the
// operations its listener and connection threads call. The receiver
// component and the relay server derive from it and read packets in DoRead.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/fmxMKzTypesThreads.h"
#include "streaming/Fmxmkzcmd.h"
#include "streaming/fmxMKzDatagramOrder.h"
#include "streaming/fmxMKzSocketList.h"

namespace kz {

// Bit 0 of a connection's ClientError: the destination's buffer is full.
constexpr uint32_t KZ_CLIENT_ERROR_LIMIT_BUFFER = 1;

class TKzReceiverCustomThread : public TKzBaseThread {
public:
  explicit TKzReceiverCustomThread(bool CreateSuspended, std::string ThreadName = "TKzReceiverCustomThread");
  ~TKzReceiverCustomThread() override;

  // A chunk read from a connection (its serial and socket): true when it
  // is consumed (the base consumes everything), false to be called again.
  // DataType is the connection's data-type word, ClientError its flags,
  // both kept between calls. Connection and listener threads; may block briefly.
  virtual bool DoRead(TMemoryStream& Stream, TKzConnSerial Conn, TKzSocket Socket, uint16_t& DataType,
                      uint32_t& ClientError, TKzProtocol Protocol, TKzHeaderPack& HeaderPack);
  // Drops the connection's items (nothing once terminating). Any thread; takes the list lock.
  virtual void DeleteSocket(TKzConnSerial Conn);
  // A packet came in while IsPacketProcessing is set. Main thread.
  virtual void DoPacketProcessing() {}
  virtual TGUID GetGUIDMy() { return TGUID{}; }
  // Sends a command to a GUID (the relay server does). Connection threads.
  virtual bool SendCommandToGUID(const TKzCmd& Cmd, const TGUID& GUIDFrom, const TGUID& GUIDTo,
                                 const TGUID& GUIDGroup);

  // The list with its lock held until UnlockSocketList. Any thread; blocks on the lock.
  TKzSocketList& LockSocketList();
  void UnlockSocketList();
  // Drops one source's item of a connection (nothing once terminating). Any thread.
  void DeleteSocketGUID(TKzConnSerial Conn, const TGUID& GUID);
  // Whether the thread or its owner is stopping. Any thread.
  bool IsExit() const { return Terminated(); }
  // Hands Proc (DoPacketProcessing, a count change) to the main thread; it
  // is skipped if this receiver is gone by the time it runs there (the
  // receiver is freed on the main thread). Any thread, never blocks.
  void PostToMain(std::function<void()> Proc);

  TKzProtocol FProtocol = TKzProtocol::kzpTCP;
  int64_t OldIndex = 0;
  uint16_t wPort = 0;
  TKzSocket hReceiver = KZ_INVALID_SOCKET;  // the listening socket; this thread owns it
  TCriticalSection CriticalSectionPacket;   // guards PacketCount
  int32_t PacketCount = 0;
  const void* Parent = nullptr;  // the component notifications go to
  // Told the number of connections (on the main thread).
  std::function<void(int32_t Count)> ConnectionCountChange;
  std::atomic<bool> IsPacketProcessing{false};

protected:
  // The base only waits to be stopped.
  void DoExecute() override;

  TKzSocketList FSocketList;
  TKzDatagramSequence FDatagramOrder;  // of the datagrams DoRead reads; guarded by FSocketListCS
  TCriticalSection FSocketListCS;  // guards FSocketList

private:
  std::shared_ptr<std::atomic<bool>> FAlive = std::make_shared<std::atomic<bool>>(true);  // cleared when it goes
};

}  // namespace kz
