// The single-source chain fed realistic 1080p Motion-JPEG from memory:
// frames delivered to a consumer per second when fed as fast as it takes
// them, against TurboJPEG decoding the same frames on one thread (what
// tjbench measures); and the latency from the last byte of a frame entering
// the fetch thread to the consumer holding the bitmap, fed at half and at
// twice the decode rate (the newest frame wins, memory stays flat).
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "bench/kzbench.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzGetData.h"
#include "video/fmxMKzImageWrapper.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kW = 1920, kH = 1080, kFrames = 24;

// Camera-like frames: a moving gradient with sensor noise.
std::vector<std::vector<uint8_t>> MakeFrames() {
  std::vector<std::vector<uint8_t>> frames;
  std::mt19937 rng(7);
  TKzImageWrapper w;
  TKzMBitmap& b = w.GetBitmap();
  b.SetSize(kW, kH);
  for (int f = 0; f < kFrames; ++f) {
    for (int y = 0; y < kH; ++y) {
      uint32_t* row = b.ScanLine(y);
      for (int x = 0; x < kW; ++x) {
        const int n = static_cast<int>(rng() % 24) - 12;
        const int r = std::clamp((x + f * 8) * 255 / kW + n, 0, 255);
        const int g = std::clamp(y * 255 / kH + n, 0, 255);
        const int bl = std::clamp(((x / 64 + y / 64) % 2) * 80 + 60 + n, 0, 255);
        row[x] = 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(bl);
      }
    }
    TMemoryStream s;
    w.SaveToStream(s, nullptr, 85);
    frames.emplace_back(s.Memory(), s.Memory() + s.Size());
  }
  return frames;
}

const std::vector<std::vector<uint8_t>>& Frames() {
  static const auto frames = MakeFrames();
  return frames;
}

double TurboDecodeFps() {
  tjhandle tj = tjInitDecompress();
  std::vector<uint8_t> out(static_cast<size_t>(kW) * kH * 4);
  const auto start = Clock::now();
  int n = 0;
  for (int round = 0; round < 3; ++round)
    for (const auto& f : Frames()) {
      tjDecompress2(tj, f.data(), static_cast<unsigned long>(f.size()), out.data(), kW, 0, kH, TJPF_BGRX, 0);
      ++n;
    }
  tjDestroy(tj);
  return n / std::chrono::duration<double>(Clock::now() - start).count();
}

struct TCountingView : IKzCamViewConsumer {
  std::mutex Lock;
  std::vector<Clock::time_point> Arrivals;
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap&, bool, uint16_t, const TGUID&) override {
    std::lock_guard<std::mutex> g(Lock);
    Arrivals.push_back(Clock::now());
  }
  size_t Count() {
    std::lock_guard<std::mutex> g(Lock);
    return Arrivals.size();
  }
};

struct TRun {
  double Fps = 0;
  double MedianMs = 0, P99Ms = 0, MaxMs = 0;
};

// Feeds Count frames; GapMs 0 feeds as fast as the chain takes them.
TRun Feed(int Count, double GapMs) {
  TComponent owner(nullptr);
  TKzConsumerLists lists;
  TCountingView view;
  lists.CamViews.push_back(&view);
  auto* chain = new TKzGetData(&owner, lists, TGUID{}, 1 << 20);
  chain->Decode().SetFramePerSec(100000);  // no pacing: measure the chain itself
  chain->Run();
  std::vector<Clock::time_point> fed;
  std::atomic<bool> feeding{true};
  const auto start = Clock::now();
  std::thread feeder([&] {
    for (int i = 0; i < Count; ++i) {
      const auto& f = Frames()[static_cast<size_t>(i) % Frames().size()];
      chain->IsCheckData();
      chain->CopyFromBuffer(f.data(), static_cast<int64_t>(f.size()));
      fed.push_back(Clock::now());
      if (GapMs > 0) std::this_thread::sleep_until(start + std::chrono::microseconds(int64_t((i + 1) * GapMs * 1000)));
    }
    feeding = false;
  });
  feeder.join();
  PumpUntil([&] { return chain->PendingBytes() == 0 && chain->Decode().PendingBytes() == 0; }, 10000);
  PumpUntil([] { return false; }, 200);  // the last frame's decode and draw
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  KzMFreeThread(chain);
  TRun r;
  std::vector<double> lat;
  {
    std::lock_guard<std::mutex> g(view.Lock);
    r.Fps = view.Arrivals.size() / seconds;
    // Each arrival belongs to the newest frame fed before it.
    for (const auto& a : view.Arrivals) {
      auto it = std::upper_bound(fed.begin(), fed.end(), a);
      if (it != fed.begin()) lat.push_back(std::chrono::duration<double, std::milli>(a - *(it - 1)).count());
    }
  }
  std::sort(lat.begin(), lat.end());
  if (!lat.empty()) {
    r.MedianMs = lat[lat.size() / 2];
    r.P99Ms = lat[lat.size() * 99 / 100];
    r.MaxMs = lat.back();
  }
  return r;
}

void BM_LiveChain1080p(benchmark::State& State) {
  double turbo = 0;
  TRun flat, half, twice;
  for (auto _ : State) {
    turbo = TurboDecodeFps();
    flat = Feed(120, 0);
    half = Feed(60, 2000.0 / turbo);
    twice = Feed(120, 500.0 / turbo);
  }
  State.counters["chain_fps"] = flat.Fps;
  State.counters["turbo_fps"] = turbo;
  State.counters["ratio"] = flat.Fps / turbo;
  kzbench::Rate("live_chain_1080p", flat.Fps, turbo, "frames/s");
  State.counters["decode_ms"] = 1000.0 / turbo;
  State.counters["lat_median_ms"] = half.MedianMs;
  State.counters["lat_p99_ms"] = half.P99Ms;
  State.counters["overfed_lat_max_ms"] = twice.MaxMs;
}

BENCHMARK(BM_LiveChain1080p)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
