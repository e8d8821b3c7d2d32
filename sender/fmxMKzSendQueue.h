// The outgoing queue of one push channel: records of a 60-byte header pack
// (marker "hmSD", LenPack = the payload bytes that follow it, the record's
// GUIDs) followed by the payload. A payload for the same three GUIDs as the
// last record joins that record; a command payload joins by adding its
// commands to the record's count byte, so the merged payload still counts
// every command it carries.
//
// Bounded: video keeps only the newest frame; audio drops its oldest records
// past the bound; commands, user data and files are refused past it (the
// caller reports the loss).
//
// Not locked: the channel guards it with its queue lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/fmxMKzType.h"

namespace kz {

enum class TKzQueueAdd : uint8_t {
  kzqaQueued = 0,
  kzqaMerged = 1,        // joined the last record
  kzqaDroppedOld = 2,    // queued after dropping the oldest records
  kzqaRefused = 3        // over the bound; nothing changed
};

class TKzSendQueue {
public:
  static constexpr size_t DefaultBound = 16u << 20;
  static constexpr size_t RecordHead = TKzHeaderPack::WireSize;

  explicit TKzSendQueue(uint16_t DataType, size_t Bound = DefaultBound) : FDataType(DataType), FBound(Bound) {}

  // Appends one payload addressed by the GUIDs (video: the queue is emptied first).
  TKzQueueAdd AddData(const TGUID& GUIDTo, const TGUID& GUIDFrom, const TGUID& GUIDGroup, const uint8_t* Data,
                      size_t Size);
  // The whole queue, leaving it empty.
  std::vector<uint8_t> Take();
  // Records not sent go back in front of what was queued since.
  void PutBack(const uint8_t* Records, size_t Size);
  void Clear();
  bool Empty() const { return FBytes.empty(); }
  size_t Bytes() const { return FBytes.size(); }
  size_t Records() const;
  uint64_t Dropped() const { return FDropped; }

  // Walks the records of a queue's bytes: header pack and payload of each;
  // false at the end or at a record cut short.
  static bool NextRecord(const std::vector<uint8_t>& Bytes, size_t& Pos, TKzHeaderPack& Pack, const uint8_t*& Payload,
                         size_t& Size);

private:
  void DropOldest(size_t Need);

  uint16_t FDataType;
  size_t FBound;
  std::vector<uint8_t> FBytes;
  size_t FLast = SIZE_MAX;  // offset of the last record
  uint64_t FDropped = 0;
};

}  // namespace kz
