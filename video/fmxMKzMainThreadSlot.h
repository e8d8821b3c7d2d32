// A newest-wins hand-over of frames to the main thread: a slow main thread
// never piles frames up. The slot holds the newest frame posted; at most one
// delivery is queued at a time, and it hands the main thread whatever frame
// is newest when it runs.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "foundation/fmxMKzBitmap.h"

namespace kz {

class TKzMainThreadSlot {
public:
  // Called on the main thread with a copy of the newest frame.
  using TDeliver = std::function<void(TKzMBitmap& Frame)>;

  TKzMainThreadSlot();
  // Closes the slot. Any thread.
  ~TKzMainThreadSlot();
  TKzMainThreadSlot(const TKzMainThreadSlot&) = delete;
  TKzMainThreadSlot& operator=(const TKzMainThreadSlot&) = delete;

  // Copies Frame into the slot, replacing a frame (and its Deliver) not yet
  // delivered, and queues one delivery unless one is pending. Any thread,
  // never blocks.
  void Post(const TKzMBitmap& Frame, TDeliver Deliver);
  // Deliveries still queued find the slot closed and do nothing. Any thread.
  void Close();
  // Frames posted, and frames replaced before the main thread took them.
  uint64_t Posted() const;
  uint64_t Replaced() const;

private:
  struct TState;
  std::shared_ptr<TState> FState;
};

}  // namespace kz
