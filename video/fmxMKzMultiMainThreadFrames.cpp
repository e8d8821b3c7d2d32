#include "video/fmxMKzMultiMainThreadFrames.h"

#include <algorithm>

namespace kz {

struct TKzMultiMainThreadFrames::TEvents {
  std::mutex Lock;  // guards OnGetImage
  IKzMultiSourceOwner* Owner = nullptr;
  TKzGetImageEvent OnGetImage;
};

TKzMultiMainThreadFrames::TKzMultiMainThreadFrames(IKzMultiSourceOwner& Owner)
    : FEvents(std::make_shared<TEvents>()) {
  FEvents->Owner = &Owner;
}

TKzMultiMainThreadFrames::~TKzMultiMainThreadFrames() { Clear(); }

void TKzMultiMainThreadFrames::SetOnGetImage(TKzGetImageEvent Event) {
  std::lock_guard<std::mutex> g(FEvents->Lock);
  FEvents->OnGetImage = std::move(Event);
}

bool TKzMultiMainThreadFrames::HasImageEvent() const {
  std::lock_guard<std::mutex> g(FEvents->Lock);
  return static_cast<bool>(FEvents->OnGetImage);
}

TKzMainThreadSlot& TKzMultiMainThreadFrames::SlotOf(const TGUID& GUIDFrom, uint16_t VideoIndex) {
  ++FUses;
  for (TEntry& e : FSlots)
    if (e.VideoIndex == VideoIndex && e.GUIDFrom == GUIDFrom) {
      e.LastUse = FUses;
      return *e.Slot;
    }
  if (FSlots.size() >= MaxSources) {
    auto oldest = std::min_element(FSlots.begin(), FSlots.end(),
                                   [](const TEntry& a, const TEntry& b) { return a.LastUse < b.LastUse; });
    FReplaced += oldest->Slot->Replaced();
    FSlots.erase(oldest);
  }
  FSlots.push_back({GUIDFrom, VideoIndex, FUses, std::make_unique<TKzMainThreadSlot>()});
  return *FSlots.back().Slot;
}

void TKzMultiMainThreadFrames::Post(const TKzMBitmap& Frame, int32_t hClient, const TKzHeaderPack& Header,
                                    uint16_t VideoIndex, std::shared_ptr<TKzMotionDetector> Regions) {
  if (!Regions && !HasImageEvent()) return;
  std::lock_guard<std::mutex> g(FLock);
  SlotOf(Header.GUIDFrom, VideoIndex)
      .Post(Frame, [events = FEvents, hClient, from = Header.GUIDFrom, to = Header.GUIDTo, VideoIndex,
                    regions = std::move(Regions)](TKzMBitmap& frame) {
        TKzGetImageEvent onImage;
        {
          std::lock_guard<std::mutex> e(events->Lock);
          onImage = events->OnGetImage;
        }
        if (regions) events->Owner->DoGetRegions(frame, VideoIndex, from, *regions);
        if (onImage) onImage(events->Owner->OwnerComponent(), frame, hClient, from, to, VideoIndex);
      });
}

void TKzMultiMainThreadFrames::Clear() {
  std::lock_guard<std::mutex> g(FLock);
  for (TEntry& e : FSlots) FReplaced += e.Slot->Replaced();
  FSlots.clear();
}

uint64_t TKzMultiMainThreadFrames::Replaced() const {
  std::lock_guard<std::mutex> g(FLock);
  uint64_t n = FReplaced;
  for (const TEntry& e : FSlots) n += e.Slot->Replaced();
  return n;
}

}  // namespace kz
