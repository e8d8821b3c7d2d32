// One push channel of a sender: a connection (stream or datagrams) to the
// receiver for one data type and media index, its bounded outgoing queue,
// and for file channels the files waiting to be sent with their offsets.
//
// The channel thread connects, then waits for payloads (up to a second on
// stream connections, sending the 8-byte "CON_NULL" keep-alive when nothing
// came) and sends every queued record as one payload. A failed send ends the
// thread; what was not sent stays queued for the next channel of that data
// type and media index (TakeOver).
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "foundation/fmxMKzTypesThreads.h"
#include "sender/fmxMKzSendQueue.h"
#include "sender/fmxMKzSenderTypes.h"
#include "streaming/fmxMKzConnectionProperties.h"

namespace kz {

// What a channel asks of its sender. Any thread, never block for long.
class IKzSendChannelOwner {
public:
  virtual ~IKzSendChannelOwner() = default;
  virtual TComponent* ChannelComponent() = 0;  // notifications go there
  virtual TKzSendParam ChannelSendParam(uint16_t DataType) = 0;
  virtual TKzSessionKey ChannelSessionKey() = 0;
  virtual bool ChannelActive() = 0;
  virtual void ChannelVideoSent() = 0;                            // one frame went out
  virtual void ChannelBytesSent(int64_t Bytes) = 0;               // packet bytes of one payload
  virtual void ChannelDump(const uint8_t* Data, size_t Size) = 0;  // sent bytes, when dumping
  virtual bool ChannelDumping() = 0;
};

struct TKzChannelSettings {
  uint16_t DataType = DATA_TYPE_VIDEO;
  uint16_t MediaIndex = 0;
  std::string ReceiverHost;
  uint16_t ReceiverPort = 0;
  TKzProtocol Protocol = TKzProtocol::kzpTCP;
  TKzProxyProperty Proxy;
  uint32_t ConnectTimeout = 3000;
  TKzMSendType SendType = TKzMSendType::kzmvstStream;
  bool UseGUID = true;
  TKzCompressionType Compression = TKzCompressionType::kztcNone;  // commands: per command
  uint32_t TimeMSecBetweenSend = 0;  // pause after each datagram
  size_t QueueBound = TKzSendQueue::DefaultBound;
  std::string RelaySecret;  // when set, each stream connection first proves AuthGUID's identity to the relay
  TGUID AuthGUID;
};

// A file waiting on a file channel, from FileOffs on.
struct TKzFileJob {
  TKzFileInfo Info;  // FileName is the path; FileOffs where sending resumes
  TGUID GUIDFrom, GUIDTo, GUIDGroup;
};

class TKzSendStreamThread : public TKzBaseThread {
public:
  // Creating thread, never blocks; Start it after queuing.
  TKzSendStreamThread(IKzSendChannelOwner* Parent, const TKzChannelSettings& Settings);
  ~TKzSendStreamThread() override;

  // Queues a payload (CopyStream): for video only the newest waits, with
  // its 8-byte DiffTime zeroed (offset 15 of a framed picture, 24 of a
  // changed-area container, whose CRC is then written anew); a TKzInfo that differs from the
  // previous payload's empties the queue first (ClearedBuffer says so).
  // Any thread; takes CSCopyStream briefly.
  TKzQueueAdd CopyStream(const TKzInfo& Info, const uint8_t* Data, size_t Size, const TGUID& GUIDFrom,
                         const TGUID& GUIDTo, const TGUID& GUIDGroup, bool& ClearedBuffer);
  // Queues a file; false when the queue of files is full. Any thread.
  bool AddFile(const TKzFileJob& Job);
  // Takes what an ended channel left unsent. Any thread, before Start.
  void TakeOver(TKzSendStreamThread& Ended);
  // Nothing is queued or being sent. Any thread.
  bool IsIdle();
  bool IsSendingFile();
  // The connection failed or a send failed. Any thread.
  bool Failed() const { return FFailed.load(std::memory_order_acquire); }
  // Tick count at which the thread ended (0 while it runs). Any thread.
  uint64_t EndTick() const { return FEndTick.load(std::memory_order_acquire); }
  size_t QueuedBytes();
  const TKzChannelSettings& Settings() const { return FSettings; }

protected:
  void DoExecute() override;
  void TerminatedSet() override;

private:
  void Run();
  bool ConnectTo();
  void Disconnect();
  bool SendKeepAlive();
  bool SendRecords(std::vector<uint8_t>& Work);
  bool SendFilePart();
  int64_t SendPayload(const TKzPacketSpec& Spec, const uint8_t* Data, size_t Size, const TKzFileJob* File);
  TKzCompressionType CompressionOf(const uint8_t* Data, size_t Size) const;

  IKzSendChannelOwner* Parent;
  const TKzChannelSettings FSettings;
  TEvent FWake{false, false};
  TCriticalSection CSCopyStream;  // guards Stream, FFiles, Info, FBusy
  TKzSendQueue Stream;
  std::deque<TKzFileJob> FFiles;
  TKzInfo Info;
  bool FHaveInfo = false;
  bool FBusy = false;  // records taken out are being sent
  TCriticalSection CSSend;  // guards FSocket against Stop
  TKzSocket FSocket = KZ_INVALID_SOCKET;
  uint32_t FAddress = 0;  // datagram destination
  size_t FAttempt = 0;    // connections tried: the relay of a list to try next
  uint16_t FIndexPart = 0;
  std::atomic<bool> FFailed{false};
  std::atomic<uint64_t> FEndTick{0};
  std::unique_ptr<TFileStream> FileStream;  // the file being sent
  TKzPacketWriter FWriter;
};

}  // namespace kz
