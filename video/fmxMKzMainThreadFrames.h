// Delivers a source's image events on the main thread without letting a
// slow main thread pile up frames: one slot holds the newest frame, and at
// most one delivery is queued at a time.
#pragma once
#include <memory>
#include <mutex>

#include "foundation/fmxMKzBitmap.h"
#include "video/fmxMKzMainThreadSlot.h"
#include "video/fmxMKzVideoEvents.h"

namespace kz {

class TKzMainThreadFrames {
public:
  explicit TKzMainThreadFrames(TComponent* Owner);
  // Stops deliveries; queued ones find the slot closed. Any thread.
  ~TKzMainThreadFrames();
  TKzMainThreadFrames(const TKzMainThreadFrames&) = delete;
  TKzMainThreadFrames& operator=(const TKzMainThreadFrames&) = delete;

  // Any thread, never block.
  void SetOnGetImage(TKzImageEvent Event);
  void SetOnGetImageEx(TKzImageEventEx Event);
  bool HasEvents() const;
  // Copies Frame into the slot (replacing a frame not yet delivered) and
  // queues one delivery unless one is pending. Any thread, never blocks.
  void Post(const TKzMBitmap& Frame, double Pts);
  // Frames handed over and frames replaced before the main thread took them.
  uint64_t Posted() const;
  uint64_t Replaced() const;

private:
  struct TEvents;
  std::shared_ptr<TEvents> FEvents;
  TKzMainThreadSlot FSlot;
};

}  // namespace kz
