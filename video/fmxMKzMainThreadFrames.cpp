#include "video/fmxMKzMainThreadFrames.h"

#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

struct TKzMainThreadFrames::TSlot {
  std::mutex Lock;  // guards everything below
  TComponent* Owner = nullptr;
  bool Closed = false;
  bool Pending = false;  // a delivery is queued
  bool Fresh = false;    // Frame holds a frame not yet delivered
  TKzMBitmap Frame;
  double Pts = 0;
  TKzImageEvent OnGetImage;
  TKzImageEventEx OnGetImageEx;
  TKzGetRegionsEvent OnGetRegions;
  std::shared_ptr<TKzMotionDetector> Regions;
  uint64_t Posted = 0;
  uint64_t Replaced = 0;

  // Main thread: hands the newest frame to the events, outside the lock.
  static void Deliver(const std::shared_ptr<TSlot>& Slot) {
    TKzMBitmap frame;
    double pts;
    TKzImageEvent onImage;
    TKzImageEventEx onImageEx;
    TKzGetRegionsEvent onRegions;
    std::shared_ptr<TKzMotionDetector> regions;
    TComponent* owner;
    {
      std::lock_guard<std::mutex> g(Slot->Lock);
      Slot->Pending = false;
      if (Slot->Closed || !Slot->Fresh) return;
      Slot->Fresh = false;
      frame.AssignKzMBitmap(Slot->Frame);
      pts = Slot->Pts;
      onImage = Slot->OnGetImage;
      onImageEx = Slot->OnGetImageEx;
      onRegions = Slot->OnGetRegions;
      regions = std::move(Slot->Regions);
      owner = Slot->Owner;
    }
    if (onRegions && regions) onRegions(owner, frame, *regions);
    if (onImage) onImage(owner, frame);
    if (onImageEx) onImageEx(owner, frame, pts);
  }
};

TKzMainThreadFrames::TKzMainThreadFrames(TComponent* Owner) : FSlot(std::make_shared<TSlot>()) {
  FSlot->Owner = Owner;
}

TKzMainThreadFrames::~TKzMainThreadFrames() {
  std::lock_guard<std::mutex> g(FSlot->Lock);
  FSlot->Closed = true;
}

void TKzMainThreadFrames::SetOnGetImage(TKzImageEvent Event) {
  std::lock_guard<std::mutex> g(FSlot->Lock);
  FSlot->OnGetImage = std::move(Event);
}

void TKzMainThreadFrames::SetOnGetImageEx(TKzImageEventEx Event) {
  std::lock_guard<std::mutex> g(FSlot->Lock);
  FSlot->OnGetImageEx = std::move(Event);
}

void TKzMainThreadFrames::SetOnGetRegions(TKzGetRegionsEvent Event) {
  std::lock_guard<std::mutex> g(FSlot->Lock);
  FSlot->OnGetRegions = std::move(Event);
}

bool TKzMainThreadFrames::HasEvents() const {
  std::lock_guard<std::mutex> g(FSlot->Lock);
  return FSlot->OnGetImage || FSlot->OnGetImageEx || FSlot->OnGetRegions;
}

bool TKzMainThreadFrames::HasRegionsEvent() const {
  std::lock_guard<std::mutex> g(FSlot->Lock);
  return static_cast<bool>(FSlot->OnGetRegions);
}

void TKzMainThreadFrames::Post(const TKzMBitmap& Frame, double Pts, std::shared_ptr<TKzMotionDetector> Regions) {
  bool queue;
  {
    std::lock_guard<std::mutex> g(FSlot->Lock);
    if (FSlot->Closed || !(FSlot->OnGetImage || FSlot->OnGetImageEx || (FSlot->OnGetRegions && Regions))) return;
    FSlot->Regions = std::move(Regions);
    if (FSlot->Fresh) ++FSlot->Replaced;
    ++FSlot->Posted;
    FSlot->Frame.AssignKzMBitmap(Frame);
    FSlot->Pts = Pts;
    FSlot->Fresh = true;
    queue = !FSlot->Pending;
    FSlot->Pending = true;
  }
  if (queue) {
    std::shared_ptr<TSlot> slot = FSlot;
    QueueOnMainThread([slot] { TSlot::Deliver(slot); });
  }
}

uint64_t TKzMainThreadFrames::Posted() const {
  std::lock_guard<std::mutex> g(FSlot->Lock);
  return FSlot->Posted;
}

uint64_t TKzMainThreadFrames::Replaced() const {
  std::lock_guard<std::mutex> g(FSlot->Lock);
  return FSlot->Replaced;
}

}  // namespace kz
