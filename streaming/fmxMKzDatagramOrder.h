// The order in which a receiver reads datagrams. A sender numbers the
// packets of each channel (IndexPart, 16 bits, wrapping from 65,535 to 0);
// a datagram lost, repeated or overtaken on the way shows as a break in
// that numbering. A reader joining the datagrams of a payload must then
// drop what it joined rather than splice parts of two payloads, and must
// not hand a repeated datagram on a second time.
//
// One numbering per data type and source GUID. Not locked: the receiver's
// socket-list lock guards it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "streaming/fmxMKzStreamPacket.h"

namespace kz {

enum class TKzDatagramOrder : uint8_t {
  kzdoNext = 0,   // follows the previous datagram of its channel, or is the first one seen
  kzdoGap = 1,    // datagrams before it are missing (or its sender began anew): a payload joined so far is incomplete
  kzdoStale = 2,  // a repeat of one already read, or one overtaken by newer ones: drop it
};

class TKzDatagramSequence {
public:
  // Channels remembered at most; one more forgets them all (each starts afresh).
  static constexpr size_t MaxChannels = 9999;

  // Where the datagram with this header stands in its channel; remembers it
  // unless it is stale. Owner's lock held.
  TKzDatagramOrder Take(const TKzPacketHeader& Header);
  void Clear() { FLast.clear(); }

private:
  struct TKey {
    uint8_t DataType;
    TGUID GUIDFrom;
    bool operator==(const TKey& o) const { return DataType == o.DataType && GUIDFrom == o.GUIDFrom; }
  };
  struct TKeyHash {
    size_t operator()(const TKey& K) const noexcept { return TGUIDHash{}(K.GUIDFrom) * 31 + K.DataType; }
  };
  std::unordered_map<TKey, uint16_t, TKeyHash> FLast;  // IndexPart of the newest datagram read
};

}  // namespace kz
