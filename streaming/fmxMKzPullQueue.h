// What a pulled connection holds for its receiver between two requests,
// per data type, within byte bounds:
//   video     - the newest frames only: older ones make room for a new one;
//   audio     - in order; past the bound the oldest blocks are dropped;
//   user data, commands - in order; past the bound a new one is refused
//               (its sender is told), none already queued is lost;
//   files     - one file at a time, named by its TKzFileInfo.
// A request takes everything queued for its type as one batch. Payloads
// are held as packets built once and shared by every connection
// (TKzPulledPacket); the bounds count each connection's share in full.
//
// Not locked: the pulled connection guards it with its own lock.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "foundation/fmxMKzType.h"
#include "streaming/fmxMKzPacketWriter.h"

namespace kz {

// One payload cut into packets for a stream connection. Bytes begins with
// the packet header; a connection sends its own copy of the first
// IndexPartAt + 2 bytes with its own IndexPart there, then the rest as is.
struct TKzPulledPacket {
  std::shared_ptr<const std::vector<uint8_t>> Bytes;  // null for a file: it is read when sent
  uint16_t Packets = 0;   // IndexPart numbers the payload takes
  size_t IndexPartAt = 0;
  size_t Size() const { return Bytes ? Bytes->size() : 0; }
};

// Cuts a payload as Spec says (over a stream connection, IndexPart 0). Any
// thread; Writer belongs to the caller.
TKzPulledPacket KzBuildPulledPacket(const TKzPacketSpec& Spec, const uint8_t* Data, size_t Size,
                                    TKzPacketWriter& Writer);

struct TKzPullItem {
  TKzInfo Info;
  TKzPulledPacket Packet;
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
  TKzPullOffer Offer(uint16_t DataType, const TKzPulledPacket& Packet, const TKzInfo& Info);
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
