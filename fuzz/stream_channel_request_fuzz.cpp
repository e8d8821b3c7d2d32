// Channel requests: any 25 bytes parse and write back unchanged; the answer
// to one, carrying the rest of the input as the queued payload, reads back
// through the batch and packet readers to exactly that payload (or is a
// no-data pack when the request asks for nothing or for another type).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzPacketReader.h"
#include "kzfuzz.h"

using namespace kz;
using kzfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < TKzChannelRequest::WireSize + 1) return 0;
  const TKzChannelRequest request = KzChannelRequestFromBytes(Data);
  uint8_t back[TKzChannelRequest::WireSize];
  KzChannelRequestToBytes(request, back);
  Check(std::memcmp(back, Data, sizeof back) == 0);

  const uint8_t mode = Data[TKzChannelRequest::WireSize];
  TKzQueuedPayload queued;
  queued.Spec.DataType = static_cast<uint16_t>(1u << (mode % 5));
  queued.Spec.Compression = static_cast<TKzCompressionType>((mode >> 3) % 3);
  queued.Spec.BufferSize = 64u << (mode >> 5);
  queued.Spec.GUIDFrom = request.GUID;
  queued.Data = Data + TKzChannelRequest::WireSize + 1;
  queued.Size = Size - TKzChannelRequest::WireSize - 1;
  TKzPacketWriter writer;
  uint16_t part = 0;
  std::vector<uint8_t> answer;
  KzBuildChannelAnswer(request, request.SessionKey, &queued, writer, part, answer);

  TKzBatchReader batches;
  batches.Feed(answer.data(), answer.size());
  TKzBatch batch;
  Check(batches.Next(batch) && batch.Begin.SessionKey == request.SessionKey);
  uint8_t type = 0;
  const bool asked = KzChannelRequestKind(request.Text, type) == TKzChannelRequestKind::kzcrData &&
                     type == queued.Spec.DataType;
  Check(asked == (batch.Begin.MARKER == MARKER_SESSION_BEGIN));
  if (!asked) return 0;
  // A payload holding a whole end pack that agrees with the begin pack ends
  // the batch early: the one thing the markers cannot tell apart.
  static constexpr uint8_t kEnd[4] = {'h', 'm', 'S', 'E'};
  if (std::search(queued.Data, queued.Data + queued.Size, kEnd, kEnd + 4) != queued.Data + queued.Size) return 0;
  Check(batch.Valid && batch.Chunks.size() == 1);
  TKzPacketReader reader;
  reader.Feed(batch.Chunks[0].Packet.data(), batch.Chunks[0].Packet.size());
  TKzPacket packet;
  Check(reader.Next(packet) && packet.Payload.size() == queued.Size &&
        std::memcmp(packet.Payload.data(), queued.Data, queued.Size) == 0);
  return 0;
}
