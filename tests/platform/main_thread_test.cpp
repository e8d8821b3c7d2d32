// Hand-over of work to the main thread, the application loop and timers.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformTimer.h"

using namespace kz;

TEST(MainThread, SynchronizeRunsOnMainThreadAndReraisesErrors) {
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> sawError{false};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    Synchronize([&] { ranOnMain = IsMainThread(); });
    try {
      Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      sawError = std::string(e.what()) == "boom";
    }
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 5000));
  worker.join();
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(sawError);
}

TEST(MainThread, QueuedWorkRunsInOrderAndWorkQueuedMeanwhileWaits) {
  std::vector<int> order;
  QueueOnMainThread([&] {
    order.push_back(1);
    QueueOnMainThread([&] { order.push_back(3); });  // next pass, not this one
  });
  QueueOnMainThread([&] { order.push_back(2); });
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(CheckSynchronize());
}

TEST(MainThread, CheckSynchronizeOffTheMainThreadDoesNothing) {
  bool ran = false;
  QueueOnMainThread([&] { ran = true; });
  bool result = true;
  std::thread([&] { result = CheckSynchronize(); }).join();
  EXPECT_FALSE(result);
  EXPECT_FALSE(ran);
  CheckSynchronize();
  EXPECT_TRUE(ran);
}

TEST(MainThread, RunLoopEndsOnTerminateFromAnotherThread) {
  Application().ResetTerminated();
  std::thread stopper([] {
    Synchronize([] {});  // proves the loop is pumping
    Application().Terminate();
  });
  Application().Run();
  stopper.join();
  EXPECT_TRUE(Application().Terminated());
  Application().ResetTerminated();
}

TEST(Timers, FireOnTheMainLoopByTheVirtualClock) {
  TKzVirtualClockScope clock;
  TTimer timer;
  int ticks = 0;
  timer.OnTimer = [&](TTimer*) { ++ticks; };
  timer.SetInterval(60000);
  timer.SetEnabled(true);
  Application().ProcessMessages();
  EXPECT_EQ(ticks, 0);
  clock.Clock.Advance(59999);
  Application().ProcessMessages();
  EXPECT_EQ(ticks, 0);
  clock.Clock.Advance(1);
  Application().ProcessMessages();
  EXPECT_EQ(ticks, 1);
  // A handler that frees another timer (or itself) does not upset the walk.
  auto other = std::make_unique<TTimer>();
  other->SetInterval(10);
  other->SetEnabled(true);
  timer.OnTimer = [&](TTimer*) {
    ++ticks;
    other.reset();
  };
  clock.Clock.Advance(60000);
  Application().ProcessMessages();
  EXPECT_EQ(ticks, 2);
  timer.SetEnabled(false);
  clock.Clock.Advance(120000);
  Application().ProcessMessages();
  EXPECT_EQ(ticks, 2);
}
