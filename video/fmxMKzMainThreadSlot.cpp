#include "video/fmxMKzMainThreadSlot.h"

#include <mutex>

#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

struct TKzMainThreadSlot::TState {
  std::mutex Lock;  // guards everything below
  bool Closed = false;
  bool Pending = false;  // a delivery is queued
  bool Fresh = false;    // Frame holds a frame not yet delivered
  TKzMBitmap Frame;
  TDeliver Deliver;
  uint64_t Posted = 0;
  uint64_t Replaced = 0;

  // Main thread: hands the newest frame over, outside the lock.
  static void Run(const std::shared_ptr<TState>& State) {
    TKzMBitmap frame;
    TDeliver deliver;
    {
      std::lock_guard<std::mutex> g(State->Lock);
      State->Pending = false;
      if (State->Closed || !State->Fresh) return;
      State->Fresh = false;
      frame.AssignKzMBitmap(State->Frame);
      deliver = std::move(State->Deliver);
    }
    if (deliver) deliver(frame);
  }
};

TKzMainThreadSlot::TKzMainThreadSlot() : FState(std::make_shared<TState>()) {}

TKzMainThreadSlot::~TKzMainThreadSlot() { Close(); }

void TKzMainThreadSlot::Close() {
  std::lock_guard<std::mutex> g(FState->Lock);
  FState->Closed = true;
  FState->Deliver = nullptr;
}

void TKzMainThreadSlot::Post(const TKzMBitmap& Frame, TDeliver Deliver) {
  bool queue;
  {
    std::lock_guard<std::mutex> g(FState->Lock);
    if (FState->Closed) return;
    if (FState->Fresh) ++FState->Replaced;
    ++FState->Posted;
    FState->Frame.AssignKzMBitmap(Frame);
    FState->Deliver = std::move(Deliver);
    FState->Fresh = true;
    queue = !FState->Pending;
    FState->Pending = true;
  }
  if (queue) {
    std::shared_ptr<TState> state = FState;
    QueueOnMainThread([state] { TState::Run(state); });
  }
}

uint64_t TKzMainThreadSlot::Posted() const {
  std::lock_guard<std::mutex> g(FState->Lock);
  return FState->Posted;
}

uint64_t TKzMainThreadSlot::Replaced() const {
  std::lock_guard<std::mutex> g(FState->Lock);
  return FState->Replaced;
}

}  // namespace kz
