// One relay channel: what the relay holds for one user and one data kind.
// Routed packets are appended to its buffer (in memory, or in a file of the
// relay's temporary folder) as a 60-byte header pack followed by the
// packet's bytes; each request of the user's pulling connection is answered
// on the thread that read it (the relay's poll loop) with everything
// buffered (up to KZ_REDIRECT_MAX_BATCH bytes) between "hmSB" and "hmSE"
// session packs, or "hmSN" when nothing waits. The connection writes the
// answer; the channel never sends.
//
// The channel's own thread only watches: it ends the channel when no
// request came for KZ_REDIRECT_IDLE_MS or when it is stopped, and tells
// its owner on that thread. A request costs it no wake.
//
// A buffer above half its limit raises a warning notice (again only after
// it fell to a quarter, which raises the all-clear); above its limit it is
// emptied and reported. Appending never waits for a send.
#pragma once
#include <atomic>
#include <cstdint>
#include <array>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "foundation/fmxMKzTypesThreads.h"
#include "streaming/fmxMKzReceiverThread.h"
#include "streaming/fmxMKzSocketList.h"
#include "streaming/server/fmxMKzMediaServerTypes.h"

namespace kz {

constexpr uint32_t KZ_REDIRECT_IDLE_MS = 15000;
constexpr size_t KZ_REDIRECT_MAX_BATCH = 8u << 20;
constexpr uint64_t KZ_REDIRECT_FEEDER_AGE_MS = 100000;

class TKzClientRedirect;

// A packet's bytes, shared by every channel it was routed to.
using TKzSharedBytes = std::shared_ptr<const std::vector<uint8_t>>;

// Answer bytes waiting for a connection's socket, in order: Size bytes of
// Hold from At on.
struct TKzAnswerPiece {
  TKzSharedBytes Hold;
  size_t At = 0, Size = 0;
};
using TKzAnswerQueue = std::deque<TKzAnswerPiece>;

// Appends one 16-byte session pack (Marker, Key, Len) to Out.
void KzAppendSessionPack(const TKzMarker& Marker, TKzSessionKey Key, int64_t Len, TKzAnswerQueue& Out);

// What a channel asks of the relay. Channel and connection threads.
class IKzRedirectOwner {
public:
  virtual ~IKzRedirectOwner() = default;
  // A buffer notice (Limit: 1025, else 1026). Never blocks.
  virtual void RedirectNotice(const TKzBufferInfo& Info, bool Limit) = 0;
  // The channel ended; called once on its own thread. May take the relay's registry lock.
  virtual void RedirectEnded(TKzClientRedirect* Channel) = 0;
  // Books Delta bytes of memory (File: disk) buffering; false when a bound
  // would be passed (nothing is booked then).
  virtual bool RedirectBook(int64_t Delta, bool File) = 0;
};

class TKzClientRedirect : public TKzBaseThread {
public:
  // A suspended channel. File: buffered in a file under Folder named by
  // the user and the kind; when that file cannot be made it buffers in
  // memory with MemoryMaxSize as its limit instead of MaxSize (0: none).
  // Creating thread, never blocks.
  TKzClientRedirect(IKzRedirectOwner* Owner, uint8_t DataType, const TGUID& GUIDTo, TKzSessionKey ServerSessionKey,
                    uint32_t MaxSize, bool File, const std::string& Folder, uint32_t MemoryMaxSize = 0);
  ~TKzClientRedirect() override;

  enum class TAttach : uint8_t { kzraAttached, kzraOtherSocket };
  // A request of Conn on Socket for this channel: Conn becomes the
  // channel's connection unless another one holds it. Connection threads.
  TAttach Attach(TKzConnSerial Conn, TKzSocket Socket, const std::string& Cmd);
  // Conn takes the channel over from the connection holding it, which is
  // shut down. The relay's connection thread, never blocks.
  void TakeOver(TKzConnSerial Conn, TKzSocket Socket, const std::string& Cmd);
  // Answers the request that came in: the session-packed batch (or
  // "hmSN") appended to Out, for the requesting connection to write. The
  // relay's connection thread, never blocks.
  void Answer(TKzAnswerQueue& Out);
  // Conn went away: it no longer feeds the channel, and when it was the
  // one pulling the channel waits (its idle time at most) for the user's
  // next connection. Never blocks; the socket is closed only after it.
  void ConnectionGone(TKzConnSerial Conn);
  // Appends one packet with its header pack (GUIDTo set to the channel's
  // user). Returns the flags: KZ_CLIENT_ERROR_LIMIT_BUFFER while the buffer
  // is over half full; Cleared is set when the buffer was emptied.
  uint32_t AddData(const TKzHeaderPack& Pack, const uint8_t* Data, size_t Size, TKzConnSerial Feeder, bool& Cleared);
  // The same for a packet held in memory by other channels too (not copied).
  uint32_t AddData(const TKzHeaderPack& Pack, const TKzSharedBytes& Packet, TKzConnSerial Feeder, bool& Cleared);
  // Empties the buffer (the user asked). Any thread.
  void ClearBuffer();
  // Stops the channel without waiting. Any thread.
  void Stop();

  uint8_t DataType() const { return FDataType; }
  const TGUID& GUIDTo() const { return FGUIDTo; }
  bool FileBuffered() const { return FFile >= 0 || FFileWanted; }
  const std::string& FileName() const { return FFileName; }
  // Bytes buffered now, batches sent and the holder's serial. Any thread.
  size_t BufferSize();
  uint64_t Batches() const { return FBatches.load(); }
  uint64_t PacketsIn() const { return FPacketsIn.load(); }
  uint64_t Clears() const { return FClears.load(); }
  // Bytes appended so far, and bytes sent (or emptied out) so far: what was
  // appended when BytesIn() read N has left the relay once BytesDone() >= N.
  uint64_t BytesIn() const { return FBytesIn.load(); }
  uint64_t BytesDone() const { return FBytesDone.load(); }
  TKzConnSerial ClientConn();
  // Whether the channel ended by itself (idle) rather than being stopped.
  bool EndedByPeer() const { return FEndedByPeer.load(); }
  // Neither stopped nor ended: still in its user's record. Any thread.
  bool Live() const { return !Terminated() && !FEndedByPeer.load(); }
  std::string Cmd;  // the request that opened it; guarded by CriticalSectionEvent

protected:
  void DoExecute() override;
  void TerminatedSet() override;

private:
  // Appends up to KZ_REDIRECT_MAX_BATCH bytes of whole records to Out
  // (their length added to Len). Holds CriticalSectionBuffer.
  void TakeBatch(TKzAnswerQueue& Out, int64_t& Len);
  void TakeFileBatch(TKzAnswerQueue& Out, int64_t& Len);
  uint32_t Append(const TKzHeaderPack& Pack, const uint8_t* Data, size_t Size, const TKzSharedBytes* Shared,
                  TKzConnSerial Feeder, bool& Cleared);
  void EmptyLocked();
  void SweepFeeders(uint64_t Now);

  IKzRedirectOwner* FOwner;
  const uint8_t FDataType;
  const TGUID FGUIDTo;
  const TKzSessionKey ServerSessionKey;
  uint32_t FMaxSize;  // set in the constructor
  bool FFileWanted;
  TCriticalSection CriticalSectionBuffer;  // guards the buffer and ClientError
  struct TRecord {
    std::array<uint8_t, TKzHeaderPack::WireSize> Head;
    TKzSharedBytes Packet;
  };
  std::deque<TRecord> FRecords;  // memory buffer, FMemBytes bytes with the header packs
  size_t FMemBytes = 0;
  int FFile = -1;                          // file buffer, FFileSize bytes from FFileRead on
  std::string FFileName;
  int64_t FFileSize = 0, FFileRead = 0;
  uint32_t ClientError = 0;  // bit 0: the over-half warning is active
  TCriticalSection CriticalSectionEvent;  // guards the holder, Cmd and the feeders
  TKzConnSerial FClientConn = 0;
  TKzSocket ClientSocket = KZ_INVALID_SOCKET;
  std::vector<std::pair<TKzConnSerial, uint64_t>> Sockets;  // feeders and their last tick
  TEvent FWake{false, false};
  std::atomic<uint64_t> FLastRequestMs;  // tick of the last request answered
  std::atomic<uint64_t> FBatches{0}, FPacketsIn{0}, FClears{0};
  std::atomic<uint64_t> FBytesIn{0}, FBytesDone{0};
  std::atomic<bool> FEndedByPeer{false};
};

}  // namespace kz
