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

TKzPullOffer TKzPullQueue::Offer(uint16_t DataType, const uint8_t* Data, size_t Size, const TKzInfo& Info) {
  TQueue* q = QueueOf(DataType);
  if (!q) return TKzPullOffer::kzpoRefused;
  const uint16_t code = DataType & DATA_TYPE_MASK;
  if (code == DATA_TYPE_FILE) {
    if (!q->Items.empty()) return TKzPullOffer::kzpoRefused;
    q->Items.push_back(TKzPullItem{Info, {}});
    return TKzPullOffer::kzpoQueued;
  }
  const size_t bound = code == DATA_TYPE_VIDEO ? FVideoBytes : FOtherBytes;
  const bool dropsOld = code == DATA_TYPE_VIDEO || code == DATA_TYPE_AUDIO;
  if (Size > bound) return TKzPullOffer::kzpoRefused;
  if (q->Bytes + Size > bound && !dropsOld) return TKzPullOffer::kzpoRefused;
  TKzPullOffer result = TKzPullOffer::kzpoQueued;
  while (q->Bytes + Size > bound && !q->Items.empty()) {
    q->Bytes -= q->Items.front().Data.size();
    q->Items.pop_front();
    ++FDropped;
    result = TKzPullOffer::kzpoQueuedDroppingOld;
  }
  q->Items.push_back(TKzPullItem{Info, std::vector<uint8_t>(Data, Data + Size)});
  q->Bytes += Size;
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
