#include "streaming/fmxMKzKeyList.h"

#include <algorithm>

namespace kz {

void TKzKeyList::Count(int32_t Key, const TGUID& GUIDFrom, size_t Kind, size_t Size, uint64_t Tick) {
  std::lock_guard<std::mutex> g(FLock);
  auto it = std::find_if(FItems.begin(), FItems.end(),
                         [&](const TKzKeyItem& i) { return i.Key == Key && i.nGUIDFrom == GUIDFrom; });
  if (it == FItems.end()) {
    TKzKeyItem item;
    item.Key = Key;
    item.nGUIDFrom = GUIDFrom;
    item.FirstTick = Tick;
    FItems.push_back(item);
    CutKey();
    it = FItems.end() - 1;
  }
  if (Kind < it->Packets.size()) ++it->Packets[Kind];
  it->Bytes += Size;
  it->LastTick = Tick;
}

void TKzKeyList::CutKey() {
  while (FItems.size() > MaxItems) FItems.pop_front();
}

void TKzKeyList::DeleteKey(int32_t Key) {
  std::lock_guard<std::mutex> g(FLock);
  std::erase_if(FItems, [&](const TKzKeyItem& i) { return i.Key == Key; });
}

void TKzKeyList::DeleteGUID(const TGUID& GUIDFrom) {
  std::lock_guard<std::mutex> g(FLock);
  std::erase_if(FItems, [&](const TKzKeyItem& i) { return i.nGUIDFrom == GUIDFrom; });
}

void TKzKeyList::Clear() {
  std::lock_guard<std::mutex> g(FLock);
  FItems.clear();
}

std::vector<TKzKeyItem> TKzKeyList::Items() const {
  std::lock_guard<std::mutex> g(FLock);
  return std::vector<TKzKeyItem>(FItems.begin(), FItems.end());
}

}  // namespace kz
