// One pulled connection on the sender's side: reads the receiver's 25-byte
// channel requests and answers each with everything queued for the
// requested data type since the last answer (one batch), or "hmSN".
//
// The thread owns its socket and closes it at its end; it ends when a
// request does not come within the data type's time-out, the peer goes,
// a send fails, or its socket item is dropped by the listener.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "foundation/fmxMKzTypesThreads.h"
#include "streaming/Fmxmkzsenderthread.h"
#include "streaming/fmxMKzConnectionProperties.h"
#include "streaming/fmxMKzPullQueue.h"
#include "streaming/fmxMKzSocketList.h"

namespace kz {

// What the sender hands its pull listener and every pulled connection.
struct TKzPullSettings {
  const void* Parent = nullptr;  // the sender component: notifications go there
  bool UseGUID = true;
  TGUID FGUIDFrom, FGUIDTo, FGUIDGroup;  // video and audio go to FGUIDTo / FGUIDGroup
  TGUID UserDataGUIDTo, UserDataGUIDGroup, CmdGUIDTo, CmdGUIDGroup, FileGUIDTo, FileGUIDGroup;
  TKzCompressionOptions CompressionOptions;
  uint32_t BufferSize = 65536;  // packet size limit
  TKzConnectionProperties ConnectionProperties;
  std::function<TKzSessionKey()> GetSessionKey;  // the sender's current key; null: 0
  std::function<void()> OnVideoFrame;           // a frame was queued (the sender's frame rate)
  size_t VideoQueueBytes = TKzPullQueue::DefaultVideoBytes;
  size_t QueueBytes = TKzPullQueue::DefaultOtherBytes;
};

class TKzSenderListenerThread;

class TKzCamSenderServer : public TKzBaseThread, public IKzSocketItemOwner {
public:
  // Takes over ClientSocket. Listener thread, never blocks.
  TKzCamSenderServer(TKzSenderListenerThread* Sender, const TKzPullSettings& Settings, TKzSocket ClientSocket,
                     TKzConnSerial Serial);
  ~TKzCamSenderServer() override;

  // Queues a payload when the connection's current data type is DataType
  // (Served tells); the queue's verdict. Any thread; takes CriticalSection briefly.
  TKzPullOffer Offer(uint16_t DataType, const uint8_t* Data, size_t Size, const TKzInfo& Info, bool& Served);
  uint16_t DataType();
  TKzConnSerial Serial() const { return FSerial; }
  // The list dropped this connection's item: end it. Any thread, never blocks.
  void SocketItemReleased() override;

  // The owning worker.
  int64_t ReadDataFromChannel();
  // One request: its bytes (25); 0 when none came in time or the peer
  // went; -1 on a failed connection; -2 for fewer than 25 bytes; -3 when
  // the thread must end.
  int64_t ReadSysData(bool Blocking, TKzSessionKey& RequesterKey, std::string& Cmd, TGUID& GUID, uint32_t Timeout);
  // Answers one request; false when an answer could not be sent.
  bool ParserCmd(const std::string& Cmd, uint16_t& ADataType);
  // Sends everything queued for DataType (0: nothing) as one answer: bytes
  // sent, or -1.
  int64_t SendData(uint16_t ADataType);
  bool IsExit() const { return Terminated(); }

  TKzSessionKey SessionKey = 0;  // the key the requester sent last
  bool IsStartServer = false;    // no request read yet

protected:
  void DoExecute() override;

private:
  TKzPacketSpec GetInfo(uint16_t ADataType, const TKzInfo& Info) const;
  void ConnectEvent(uint16_t ADataType);
  void ConnectError(uint16_t ADataType);
  void DisconnectEvent();
  void SentFileEvent(const TKzFileInfo& FileInfo);
  TKzSessionKey SenderKey() const;
  void CloseSocket();

  TKzSenderListenerThread* FSender;
  TKzPullSettings FSettings;
  const TKzConnSerial FSerial;
  std::mutex FSocketLock;  // guards ClientSocket: the release's shutdown against the close
  TKzSocket ClientSocket;
  TCriticalSection CriticalSection;  // guards FDataType, FQueue
  uint16_t FDataType = 0;
  TKzPullQueue FQueue;
  TMemoryStream FRequest, FPending;  // request bytes; bytes read past a request
  TKzPacketWriter FWriter;
  uint16_t FIndexPart = 0;
};

}  // namespace kz
