#include "video/fmxMKzMainThreadFrames.h"

namespace kz {

struct TKzMainThreadFrames::TEvents {
  std::mutex Lock;  // guards everything below
  TComponent* Owner = nullptr;
  TKzImageEvent OnGetImage;
  TKzImageEventEx OnGetImageEx;
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

bool TKzMainThreadFrames::HasEvents() const {
  std::lock_guard<std::mutex> g(FEvents->Lock);
  return FEvents->OnGetImage || FEvents->OnGetImageEx;
}

void TKzMainThreadFrames::Post(const TKzMBitmap& Frame, double Pts) {
  if (!HasEvents()) return;
  // The events are read when the frame is delivered, so that a handler
  // cleared meanwhile is not called.
  FSlot.Post(Frame, [events = FEvents, Pts](TKzMBitmap& frame) {
    TKzImageEvent onImage;
    TKzImageEventEx onImageEx;
    TComponent* owner;
    {
      std::lock_guard<std::mutex> g(events->Lock);
      onImage = events->OnGetImage;
      onImageEx = events->OnGetImageEx;
      owner = events->Owner;
    }
    if (onImage) onImage(owner, frame);
    if (onImageEx) onImageEx(owner, frame, Pts);
  });
}

uint64_t TKzMainThreadFrames::Posted() const { return FSlot.Posted(); }

uint64_t TKzMainThreadFrames::Replaced() const { return FSlot.Replaced(); }

}  // namespace kz
