#include "foundation/fmxMKzImageListMove.h"

#include <iterator>

namespace kz {

namespace {
bool SameQueue(const TKzImageItem& A, const TKzImageItem& B) {
  return A.VideoIndex == B.VideoIndex && A.HeaderPack.GUIDFrom == B.HeaderPack.GUIDFrom;
}
}  // namespace

void KzMoveImages(TKzImageList& Source, TKzImageList& Dest, int32_t Mode) {
  Source.Lock();
  Dest.Lock();
  for (auto& item : Source.List) {
    auto& list = Dest.List;
    if (Mode == 1) {
      auto same = std::find_if(list.begin(), list.end(), [&](const auto& d) { return SameQueue(*d, *item); });
      if (same != list.end()) {
        *same = std::move(item);
        continue;
      }
    } else {
      int32_t count = 0;
      for (auto it = list.begin(); it != list.end(); ++it) {
        if (!SameQueue(**it, *item)) continue;
        if (++count > Mode) {
          list.erase(std::find_if(list.begin(), list.end(), [&](const auto& d) { return SameQueue(*d, *item); }));
          break;
        }
      }
    }
    list.push_back(std::move(item));
  }
  Source.List.clear();
  Dest.Unlock();
  Source.Unlock();
}

}  // namespace kz
