// The player's scheduling of many sources: 1, 16 and 64 sources of 20 ms
// blocks (16-bit 16 kHz) arriving with +-20 ms jitter, played on the fake
// wave-out on the real clock. Measured: how late each block starts against
// its due time (p50, p99) and the CPU share of a core, against a reference
// scheduler on the same trace in the same run (one thread sleeping with
// clock_nanosleep to each block's due time).
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <random>
#include <thread>

#include "audio/fmxMKzAudioPlayer.h"
#include "bench/kzbench.h"
#include "platform/fmxMKzPlatformFakeWaveOut.h"

using namespace kz;

namespace {

constexpr int kBlockMs = 20;
constexpr int kBlocks = 100;  // 2 s per source
constexpr int kLatencyMs = 100;
const TKzAudioInfo kFormat{16000, TKzBitsPerSample::kzbps16, 1};
constexpr int kBlockBytes = 16000 * 2 * kBlockMs / 1000;

struct TArrival {
  double At;  // ms after the start
  int Source;
  int Block;
};

double NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

void SleepUntilMs(double Ms) {
  timespec ts{};
  ts.tv_sec = time_t(Ms / 1000.0);
  ts.tv_nsec = long((Ms - double(ts.tv_sec) * 1000.0) * 1e6);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

std::vector<TArrival> Trace(int Sources) {
  std::mt19937 rng(Sources);
  std::uniform_real_distribution<double> jitter(-20, 20);
  std::vector<TArrival> t;
  for (int s = 0; s < Sources; ++s)
    for (int k = 0; k < kBlocks; ++k) t.push_back({std::max(0.0, 30.0 + kBlockMs * k + jitter(rng)), s, k});
  std::stable_sort(t.begin(), t.end(), [](const TArrival& A, const TArrival& B) { return A.At < B.At; });
  return t;
}

double Percentile(std::vector<double> V, double P) {
  if (V.empty()) return 0;
  std::sort(V.begin(), V.end());
  return V[std::min(V.size() - 1, size_t(P * double(V.size() - 1) + 0.5))];
}

// Our player: lateness of every block start and the process's CPU share.
void RunOurs(const std::vector<TArrival>& Trace, int Sources, std::vector<double>& Late, double& Cpu) {
  TKzFakeWaveOutBackend fake;
  IKzWaveOutBackend* previous = KzSetWaveOutBackend(&fake);
  std::vector<TGUID> guids;
  for (int s = 0; s < Sources; ++s) guids.push_back(KzCreateGUID());
  std::vector<double> firstTick(Sources, -1);
  {
    TKzAudioPlayer player(nullptr);
    player.SetLatency(kLatencyMs);
    player.SetActive(true);
    std::string block(kBlockBytes, '\0');
    // The feeding thread stands for the network: its own sleeping is not the player's.
    const double cpu0 = kzbench::CpuSeconds(), feeder0 = kzbench::CpuSeconds(RUSAGE_THREAD), t0 = NowMs();
    double feederSleeps = 0;
    for (const TArrival& a : Trace) {
      const double before = kzbench::CpuSeconds(RUSAGE_THREAD);
      SleepUntilMs(t0 + a.At);
      feederSleeps += kzbench::CpuSeconds(RUSAGE_THREAD) - before;
      // The block's number in its first sample: the played bytes say which block started when.
      block[0] = char(a.Block & 0xFF);
      block[1] = char(a.Source & 0x7F);
      TMemoryStream s;
      s.Write(block.data(), kBlockBytes);
      if (firstTick[a.Source] < 0) firstTick[a.Source] = double(KzMGetTickCount()) - kBlockMs * a.Block;
      player.PlayAudio(s, kBlockBytes, guids[a.Source], 0, true, 1, kFormat.BitsPerSample, kFormat.SamplesPerSec,
                       1000 + kBlockMs * a.Block, kBlockMs);
    }
    const double feederAll = kzbench::CpuSeconds(RUSAGE_THREAD) - feeder0;
    SleepUntilMs(t0 + kBlocks * kBlockMs + 400);
    const double wall = NowMs() - t0;
    (void)feederAll;
    Cpu = (kzbench::CpuSeconds() - cpu0 - feederSleeps) * 1000.0 / wall;
    player.SetActive(false);
  }
  KzSetWaveOutBackend(previous);
  // A block is due at its source's clock: first arrival + its offset + the latency.
  for (const auto& p : fake.Played())
    for (size_t off = 0; off + 1 < p.Bytes.size(); off += kBlockBytes) {
      const int k = uint8_t(p.Bytes[off]), s = uint8_t(p.Bytes[off + 1]);
      if (s >= Sources) continue;
      const double start = p.StartMs + double(off / 2) * 1000.0 / kFormat.SamplesPerSec;
      Late.push_back(start - (firstTick[s] + kBlockMs * k + kLatencyMs));
    }
}

// The reference: one thread sleeping to each due time of the same trace.
void RunReference(const std::vector<TArrival>& Trace, int Sources, std::vector<double>& Late, double& Cpu) {
  std::vector<double> firstArrival(Sources, -1);
  for (const TArrival& a : Trace)
    if (firstArrival[a.Source] < 0) firstArrival[a.Source] = a.At - kBlockMs * a.Block;
  std::vector<double> due;
  for (const TArrival& a : Trace) due.push_back(firstArrival[a.Source] + kBlockMs * a.Block + kLatencyMs);
  std::sort(due.begin(), due.end());
  std::thread worker([&] {
    const double t0 = NowMs(), cpu0 = kzbench::CpuSeconds(RUSAGE_THREAD);
    for (double d : due) {
      SleepUntilMs(t0 + d);
      Late.push_back(NowMs() - (t0 + d));
    }
    Cpu = (kzbench::CpuSeconds(RUSAGE_THREAD) - cpu0) * 1000.0 / (NowMs() - t0);
  });
  worker.join();
}

void BM_PlayerScheduling(benchmark::State& State) {
  const int sources = int(State.range(0));
  const std::vector<TArrival> trace = Trace(sources);
  std::vector<double> ours, reference;
  double oursCpu = 0, referenceCpu = 0;
  for (auto _ : State) {
    RunOurs(trace, sources, ours, oursCpu);
    RunReference(trace, sources, reference, referenceCpu);
  }
  const std::string name = "audio_player_" + std::to_string(sources) + "src";
  const double p50 = Percentile(ours, 0.5), p99 = Percentile(ours, 0.99);
  const double r50 = Percentile(reference, 0.5), r99 = Percentile(reference, 0.99);
  State.counters["late_p50_ms"] = p50;
  State.counters["late_p99_ms"] = p99;
  State.counters["ref_p99_ms"] = r99;
  State.counters["cpu_pct"] = oursCpu * 100;
  State.counters["blocks"] = double(ours.size());
  // Lateness is compared with one millisecond added on both sides (the
  // tick's resolution), so a reference at 0.05 ms does not blow the ratio up.
  kzbench::Cost(name + "_late_p50_ms", p50 + 1, r50 + 1, "ms+1");
  kzbench::Cost(name + "_late_p99_ms", p99 + 1, r99 + 1, "ms+1");
  kzbench::Cost(name + "_cpu", oursCpu * 100, std::max(referenceCpu * 100, 0.001), "%core");
}

}  // namespace

BENCHMARK(BM_PlayerScheduling)->Arg(1)->Arg(16)->Arg(64)->Iterations(1)->Unit(benchmark::kMillisecond);
