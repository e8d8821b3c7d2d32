#include "video/fmxMKzMainThreadFrames.h"

namespace kz {

struct TKzMainThreadFrames::TEvents {
  std::mutex Lock;  // guards everything below
  TComponent* Owner = nullptr;
  TKzImageEvent OnGetImage;
  TKzImageEventEx OnGetImageEx;
  TKzGetRegionsEvent OnGetRegions;
};

TKzMainThreadFrames::TKzMainThreadFrames(TComponent* Owner) : FEvents(std::make_shared<TEvents>()) {
  FEvents->Owner = Owner;
}

TKzMainThreadFrames::~TKzMainThreadFrames() { FSlot.Close(); }

void TKzMainThreadFrames::SetOnGetImage(TKzImageEvent Event) {
  std::lock_guard<std::mutex> g(FEvents->Lock);
  FEvents->OnGetImage = std::move(Event);
}

void TKzMainThreadFrames::SetOnGetImageEx(TKzImageEventEx Event) {
  std::lock_guard<std::mutex> g(FEvents->Lock);
  FEvents->OnGetImageEx = std::move(Event);
}

void TKzMainThreadFrames::SetOnGetRegions(TKzGetRegionsEvent Event) {
  std::lock_guard<std::mutex> g(FEvents->Lock);
  FEvents->OnGetRegions = std::move(Event);
}

bool TKzMainThreadFrames::HasEvents() const {
  std::lock_guard<std::mutex> g(FEvents->Lock);
  return FEvents->OnGetImage || FEvents->OnGetImageEx || FEvents->OnGetRegions;
}

bool TKzMainThreadFrames::HasRegionsEvent() const {
  std::lock_guard<std::mutex> g(FEvents->Lock);
  return static_cast<bool>(FEvents->OnGetRegions);
}

void TKzMainThreadFrames::Post(const TKzMBitmap& Frame, double Pts, std::shared_ptr<TKzMotionDetector> Regions) {
  {
    std::lock_guard<std::mutex> g(FEvents->Lock);
    if (!(FEvents->OnGetImage || FEvents->OnGetImageEx || (FEvents->OnGetRegions && Regions))) return;
  }
  // The events are read when the frame is delivered, so that a handler
  // cleared meanwhile is not called.
  FSlot.Post(Frame, [events = FEvents, Pts, regions = std::move(Regions)](TKzMBitmap& frame) {
    TKzImageEvent onImage;
    TKzImageEventEx onImageEx;
    TKzGetRegionsEvent onRegions;
    TComponent* owner;
    {
      std::lock_guard<std::mutex> g(events->Lock);
      onImage = events->OnGetImage;
      onImageEx = events->OnGetImageEx;
      onRegions = events->OnGetRegions;
      owner = events->Owner;
    }
    if (onRegions && regions) onRegions(owner, frame, *regions);
    if (onImage) onImage(owner, frame);
    if (onImageEx) onImageEx(owner, frame, Pts);
  });
}

uint64_t TKzMainThreadFrames::Posted() const { return FSlot.Posted(); }

uint64_t TKzMainThreadFrames::Replaced() const { return FSlot.Replaced(); }

}  // namespace kz
