// What a receiver has seen of each stream it receives, per (key, source
// GUID): packets and bytes by data type and when the last one came. Limited
// like the socket list: adding past the limit drops the oldest.
//
// Any thread; every call takes the list's lock briefly.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"

namespace kz {

struct TKzKeyItem {
  int32_t Key = 0;
  TGUID nGUIDFrom;
  std::array<uint64_t, 5> Packets{};  // by media kind ordinal
  uint64_t Bytes = 0;
  uint64_t FirstTick = 0, LastTick = 0;
};

class TKzKeyList {
public:
  static constexpr size_t MaxItems = 9999;

  // Counts one packet of media kind Kind (ordinal) and Size bytes.
  void Count(int32_t Key, const TGUID& GUIDFrom, size_t Kind, size_t Size, uint64_t Tick);
  // Drops the items of a key, or of a source.
  void DeleteKey(int32_t Key);
  void DeleteGUID(const TGUID& GUIDFrom);
  void Clear();
  std::vector<TKzKeyItem> Items() const;

private:
  void CutKey();
  mutable std::mutex FLock;  // guards FItems
  std::deque<TKzKeyItem> FItems;  // oldest first
};

}  // namespace kz
