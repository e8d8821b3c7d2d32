// What the wave-in and wave-out devices share: one thread owns the device
// between Open and Close; other threads change its requests under the lock
// and wake it, and a reset is a ticket the thread serves while the asker
// waits, so the device is never touched from two threads.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace kz {

struct TKzDeviceThreadState {
  mutable std::mutex Lock;  // guards the requests (here and in the device's own state)
  std::condition_variable Wake;
  bool Quit = false;
  uint64_t ResetsAsked = 0;
  uint64_t ResetsDone = 0;
  std::thread Thread;

  // Runs Loop on the device thread. The opener's thread.
  void Launch(std::function<void()> Loop) { Thread = std::thread(std::move(Loop)); }
  // Changes the requests under the lock and wakes the thread. Any thread but the device's.
  template <typename F>
  void Post(F&& Change) {
    {
      std::lock_guard<std::mutex> g(Lock);
      Change();
    }
    Wake.notify_all();
  }
  // Asks for a reset (Before changes the requests with it, under the lock)
  // and waits until the thread has served it. Any thread but the device's.
  void AskReset(const std::function<void()>& Before = nullptr) {
    std::unique_lock<std::mutex> lk(Lock);
    if (Before) Before();
    const uint64_t ticket = ++ResetsAsked;
    Wake.notify_all();
    Wake.wait(lk, [&] { return ResetsDone >= ticket || !Thread.joinable(); });
  }
  // The device thread: whether a reset waits, and the one taken served.
  bool ResetPending() const { return ResetsDone < ResetsAsked; }
  void ResetServed(uint64_t Asked) {
    ResetsDone = Asked;
    Wake.notify_all();
  }
  // Ends the thread and waits for it; nothing when it never ran.
  void Finish() {
    if (!Thread.joinable()) return;
    Post([this] { Quit = true; });
    Thread.join();
  }
};

}  // namespace kz
