// One pulled connection on the sender's side: the receiver's 25-byte
// channel requests are read and answered, each with everything queued for
// the requested data type since the last answer (one batch), or "hmSN".
//
// A connection is no thread of its own: the listener's one poll loop
// reads, answers and writes for all of them (an empty poll costs a read
// and a 16-byte write there, nothing more), each answer going out at most
// 256 KiB per connection and turn, so that a long one holds up no other. Payloads reach the queue as
// packets built once for every connection (TKzPulledPacket); a connection
// only adds its session packs, header packs and its own IndexPart.
//
// It ends when a request does not come within the data type's time-out,
// the peer goes, a send fails or stalls that long, or its socket item is
// dropped by the listener's list.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformPollSet.h"
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

// The packet spec of a pulled payload of DataType: the type's compression
// and destination GUIDs. Any thread.
TKzPacketSpec KzPullPacketSpec(const TKzPullSettings& Settings, uint16_t DataType, const TKzInfo& Info);

// What one pulled connection's video went through so far.
struct TKzPullStats {
  uint64_t Offered = 0;   // frames offered while the connection asked for video
  uint64_t Sent = 0;      // frames put into answers
  uint64_t Dropped = 0;   // frames that made room for newer ones in the queue
  uint64_t Answers = 0, EmptyAnswers = 0;
  uint64_t ShortWrites = 0;  // the socket took less than was offered
};

class TKzCamSenderServer : public IKzSocketItemOwner {
public:
  // Takes over ClientSocket (non-blocking from now on). Listener thread.
  TKzCamSenderServer(const TKzPullSettings& Settings, TKzSocket ClientSocket, TKzConnSerial Serial,
                     TKzPollSet* Poll);
  ~TKzCamSenderServer() override;

  // Queues a payload when the connection's current data type is DataType
  // (Served tells); the queue's verdict. Any thread; takes CriticalSection briefly.
  TKzPullOffer Offer(uint16_t DataType, const TKzPulledPacket& Packet, const TKzInfo& Info, bool& Served);
  uint16_t DataType();
  TKzConnSerial Serial() const { return FSerial; }
  TKzSocket Socket() const { return ClientSocket; }
  // The list dropped this connection's item: end it. Any thread, never blocks.
  void SocketItemReleased() override;

  // The listener thread, never blocks: the socket is readable / writable.
  // False once the connection has ended (Finish has run).
  bool OnReadable(uint64_t NowMs);
  bool OnWritable(uint64_t NowMs);
  // Ends a connection whose request is overdue or whose item was released;
  // false once it has ended.
  bool CheckAlive(uint64_t NowMs);
  bool Ended() const { return FEnded; }
  // Any thread.
  TKzPullStats Stats();
  // The clock of NowMs arguments (steady, milliseconds).
  static uint64_t NowMs();

  TKzSessionKey SessionKey = 0;  // the key the requester sent last
  bool IsStartServer = true;     // no request read yet

private:
  struct TOutPiece {
    std::shared_ptr<const std::vector<uint8_t>> Hold;
    const uint8_t* Data;
    size_t Size;
  };
  // Answers the requests in FRequest; false when the connection must end.
  bool ParseRequests();
  bool ParserCmd(const std::string& Cmd);
  // Queues the answer for ADataType (0: "hmSN") and starts writing it.
  bool SendData(uint16_t ADataType);
  bool Flush();
  void Finish(bool Error);
  void ConnectEvent(uint16_t ADataType);
  void SentFileEvent(const TKzFileInfo& FileInfo);
  TKzSessionKey SenderKey() const;

  const TKzPullSettings& FSettings;
  const TKzConnSerial FSerial;
  TKzPollSet* FPoll;
  TKzSocket ClientSocket;
  std::atomic<bool> FReleased{false};
  bool FEnded = false;
  TCriticalSection CriticalSection;  // guards FDataType, FQueue
  uint16_t FDataType = 0;
  TKzPullQueue FQueue;
  std::vector<uint8_t> FRequest;  // request bytes read and not yet answered
  std::deque<TOutPiece> FOut;     // answer bytes not yet written
  bool FWantWrite = false;
  std::vector<TKzFileInfo> FFilesInFlight;  // told as sent once their answer is out
  uint64_t FLastProgressMs = 0;  // last request read or answer byte written
  TKzPacketWriter FWriter;       // files are cut per connection
  uint16_t FIndexPart = 0;
  TKzPullStats FStats;  // guarded by CriticalSection
};

}  // namespace kz
