// What a pulled connection holds for its receiver between two requests,
// per data type, within byte bounds:
//   video     - the newest frames only: older ones make room for a new one;
//   audio     - in order; past the bound the oldest blocks are dropped;
//   user data, commands - in order; past the bound a new one is refused
//               (its sender is told), none already queued is lost;
//   files     - one file at a time, named by its TKzFileInfo.
// A request takes everything queued for its type as one batch.
//
// Not locked: the pulled connection guards it with its own lock.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "foundation/fmxMKzType.h"

namespace kz {

struct TKzPullItem {
  TKzInfo Info;
  std::vector<uint8_t> Data;  // empty for a file: the file is read when sent
};

enum class TKzPullOffer : uint8_t {
  kzpoQueued = 0,
  kzpoQueuedDroppingOld = 1,  // queued; older items made room
  kzpoRefused = 2             // the bound is full (or a file is still pending)
};

class TKzPullQueue {
public:
  static constexpr size_t DefaultVideoBytes = 8u << 20;
  static constexpr size_t DefaultOtherBytes = 16u << 20;

  explicit TKzPullQueue(size_t VideoBytes = DefaultVideoBytes, size_t OtherBytes = DefaultOtherBytes);
  TKzPullOffer Offer(uint16_t DataType, const uint8_t* Data, size_t Size, const TKzInfo& Info);
  // Everything queued for the type, oldest first; the queue of it is emptied.
  std::vector<TKzPullItem> Take(uint16_t DataType);
  bool Has(uint16_t DataType) const;
  size_t Bytes(uint16_t DataType) const;
  // Items dropped to make room, over all types.
  uint64_t Dropped() const { return FDropped; }

private:
  struct TQueue {
    std::deque<TKzPullItem> Items;
    size_t Bytes = 0;
  };
  TQueue* QueueOf(uint16_t DataType);
  const TQueue* QueueOf(uint16_t DataType) const;
  std::array<TQueue, 5> FQueues;
  size_t FVideoBytes, FOtherBytes;
  uint64_t FDropped = 0;
};

}  // namespace kz
