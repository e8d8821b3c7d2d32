// Multi-source pipeline: 16 senders x 640x480 Motion-JPEG at 25 fps fed in
// process for a few seconds, as a receiver's network threads would, into one
// chain with a counting view and the default VideoLatency of 1000 ms.
// Reported: frames fed and drawn, CPU time of the whole process per frame.
// The anchor decodes the same frames with plain TurboJPEG (tjDecompress2 to
// BGRA, as tjbench does) in the same run; ratio = anchor CPU per frame /
// ours (1.0: the chain costs no more than bare decoding). The library's JPEG
// decoder alone on the same frames is shown too.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <turbojpeg.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench/kzbench.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzImageWrapper.h"
#include "video/fmxMKzMultiGetData.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSenders = 16;
constexpr int kWidth = 640, kHeight = 480;
constexpr int kFps = 25;
constexpr int kSeconds = 8;
constexpr int kDistinct = 8;  // frames per sender, played in a loop
constexpr int kFeeders = 4;   // network threads

// A camera-like picture: gradients, texture and a moving block.
std::vector<uint8_t> MakeFrame(int Sender, int Index) {
  TKzMBitmap b;
  b.SetSize(kWidth, kHeight);
  uint32_t seed = static_cast<uint32_t>(Sender * 7919 + Index * 104729 + 1);
  for (int y = 0; y < kHeight; ++y) {
    uint32_t* row = b.ScanLine(y);
    for (int x = 0; x < kWidth; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 28);
      const int r = (x * 255 / kWidth + Sender * 16 + noise) & 255;
      const int g = (y * 255 / kHeight + noise) & 255;
      const int bl = static_cast<int>(128 + 100 * std::sin((x + y + Index * 9) / 23.0)) & 255;
      row[x] = 0xFF000000u | (r << 16) | (g << 8) | bl;
    }
  }
  b.FillRect(TRect{40 + Index * 30, 100, 140 + Index * 30, 220}, 0xFF202020u);
  TMemoryStream s;
  KzCodecEncodeJPEG(b, s, 80);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

struct TBenchOwner : IKzMultiSourceOwner {
  TComponent Component{nullptr};
  TComponent* OwnerComponent() override { return &Component; }
  TKzSessionKey SessionKey() override { return 1; }
};

struct TCountingView : IKzCamViewConsumer {
  std::atomic<uint64_t> Frames{0};
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap&, bool, uint16_t, const TGUID&) override { ++Frames; }
};

struct TResult {
  uint64_t Fed = 0, Drawn = 0, Decoded = 0;
  double Cpu = 0, Wall = 0;
};

TResult RunChain(const std::vector<std::vector<std::vector<uint8_t>>>& Frames) {
  TBenchOwner owner;
  TKzConsumerLists lists;
  TCountingView view;
  lists.CamViews.push_back(&view);
  auto* fetch = new TKzMultiGetData(owner, lists);
  fetch->Run();
  std::vector<TGUID> guids(kSenders);
  for (TGUID& g : guids) g = KzCreateGUID();
  std::atomic<uint64_t> fed{0};
  const double cpu0 = kzbench::CpuSeconds();
  const auto t0 = Clock::now();
  std::vector<std::thread> feeders;
  for (int f = 0; f < kFeeders; ++f)
    feeders.emplace_back([&, f] {
      TKzInfo info;
      TMemoryStream chunk;
      for (int k = 0; k < kFps * kSeconds; ++k)
        for (int s = f; s < kSenders; s += kFeeders) {
          std::this_thread::sleep_until(t0 + std::chrono::microseconds(k * 1000000 / kFps + s * 2500));
          const std::vector<uint8_t>& jpeg = Frames[s][k % kDistinct];
          std::vector<uint8_t> framed;
          KzAppendFramedImage(framed, *KzFindFrameFormat(TKzEncodingType::kzetJPEG), jpeg.data(),
                              static_cast<uint32_t>(jpeg.size()), int64_t{k} * 1000 / kFps, 1000 / kFps);
          chunk.SetSize(0);
          chunk.Write(framed.data(), static_cast<int64_t>(framed.size()));
          TKzHeaderPack header;
          header.GUIDFrom = guids[s];
          fetch->CopyFrom((100 + s) * 256 + DATA_TYPE_VIDEO, header, chunk, 0, info);
          ++fed;
        }
    });
  for (auto& t : feeders) t.join();
  // Drain: the last frames are shown VideoLatency after they arrive.
  const auto until = Clock::now() + std::chrono::seconds(4);
  while (view.Frames.load() < fed.load() && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  TResult r;
  r.Cpu = kzbench::CpuSeconds() - cpu0;
  r.Wall = std::chrono::duration<double>(Clock::now() - t0).count();
  r.Fed = fed.load();
  r.Drawn = view.Frames.load();
  r.Decoded = fetch->Decode().DecodedFrames();
  KzMFreeThread(fetch);
  return r;
}

// The library's own JPEG decoding of the same frames on one thread: what
// the chain spends beyond it is the chain's.
double RunWrapper(const std::vector<std::vector<std::vector<uint8_t>>>& Frames, uint64_t Count) {
  TKzImageWrapper img;
  TMemoryStream s;
  const double cpu0 = kzbench::CpuSeconds();
  for (uint64_t i = 0; i < Count; ++i) {
    const std::vector<uint8_t>& jpeg = Frames[i % kSenders][(i / kSenders) % kDistinct];
    s.SetSize(0);
    s.Write(jpeg.data(), static_cast<int64_t>(jpeg.size()));
    s.SetPosition(0);
    if (!img.LoadFromStream(s, static_cast<int64_t>(jpeg.size()))) std::fprintf(stderr, "wrapper: %s\n", img.ErrorText().c_str());
  }
  return kzbench::CpuSeconds() - cpu0;
}

double RunAnchor(const std::vector<std::vector<std::vector<uint8_t>>>& Frames, uint64_t Count) {
  tjhandle tj = tjInitDecompress();
  std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight * 4);
  const double cpu0 = kzbench::CpuSeconds();
  for (uint64_t i = 0; i < Count; ++i) {
    const std::vector<uint8_t>& jpeg = Frames[i % kSenders][(i / kSenders) % kDistinct];
    if (tjDecompress2(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), out.data(), kWidth, 0, kHeight,
                      TJPF_BGRA, 0) != 0)
      std::fprintf(stderr, "anchor: %s\n", tjGetErrorStr2(tj));
  }
  const double cpu = kzbench::CpuSeconds() - cpu0;
  tjDestroy(tj);
  return cpu;
}

void BM_MultiSource16x640x480x25(benchmark::State& State) {
  std::vector<std::vector<std::vector<uint8_t>>> frames(kSenders);
  size_t bytes = 0;
  for (int s = 0; s < kSenders; ++s)
    for (int i = 0; i < kDistinct; ++i) {
      frames[s].push_back(MakeFrame(s, i));
      bytes += frames[s].back().size();
    }
  TResult ours;
  double anchorCpu = 0, wrapperCpu = 0;
  for (auto _ : State) {
    ours = RunChain(frames);
    anchorCpu = RunAnchor(frames, ours.Fed);
    wrapperCpu = RunWrapper(frames, ours.Fed);
  }
  const double wrapperPerFrame = wrapperCpu * 1000 / std::max<uint64_t>(ours.Fed, 1);
  const double oursPerFrame = ours.Cpu * 1000 / std::max<uint64_t>(ours.Fed, 1);
  const double anchorPerFrame = anchorCpu * 1000 / std::max<uint64_t>(ours.Fed, 1);
  State.counters["fed"] = static_cast<double>(ours.Fed);
  State.counters["drawn"] = static_cast<double>(ours.Drawn);
  State.counters["drawn_pct"] = 100.0 * ours.Drawn / std::max<uint64_t>(ours.Fed, 1);
  State.counters["cpu_s"] = ours.Cpu;
  State.counters["cpu_cores"] = ours.Cpu / ours.Wall;
  State.counters["ms_per_frame"] = oursPerFrame;
  State.counters["anchor_ms_per_frame"] = anchorPerFrame;
  State.counters["ratio"] = anchorPerFrame / oursPerFrame;
  kzbench::Cost("multi_source_16x640x480x25", oursPerFrame, anchorPerFrame, "ms CPU/frame");
  State.counters["decoder_ms_per_frame"] = wrapperPerFrame;
  std::printf(
      "\nmulti-source, %d senders x %dx%d @ %d fps for %d s (mean JPEG %zu bytes), 2-core machine\n"
      "  fed %llu, decoded %llu, drawn %llu (%.1f%%)\n"
      "  ours:   CPU %.2f s over %.2f s wall (%.2f cores), %.3f ms CPU per frame\n"
      "  anchor: tjDecompress2 to BGRA, %.3f ms CPU per frame\n"
      "  the library's JPEG decoder alone (TKzImageWrapper, one thread): %.3f ms CPU per frame\n"
      "  ratio (anchor / ours): %.2f\n",
      kSenders, kWidth, kHeight, kFps, kSeconds, bytes / (kSenders * kDistinct),
      static_cast<unsigned long long>(ours.Fed), static_cast<unsigned long long>(ours.Decoded),
      static_cast<unsigned long long>(ours.Drawn),
      100.0 * ours.Drawn / std::max<uint64_t>(ours.Fed, 1), ours.Cpu, ours.Wall, ours.Cpu / ours.Wall, oursPerFrame,
      anchorPerFrame, wrapperPerFrame, anchorPerFrame / oursPerFrame);
}

BENCHMARK(BM_MultiSource16x640x480x25)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
