#include "streaming/fmxMKzDatagramOrder.h"

namespace kz {

namespace {

// How far behind the newest datagram one may arrive and still be taken for
// a late or repeated one rather than a restarted sender's.
constexpr uint16_t kOvertakenWindow = 256;

}  // namespace

TKzDatagramOrder TKzDatagramSequence::Take(const TKzPacketHeader& Header) {
  const TKey key{Header.DataType(), Header.GUIDFrom};
  auto it = FLast.find(key);
  if (it == FLast.end()) {
    if (FLast.size() >= MaxChannels) FLast.clear();
    FLast.emplace(key, Header.IndexPart);
    return TKzDatagramOrder::kzdoNext;
  }
  // Distance ahead of the newest one read, modulo 2^16: 0 is a repeat, a
  // little behind it is one overtaken on the way; far behind is a sender
  // that started numbering anew, which is followed after a gap.
  const uint16_t ahead = static_cast<uint16_t>(Header.IndexPart - it->second);
  if (ahead == 0 || ahead > 0xFFFF - kOvertakenWindow) return TKzDatagramOrder::kzdoStale;
  it->second = Header.IndexPart;
  return ahead == 1 ? TKzDatagramOrder::kzdoNext : TKzDatagramOrder::kzdoGap;
}

}  // namespace kz
