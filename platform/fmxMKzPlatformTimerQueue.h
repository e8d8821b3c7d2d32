// A timer queue: one thread over a heap of deadlines on the platform clock
// (the virtual clock in tests), running one-shot timers. A timer is created
// with its callback, unarmed; arming it again moves its deadline. The
// callbacks run one at a time on the queue's thread.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

namespace kz {

class TKzTimerQueue {
public:
  using TTimerId = uint64_t;
  using TCallback = std::function<void()>;

  // Starts the thread. Any thread.
  TKzTimerQueue();
  // Drops the pending timers and waits for a running callback. Any thread
  // except a callback of this queue.
  ~TKzTimerQueue();
  TKzTimerQueue(const TKzTimerQueue&) = delete;
  TKzTimerQueue& operator=(const TKzTimerQueue&) = delete;

  // A new unarmed timer. Any thread (also a callback), never blocks.
  TTimerId Create(TCallback Callback);
  // Fires once DelayMs from now (re-arming moves an armed deadline). False
  // for an unknown timer. Any thread, never blocks.
  bool Arm(TTimerId Id, uint32_t DelayMs);
  // Arms only an unarmed timer, never moving an armed one. Any thread, never blocks.
  bool ArmIfIdle(TTimerId Id, uint32_t DelayMs);
  // Disarms. Any thread, never blocks.
  void Cancel(TTimerId Id);
  bool Armed(TTimerId Id) const;
  // Forgets the timer. From its own callback it returns at once; elsewhere
  // it waits for a running callback of that timer.
  void Delete(TTimerId Id);

  // Whether every queue has run all it had due at Tick and is waiting (tests
  // on the virtual clock). Any thread, never blocks for long.
  static bool AllSettledAt(uint64_t Tick);

private:
  struct TState;
  void Loop();
  std::unique_ptr<TState> FState;
};

}  // namespace kz
