// Motion detector: milliseconds per frame at 720p, 1080p and 4K and on noise,
// against OpenCV (absdiff, threshold, connectedComponentsWithStats) in the
// same run.
//
// Two comparisons per scene:
//  - frame: ours from the full frame (reduction included, default settings)
//    against OpenCV's INTER_AREA resize to the same working size followed by
//    absdiff, threshold and connected components;
//  - reduced: both sides on the same already reduced frames (ours in
//    full-size mode, so only classification, labelling and regions count).
// OpenCV runs on one thread, like the detector.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <vector>

#include "bench/kzbench.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/video/motion_frames.h"
#include "video/fmxMKzMotionDetector.h"
#include "video/fmxMKzMotionImage.h"

#if KZ_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace kz;
using namespace kztest;

namespace {

using Clock = std::chrono::steady_clock;

// A scene: frames played in a loop; every one differs from the one before.
struct TScene {
  std::vector<TKzMBitmap> Frames;
  std::vector<TKzMBitmap> Reduced;  // the same frames at the working size
};

TScene MovingObject(int W, int H) {
  TScene s;
  const TKzMBitmap background = DetailedBackground(W, H, 5);
  for (int i = 0; i < 2; ++i) {
    TKzMBitmap f = background;
    DrawObject(f, W / 4 + i * W / 40, H / 3, W / 12, W / 12);
    s.Frames.push_back(std::move(f));
  }
  return s;
}

// Noise that survives the reduction: values constant over blocks of the
// reduction factor. Independent: every working pixel of two frames differs.
// Half: half of the working pixels change, at random, the labelling's worst case.
TScene Noise(int W, int H, bool Half) {
  TScene s;
  int ws = 0, hs = 0;
  KzMMotionWorkingSize(W, H, ws, hs);
  std::mt19937 rng(23);
  std::uniform_int_distribution<int> byte(0, 255), coin(0, 1);
  std::vector<uint32_t> base(static_cast<size_t>(ws) * hs);
  for (uint32_t& v : base) v = Bgra(byte(rng), byte(rng), byte(rng));
  for (int i = 0; i < 2; ++i) {
    std::vector<uint32_t> cells = base;
    for (uint32_t& v : cells) {
      if (!Half)
        v = Bgra(byte(rng), byte(rng), byte(rng));
      else if (coin(rng))
        v ^= 0x00404040u;
    }
    TKzMBitmap f(W, H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        f.ScanLine(y)[x] = cells[static_cast<size_t>(y * hs / H) * ws + static_cast<size_t>(x * ws / W)];
    s.Frames.push_back(std::move(f));
  }
  return s;
}

void Reduce(TScene& S) {
  for (const TKzMBitmap& f : S.Frames) {
    int ws = 0, hs = 0;
    KzMMotionWorkingSize(f.Width(), f.Height(), ws, hs);
    TKzMBitmap r;
    KzMReduceBitmap(f, r, ws, hs);
    S.Reduced.push_back(std::move(r));
  }
}

// Median over rounds of the mean milliseconds per frame of Step(i).
double MsPerFrame(int Rounds, int Frames, const std::function<void(int)>& Step) {
  std::vector<double> ms;
  for (int r = 0; r < Rounds; ++r) {
    const auto t0 = Clock::now();
    for (int i = 0; i < Frames; ++i) Step(i);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / Frames);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

#if KZ_HAVE_OPENCV

cv::Mat View(const TKzMBitmap& B) { return cv::Mat(B.Height(), B.Width(), CV_8UC4, const_cast<uint32_t*>(B.Data())); }

// absdiff, the detector's average threshold (sum of three bytes > 3 * 8 + 2),
// connected components with their boxes.
struct TOpenCvDetector {
  cv::Mat Prev, Diff, Sum, Mask, Labels, Stats, Centroids;
  int Count = 0;
  void Compare(const cv::Mat& New) {
    if (!Prev.empty()) {
      cv::absdiff(New, Prev, Diff);
      cv::transform(Diff, Sum, cv::Matx<float, 1, 4>(1, 1, 1, 0));
      cv::threshold(Sum, Sum, 26, 255, cv::THRESH_BINARY);
      Sum.convertTo(Mask, CV_8U);
      Count = cv::connectedComponentsWithStats(Mask, Labels, Stats, Centroids, 4, CV_32S);
    }
    New.copyTo(Prev);
  }
};

#endif

void Run(benchmark::State& State, const std::string& Name, TScene Scene) {
  Reduce(Scene);
  const int n = static_cast<int>(Scene.Frames.size());
  const int pixels = Scene.Frames[0].Width() * Scene.Frames[0].Height();
  const int frames = std::max(8, std::min(200, 400000000 / pixels));
  double ours = 0, oursReduced = 0;
  size_t regions = 0;
  for (auto _ : State) {
    TKzMotionDetector d;
    ours = MsPerFrame(5, frames, [&](int i) { regions += d.DetectChanges(Scene.Frames[i % n], d.oImg); });
    TKzMotionDetector r;
    r.SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode::kzcapmOriginalSize);
    oursReduced = MsPerFrame(5, 200, [&](int i) { r.DetectChanges(Scene.Reduced[i % n], Scene.Reduced[(i + 1) % n]); });
#if KZ_HAVE_OPENCV
    TOpenCvDetector cvFull, cvReduced;
    cv::Mat small;
    const cv::Size working(Scene.Reduced[0].Width(), Scene.Reduced[0].Height());
    const double anchor = MsPerFrame(5, frames, [&](int i) {
      cv::resize(View(Scene.Frames[i % n]), small, working, 0, 0, cv::INTER_AREA);
      cvFull.Compare(small);
    });
    const double anchorReduced = MsPerFrame(5, 200, [&](int i) { cvReduced.Compare(View(Scene.Reduced[i % n])); });
    State.counters["opencv_ms"] = anchor;
    State.counters["ratio"] = ours / anchor;
    State.counters["opencv_reduced_ms"] = anchorReduced;
    State.counters["ratio_reduced"] = oursReduced / anchorReduced;
    kzbench::Anchor(Name, anchor);
    kzbench::Anchor(Name + "/reduced", anchorReduced);
    State.counters["opencv_labels"] = cvReduced.Count - 1;
#endif
  }
  State.counters["ours_ms"] = ours;
  kzbench::Ours(Name, ours, "ms");
  kzbench::Ours(Name + "/reduced", oursReduced, "ms");
  State.counters["ours_reduced_ms"] = oursReduced;
  State.counters["regions_per_frame"] = static_cast<double>(regions) / (5.0 * frames);
}

void BM_Motion720p(benchmark::State& S) { Run(S, "motion_720p", MovingObject(1280, 720)); }
void BM_Motion1080p(benchmark::State& S) { Run(S, "motion_1080p", MovingObject(1920, 1080)); }
void BM_Motion4K(benchmark::State& S) { Run(S, "motion_4k", MovingObject(3840, 2160)); }
void BM_MotionNoise1080p(benchmark::State& S) { Run(S, "motion_noise_1080p", Noise(1920, 1080, false)); }
void BM_MotionHalfNoise1080p(benchmark::State& S) { Run(S, "motion_half_noise_1080p", Noise(1920, 1080, true)); }

BENCHMARK(BM_Motion720p)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Motion1080p)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Motion4K)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MotionNoise1080p)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MotionHalfNoise1080p)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  SetMainThread();
#if KZ_HAVE_OPENCV
  cv::setNumThreads(1);
#endif
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return kzbench::Finish();
}
