// Delivers a multi-source pipeline's image events and motion regions on the
// main thread, newest frame wins per source and video index, so that a slow
// main thread neither piles frames up nor lets one busy sender hide others.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/fmxMKzType.h"
#include "video/fmxMKzMainThreadSlot.h"
#include "video/fmxMKzMultiSourceOwner.h"

namespace kz {

class TKzMultiMainThreadFrames {
public:
  // Sources remembered at once; the one unused longest gives way.
  static constexpr size_t MaxSources = 64;

  explicit TKzMultiMainThreadFrames(IKzMultiSourceOwner& Owner);
  // Closes every slot. Any thread.
  ~TKzMultiMainThreadFrames();
  TKzMultiMainThreadFrames(const TKzMultiMainThreadFrames&) = delete;
  TKzMultiMainThreadFrames& operator=(const TKzMultiMainThreadFrames&) = delete;

  // Any thread, never block.
  void SetOnGetImage(TKzGetImageEvent Event);
  bool HasImageEvent() const;
  // Copies Frame into its source's slot: the main thread then raises
  // OnGetImage and, when Regions is given, the owner's DoGetRegions. Nothing
  // when neither is wanted. Any thread, never blocks.
  void Post(const TKzMBitmap& Frame, int32_t hClient, const TKzHeaderPack& Header, uint16_t VideoIndex,
            std::shared_ptr<TKzMotionDetector> Regions);
  // Drops every slot (queued deliveries do nothing). Any thread.
  void Clear();
  // Frames replaced in their slot before the main thread took them.
  uint64_t Replaced() const;

private:
  struct TEvents;
  struct TEntry {
    TGUID GUIDFrom;
    uint16_t VideoIndex = 0;
    uint64_t LastUse = 0;
    std::unique_ptr<TKzMainThreadSlot> Slot;
  };
  TKzMainThreadSlot& SlotOf(const TGUID& GUIDFrom, uint16_t VideoIndex);

  std::shared_ptr<TEvents> FEvents;
  mutable std::mutex FLock;  // guards FSlots, FUses, FReplaced
  std::vector<TEntry> FSlots;
  uint64_t FUses = 0;
  uint64_t FReplaced = 0;  // of slots dropped
};

}  // namespace kz
