// Pulled channels: a receiver sends 25-byte channel requests, the sender
// answers each with
//   "hmSN" session pack (key, DataLen 0)            nothing to send, or a clear request
//   "hmSB" pack, "hmHT" header pack, packet, "hmSE"  one queued payload
// where both session packs state DataLen = 60 + the packet's bytes as sent
// and the header pack's LenPack the packet's bytes.
//
// The batch reader is the receiving side, a pure function of the bytes:
// fed any split of the answers it yields the same batches in order.
//
// Any thread; a reader belongs to one thread at a time. Only
// KzAnswerChannelRequest blocks (on its socket, within its limits).
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/fmxMKzPlatformSockets.h"
#include "platform/fmxMKzPlatformThread.h"
#include "streaming/fmxMKzPacketWriter.h"

namespace kz {

// A payload a sender holds for a pulled channel.
struct TKzQueuedPayload {
  TKzPacketSpec Spec;  // sent over the stream connection whatever Spec.Protocol says
  const uint8_t* Data = nullptr;
  size_t Size = 0;
};

// Appends one answer carrying Count payloads to Out: "hmSB", then per
// payload a header pack and its packet, then "hmSE", both session packs
// stating the bytes between them; "hmSN" when Count is 0.
void KzBuildChannelBatch(TKzSessionKey SessionKey, const TKzQueuedPayload* Items, size_t Count,
                         TKzPacketWriter& Writer, uint16_t& IndexPart, std::vector<uint8_t>& Out);
// Appends the answer to Request to Out. Queued is what the sender holds
// for the requested data type (null when nothing, or when the channel does
// not send that type); a clear request, an unknown request or a payload of
// another type is answered "hmSN".
void KzBuildChannelAnswer(const TKzChannelRequest& Request, TKzSessionKey SessionKey, const TKzQueuedPayload* Queued,
                          TKzPacketWriter& Writer, uint16_t& IndexPart, std::vector<uint8_t>& Out);
// Builds the answer and sends it; the bytes sent, or -1 when a send failed.
int64_t KzAnswerChannelRequest(TKzSocket Socket, const TKzChannelRequest& Request, TKzSessionKey SessionKey,
                               const TKzQueuedPayload* Queued, TKzPacketWriter& Writer, uint16_t& IndexPart,
                               TThread* Thread = nullptr);

// One packet of a batch with the header pack that announced it.
struct TKzBatchChunk {
  TKzHeaderPack HeaderPack;
  TKzProtocol Protocol = TKzProtocol::kzpTCP;  // by the header pack's marker
  std::vector<uint8_t> Packet;
};

// One answer: "hmSN" (Begin only, no chunks), or a batch between "hmSB"
// and "hmSE". Valid is false when the two packs disagree in key or
// length, the batch is empty or it grew past the limit without an end.
struct TKzBatch {
  TKzSessionPack Begin, End;
  bool Valid = true;
  std::vector<TKzBatchChunk> Chunks;
};

// Splits the bytes between two session packs into chunks: each header pack
// starts one, which ends where its LenPack says when that is the end or
// another header pack, else at the next header-pack marker (a payload may
// hold those bytes). A chunk of exactly "CON_NULL" is dropped.
std::vector<TKzBatchChunk> KzSplitBatch(const uint8_t* Data, size_t Size);

class TKzBatchReader {
public:
  void Feed(const uint8_t* Data, size_t Size);
  bool Next(TKzBatch& Batch);
  size_t Buffered() const { return FBuf.size(); }

private:
  void Process();
  std::vector<uint8_t> FBuf;  // starts with the begin pack while one is open
  bool FOpen = false;
  TKzSessionPack FBegin;
  size_t FSearchFrom = 0;  // where the next end-marker search starts
  std::deque<TKzBatch> FOut;
};

}  // namespace kz
