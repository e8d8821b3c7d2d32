// Message pump: post-to-handler latency (median, p99) and throughput with 4
// posting threads and 100 targets while the main loop is idle. The anchor is
// the least a hand-over can do: a mutex/condition-variable queue drained by
// the main thread, calling the same kind of handler.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/kzbench.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPosters = 4;
constexpr int kTargets = 100;

int64_t NowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

// One way of getting (target, stamp) from a worker to a handler on the main thread.
struct TPath {
  virtual ~TPath() = default;
  virtual void Post(int Target, int64_t Stamp) = 0;
  // Runs the main loop until Done().
  virtual void RunMain(const std::function<bool()>& Done) = 0;
  std::function<void(int, int64_t)> Handler;
};

struct TPumpPath : TPath {
  std::vector<int> Targets = std::vector<int>(kTargets);
  TPumpPath() {
    for (int i = 0; i < kTargets; ++i)
      KzMessages().RegisterMessageHandler2(&Targets[i], WM_USER, [this, i](TMessage& m) {
        Handler(i, static_cast<int64_t>(m.WParam));
      });
  }
  ~TPumpPath() override {
    for (int& t : Targets) KzMessages().UnRegister2(&t);
  }
  void Post(int Target, int64_t Stamp) override {
    KzMessages().PostMessage2(&Targets[Target], WM_USER, static_cast<WPARAM>(Stamp), 0);
  }
  void RunMain(const std::function<bool()>& Done) override {
    Application().ResetTerminated();
    std::thread watcher([&] {
      while (!Done()) std::this_thread::sleep_for(std::chrono::microseconds(200));
      Application().Terminate();
    });
    Application().Run();
    watcher.join();
    Application().ResetTerminated();
  }
};

struct TAnchorPath : TPath {
  std::mutex Lock;
  std::condition_variable Cond;
  std::deque<std::pair<int, int64_t>> Queue;
  void Post(int Target, int64_t Stamp) override {
    {
      std::lock_guard<std::mutex> g(Lock);
      Queue.emplace_back(Target, Stamp);
    }
    Cond.notify_one();
  }
  void RunMain(const std::function<bool()>& Done) override {
    while (!Done()) {
      std::deque<std::pair<int, int64_t>> batch;
      {
        std::unique_lock<std::mutex> lk(Lock);
        Cond.wait_for(lk, std::chrono::milliseconds(1), [&] { return !Queue.empty(); });
        batch.swap(Queue);
      }
      for (auto& [t, s] : batch) Handler(t, s);
    }
  }
};

struct TResult {
  double MedianUs = 0, P99Us = 0, PerSecond = 0;
};

// Posters send PerThread messages each, pausing GapUs between posts (0: flood).
TResult Measure(TPath& Path, int PerThread, int GapUs) {
  const int total = PerThread * kPosters;
  std::vector<int64_t> latencies;
  latencies.reserve(total);
  std::atomic<int> handled{0};
  Path.Handler = [&](int, int64_t stamp) {
    latencies.push_back(NowNs() - stamp);
    handled.fetch_add(1, std::memory_order_release);
  };
  const auto start = Clock::now();
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p)
    posters.emplace_back([&, p] {
      for (int i = 0; i < PerThread; ++i) {
        Path.Post((p * PerThread + i) % kTargets, NowNs());
        if (GapUs) std::this_thread::sleep_for(std::chrono::microseconds(GapUs));
      }
    });
  Path.RunMain([&] { return handled.load(std::memory_order_acquire) == total; });
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (auto& t : posters) t.join();
  std::sort(latencies.begin(), latencies.end());
  TResult r;
  r.MedianUs = latencies[latencies.size() / 2] / 1000.0;
  r.P99Us = latencies[latencies.size() * 99 / 100] / 1000.0;
  r.PerSecond = total / seconds;
  return r;
}

void Report(benchmark::State& State, const TResult& Ours, const TResult& Anchor, bool Latency) {
  if (Latency) {
    State.counters["median_us"] = Ours.MedianUs;
    State.counters["p99_us"] = Ours.P99Us;
    State.counters["anchor_median_us"] = Anchor.MedianUs;
    State.counters["anchor_p99_us"] = Anchor.P99Us;
    State.counters["p99_ratio"] = Ours.P99Us / Anchor.P99Us;
    kzbench::Cost("pump_latency_p99", Ours.P99Us, Anchor.P99Us, "us");
  } else {
    State.counters["msgs_per_s"] = Ours.PerSecond;
    State.counters["anchor_msgs_per_s"] = Anchor.PerSecond;
    State.counters["ratio"] = Ours.PerSecond / Anchor.PerSecond;
    kzbench::Rate("pump_throughput", Ours.PerSecond, Anchor.PerSecond, "msgs/s");
  }
}

void BM_PumpLatency(benchmark::State& State) {
  TResult ours, anchor;
  for (auto _ : State) {
    TPumpPath pump;
    ours = Measure(pump, 2000, 200);
    TAnchorPath raw;
    anchor = Measure(raw, 2000, 200);
  }
  Report(State, ours, anchor, true);
}

void BM_PumpThroughput(benchmark::State& State) {
  TResult ours, anchor;
  for (auto _ : State) {
    TPumpPath pump;
    ours = Measure(pump, 100000, 0);
    TAnchorPath raw;
    anchor = Measure(raw, 100000, 0);
  }
  Report(State, ours, anchor, false);
}

BENCHMARK(BM_PumpLatency)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PumpThroughput)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
