#include "sender/fmxMKzSendQueue.h"

#include <cstring>

#include "foundation/fmxMKzByteOrder.h"
#include "streaming/fmxMKzStreamTypes.h"

namespace kz {

namespace {

constexpr size_t kLenPackAt = 4;

bool SameGUIDs(const TKzHeaderPack& A, const TGUID& To, const TGUID& From, const TGUID& Group) {
  return CompareGUID(A.GUIDTo, To) && CompareGUID(A.GUIDFrom, From) && CompareGUID(A.GUIDGroup, Group);
}

}  // namespace

bool TKzSendQueue::NextRecord(const std::vector<uint8_t>& Bytes, size_t& Pos, TKzHeaderPack& Pack,
                              const uint8_t*& Payload, size_t& Size) {
  if (Pos + RecordHead > Bytes.size()) return false;
  Pack = KzHeaderPackFromBytes(Bytes.data() + Pos);
  const int64_t len = Pack.LenPack;
  if (len < 0 || static_cast<uint64_t>(len) > Bytes.size() - Pos - RecordHead) return false;
  Payload = Bytes.data() + Pos + RecordHead;
  Size = static_cast<size_t>(len);
  Pos += RecordHead + Size;
  return true;
}

size_t TKzSendQueue::Records() const {
  size_t n = 0, pos = 0, size = 0;
  TKzHeaderPack pack;
  const uint8_t* p = nullptr;
  while (NextRecord(FBytes, pos, pack, p, size)) ++n;
  return n;
}

void TKzSendQueue::Clear() {
  FBytes.clear();
  FLast = SIZE_MAX;
}

void TKzSendQueue::DropOldest(size_t Need) {
  size_t pos = 0, size = 0;
  TKzHeaderPack pack;
  const uint8_t* p = nullptr;
  while (FBytes.size() - pos + Need > FBound && NextRecord(FBytes, pos, pack, p, size)) ++FDropped;
  if (pos >= FBytes.size()) {
    Clear();
    return;
  }
  FBytes.erase(FBytes.begin(), FBytes.begin() + static_cast<std::ptrdiff_t>(pos));
  FLast = FLast >= pos ? FLast - pos : SIZE_MAX;
}

TKzQueueAdd TKzSendQueue::AddData(const TGUID& GUIDTo, const TGUID& GUIDFrom, const TGUID& GUIDGroup,
                                  const uint8_t* Data, size_t Size) {
  const uint16_t code = FDataType & DATA_TYPE_MASK;
  if (code == DATA_TYPE_VIDEO && !FBytes.empty()) {
    FDropped += Records();
    Clear();
  }
  TKzQueueAdd result = TKzQueueAdd::kzqaQueued;
  if (FBytes.size() + Size + RecordHead > FBound) {
    if (code != DATA_TYPE_AUDIO) return TKzQueueAdd::kzqaRefused;
    DropOldest(Size + RecordHead);
    result = TKzQueueAdd::kzqaDroppedOld;
  }
  const bool cmd = code == DATA_TYPE_CMD;
  if (FLast != SIZE_MAX && Size > 0) {
    TKzHeaderPack last = KzHeaderPackFromBytes(FBytes.data() + FLast);
    const uint8_t* payload = FBytes.data() + FLast + RecordHead;
    const bool fits = !cmd || (last.LenPack > 0 && static_cast<size_t>(payload[0]) + Data[0] <= 255);
    if (SameGUIDs(last, GUIDTo, GUIDFrom, GUIDGroup) && fits) {
      const size_t skip = cmd ? 1 : 0;  // the new payload's count byte
      if (cmd) FBytes[FLast + RecordHead] = static_cast<uint8_t>(payload[0] + Data[0]);
      FBytes.insert(FBytes.end(), Data + skip, Data + Size);
      KzPutLE<int64_t>(FBytes.data() + FLast + kLenPackAt, last.LenPack + static_cast<int64_t>(Size - skip));
      return result == TKzQueueAdd::kzqaQueued ? TKzQueueAdd::kzqaMerged : result;
    }
  }
  TKzHeaderPack pack;
  pack.MARKER = MARKER_SESSION_DATA;
  pack.LenPack = static_cast<int64_t>(Size);
  pack.GUIDTo = GUIDTo, pack.GUIDFrom = GUIDFrom, pack.GUIDGroup = GUIDGroup;
  FLast = FBytes.size();
  FBytes.resize(FLast + RecordHead);
  KzHeaderPackToBytes(pack, FBytes.data() + FLast);
  FBytes.insert(FBytes.end(), Data, Data + Size);
  return result;
}

std::vector<uint8_t> TKzSendQueue::Take() {
  std::vector<uint8_t> out;
  out.swap(FBytes);
  FLast = SIZE_MAX;
  return out;
}

void TKzSendQueue::PutBack(const uint8_t* Records, size_t Size) {
  if (Size == 0) return;
  if ((FDataType & DATA_TYPE_MASK) == DATA_TYPE_VIDEO && !FBytes.empty()) return;  // a newer frame waits
  // New records queued since stay last; they are no longer merged into.
  FBytes.insert(FBytes.begin(), Records, Records + Size);
  FLast = SIZE_MAX;
}

}  // namespace kz
