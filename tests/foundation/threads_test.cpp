// Worker-thread life cycle, stop-and-wait, the main-thread-safe lock and
// the buffering thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {
// Sleeps on its event until told to stop, like most workers of the library.
class TSleeper : public TKzBaseThread {
public:
  TSleeper() : TKzBaseThread(true, "TSleeper") { CreateEvent(false, false); }
  std::atomic<int> Passes{0};

protected:
  void DoExecute() override {
    while (!Terminated()) {
      Event()->WaitFor(INFINITE);
      ++Passes;
    }
  }
};

// Ends after handing a short job to the main thread, then frees itself.
class TSelfFreeing : public TKzBaseThread {
public:
  TSelfFreeing() : TKzBaseThread(true, "TSelfFreeing") { SetFreeOnTerminate(true); }

protected:
  void DoExecute() override {
    while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Synchronize([] {});
  }
};

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }
}  // namespace

TEST(BaseThread, StatesMoveForwardAndNeverStartedThreadsStillReportTheirEnd) {
  auto* t = new TSleeper;
  int ended = 0;
  t->OnTerminate = [&](TThread*) { ++ended; };
  EXPECT_EQ(t->IsState(), TKzThreadState::kztsNotInit);
  const auto start = Clock::now();
  WaitFinish(t, 30000, true);
  EXPECT_LT(MsSince(start), 10000.0);  // a never-started thread does not wait out the time-out
  EXPECT_EQ(t->IsState(), TKzThreadState::kztsFinish);
  EXPECT_EQ(ended, 1);
  KzMFreeThread(t);
  EXPECT_EQ(t, nullptr);

  auto* u = new TSleeper;
  StartThread(u);
  EXPECT_NE(u->IsState(), TKzThreadState::kztsNotInit);
  u->StartAndFinish();  // already running: only asks it to stop and wakes it
  KzMFreeThread(u);

  auto* v = new TSleeper;
  v->StartAndFinish();  // never started: runs its body once to the end
  EXPECT_TRUE(v->OnlyWaitFinish(50) || v->OnlyWaitFinish(50));
  EXPECT_TRUE(v->IsFinished());
  KzMFreeThread(v);
}

// Stopping wakes each thread: none waits out a time-out (10 s for the
// self-freeing ones) or sleeps forever on its event.
TEST(BaseThread, HundredsOfOwnedAndSelfFreeingThreadsStop) {
  constexpr int kCount = 200;
  std::vector<TSleeper*> owned(kCount);
  std::vector<TSelfFreeing*> selfFreeing(kCount);
  for (auto& t : owned) {
    t = new TSleeper;
    StartThread(t);
  }
  for (auto& t : selfFreeing) {
    t = new TSelfFreeing;
    TSelfFreeing** ref = &t;
    t->OnTerminate = [ref](TThread*) { KzClearThreadRef(*ref); };
    StartThread(t);
  }
  double worst = 0;
  for (auto& t : owned) {
    const auto start = Clock::now();
    KzMFreeThread(t);
    worst = std::max(worst, MsSince(start));
  }
  for (auto& t : selfFreeing) {
    const auto start = Clock::now();
    KzMTerminateThreadAndWaitForFreeing(t, 10);
    EXPECT_EQ(t, nullptr);
    worst = std::max(worst, MsSince(start));
  }
  EXPECT_LT(worst, 5000.0) << "a stop waited for a time-out";
}

TEST(BaseThread, NeverStartedSelfFreeingThreadCallsItsHandlerDirectly) {
  auto* t = new TSelfFreeing;
  t->SetFreeOnTerminate(false);
  TSelfFreeing* ref = t;
  t->OnTerminate = [&](TThread*) { KzClearThreadRef(ref); };
  KzMTerminateThreadAndWaitForFreeing(ref, 10);
  EXPECT_EQ(ref, nullptr);
  delete t;
}

TEST(CriticalSection, MainThreadSafeEnterDoesNotDeadlockAWorkerWaitingForIt) {
  TKzCriticalSection lock;
  std::atomic<bool> held{false};
  std::atomic<bool> handedOver{false};
  std::thread worker([&] {
    lock.SafeEnter();  // a worker: plain enter
    held = true;
    Synchronize([&] { handedOver = true; });  // needs the main thread while holding the lock
    lock.Leave();
  });
  while (!held) std::this_thread::yield();
  lock.SafeEnter();  // main thread: keeps the hand-over queue moving
  EXPECT_TRUE(handedOver);
  lock.Leave();
  worker.join();
}

TEST(Wait, KzMWaitOnTheMainThreadWakesForQueuedWork) {
  std::atomic<bool> ran{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    QueueOnMainThread([&] { ran = true; });
  });
  const auto start = Clock::now();
  KzMWait(60000);
  const double took = MsSince(start);
  worker.join();
  EXPECT_TRUE(ran);
  EXPECT_LT(took, 30000.0);  // woken by the work, not by the end of the wait
}

TEST(DataThread, DeliversEveryByteInOrderInBatches) {
  auto* t = new TKzDataThread(true);
  std::vector<uint8_t> received;  // touched only by the worker until it is stopped
  std::atomic<int64_t> count{0};
  t->OnGetData = [&](TKzDataThread*, TMemoryStream& s, int64_t size) {
    received.insert(received.end(), s.Memory(), s.Memory() + size);
    count += size;
  };
  t->Run();
  constexpr int kTotal = 3 * 1024 * 1024;
  std::thread producer([&] {
    uint8_t chunk[4096];
    for (int sent = 0; sent < kTotal; sent += static_cast<int>(sizeof chunk)) {
      for (size_t i = 0; i < sizeof chunk; ++i) chunk[i] = static_cast<uint8_t>((sent + i) * 7 / 3);
      t->IsCheckData();
      t->CopyFromBuffer(chunk, sizeof chunk);
      TMemoryStream empty;
      t->CopyFrom(empty, 5);  // nothing to copy: appends nothing
    }
  });
  producer.join();
  ASSERT_TRUE(PumpUntil([&] { return count.load() == kTotal; }, 10000));
  KzMFreeThread(t);
  ASSERT_EQ(received.size(), static_cast<size_t>(kTotal));
  for (int i = 0; i < kTotal; ++i) ASSERT_EQ(received[i], static_cast<uint8_t>(i * 7 / 3)) << "at " << i;
}

TEST(DataThread, IsCheckDataThrottlesOnlyAboveTheLimit) {
  auto* t = new TKzDataThread(true);
  std::vector<uint8_t> block(TKzDataThread::MaxPendingBytes, 1);
  t->CopyFromBuffer(block.data(), static_cast<int64_t>(block.size()));
  EXPECT_FALSE(t->IsCheckData());  // exactly at the limit: returns at once

  t->CopyFromBuffer(block.data(), 1);
  std::atomic<bool> returned{false};
  std::thread producer([&] {
    t->IsCheckData();
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(returned) << "a producer above the limit must wait for the thread to drain";
  t->Run();  // draining releases it
  producer.join();
  EXPECT_TRUE(returned);
  KzMFreeThread(t);
}

TEST(DataThread, AbortDropsPendingBytesAndRefusesMore) {
  auto* t = new TKzDataThread(true);
  t->CopyFromBuffer("abc", 3);
  t->Abort();
  EXPECT_EQ(t->PendingBytes(), 0);
  t->CopyFromBuffer("abc", 3);
  EXPECT_EQ(t->PendingBytes(), 0);
  KzMFreeThread(t);
}
