#include "streaming/fmxMKzPullQueue.h"

#include <bit>

namespace kz {

TKzPullQueue::TKzPullQueue(size_t VideoBytes, size_t OtherBytes) : FVideoBytes(VideoBytes), FOtherBytes(OtherBytes) {}

TKzPullQueue::TQueue* TKzPullQueue::QueueOf(uint16_t DataType) {
  const unsigned code = DataType & DATA_TYPE_MASK;
  if (code == 0 || !std::has_single_bit(code)) return nullptr;
  return &FQueues[static_cast<size_t>(std::countr_zero(code))];
}

const TKzPullQueue::TQueue* TKzPullQueue::QueueOf(uint16_t DataType) const {
  return const_cast<TKzPullQueue*>(this)->QueueOf(DataType);
}

TKzPulledPacket KzBuildPulledPacket(const TKzPacketSpec& Spec, const uint8_t* Data, size_t Size,
                                    TKzPacketWriter& Writer) {
  TKzPacketSpec spec = Spec;
  spec.Protocol = TKzProtocol::kzpTCP;
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  bytes->reserve(Size + 128);
  TKzPulledPacket p;
  uint16_t index = 0;
  Writer.Write(spec, Data, Size, index, [&](const uint8_t* D, size_t N) {
    bytes->insert(bytes->end(), D, D + N);
    return true;
  });
  p.Packets = index;
  // IndexPart follows the marker, the data-type word, the GUIDs it flags and MediaIndex.
  const unsigned word = bytes->size() >= 6 ? (*bytes)[4] | (*bytes)[5] << 8 : 0;
  p.IndexPartAt = 8 + 16 * static_cast<size_t>(std::popcount(word & 0x0700u));
  p.Bytes = std::move(bytes);
  return p;
}

TKzPullOffer TKzPullQueue::Offer(uint16_t DataType, const TKzPulledPacket& Packet, const TKzInfo& Info) {
  TQueue* q = QueueOf(DataType);
  if (!q) return TKzPullOffer::kzpoRefused;
  const uint16_t code = DataType & DATA_TYPE_MASK;
  if (code == DATA_TYPE_FILE) {
    if (!q->Items.empty()) return TKzPullOffer::kzpoRefused;
    q->Items.push_back(TKzPullItem{Info, Packet});
    return TKzPullOffer::kzpoQueued;
  }
  const size_t size = Packet.Size();
  const size_t bound = code == DATA_TYPE_VIDEO ? FVideoBytes : FOtherBytes;
  const bool dropsOld = code == DATA_TYPE_VIDEO || code == DATA_TYPE_AUDIO;
  if (size > bound) return TKzPullOffer::kzpoRefused;
  if (q->Bytes + size > bound && !dropsOld) return TKzPullOffer::kzpoRefused;
  TKzPullOffer result = TKzPullOffer::kzpoQueued;
  while (q->Bytes + size > bound && !q->Items.empty()) {
    q->Bytes -= q->Items.front().Packet.Size();
    q->Items.pop_front();
    ++FDropped;
    result = TKzPullOffer::kzpoQueuedDroppingOld;
  }
  q->Items.push_back(TKzPullItem{Info, Packet});
  q->Bytes += size;
  return result;
}

std::vector<TKzPullItem> TKzPullQueue::Take(uint16_t DataType) {
  std::vector<TKzPullItem> out;
  TQueue* q = QueueOf(DataType);
  if (!q) return out;
  out.reserve(q->Items.size());
  for (auto& item : q->Items) out.push_back(std::move(item));
  q->Items.clear();
  q->Bytes = 0;
  return out;
}

bool TKzPullQueue::Has(uint16_t DataType) const {
  const TQueue* q = QueueOf(DataType);
  return q && !q->Items.empty();
}

size_t TKzPullQueue::Bytes(uint16_t DataType) const {
  const TQueue* q = QueueOf(DataType);
  return q ? q->Bytes : 0;
}

}  // namespace kz
