// Canvas: a 1920x1080 frame stretched into 640x360 at both qualities, and a
// blended 640x360 fill, against OpenCV on the same pixels in the same run
// (cv::resize INTER_NEAREST / INTER_LINEAR, cv::addWeighted), one thread.
// Each side runs interleaved; the median time per call is reported with the
// ratio ours / OpenCV. For the bilinear stretch the largest channel
// difference from OpenCV is reported too (both sample at pixel centres).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <vector>

#include "bench/kzbench.h"
#include "platform/fmxMKzPlatformCanvas.h"

#if KZ_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace kz;

namespace {

using Clock = std::chrono::steady_clock;

// A camera-like picture: smooth gradients with some noise.
std::vector<uint32_t> Frame(int W, int H) {
  std::vector<uint32_t> px(static_cast<size_t>(W) * H);
  std::mt19937 rng(1);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint32_t n = rng() & 15;
      const uint32_t r = (x * 255 / W + n) & 255, g = (y * 255 / H + n) & 255, b = ((x + y) / 8 + n) & 255;
      px[static_cast<size_t>(y) * W + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
    }
  return px;
}

double MedianMs(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  return V.empty() ? 0 : V[V.size() / 2];
}

// Runs both sides Rounds times, interleaved; the median milliseconds of each.
void Compare(benchmark::State& State, const char* Name, int Rounds, const std::function<void()>& Ours,
             const std::function<void()>& Anchor) {
  std::vector<double> ours, anchor;
  for (auto _ : State) {
    for (int i = 0; i < Rounds; ++i) {
      auto t0 = Clock::now();
      Ours();
      ours.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      if (Anchor) {
        t0 = Clock::now();
        Anchor();
        anchor.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      }
    }
  }
  State.counters["ours_ms"] = MedianMs(ours);
  if (!anchor.empty()) {
    State.counters["opencv_ms"] = MedianMs(anchor);
    State.counters["ratio"] = MedianMs(ours) / MedianMs(anchor);
    kzbench::Cost(Name, MedianMs(ours), MedianMs(anchor), "ms");
  } else {
    kzbench::MissingAnchor(Name, "OpenCV was not found at configure time");
  }
}

void Stretch(benchmark::State& State, const char* Name, TKzStretchQuality Quality, int SW, int SH, int DW, int DH) {
  std::vector<uint32_t> src = Frame(SW, SH);
  std::vector<uint32_t> dst(static_cast<size_t>(DW) * DH);
  const TKzPixelSurface s{src.data(), SW, SH, SW}, d{dst.data(), DW, DH, DW};
  const auto ours = [&] {
    TCanvas(d).StretchBitmap(s, TRect(0, 0, SW, SH), TRect(0, 0, DW, DH), Quality);
    benchmark::DoNotOptimize(dst.data());
  };
  std::function<void()> anchor;
#if KZ_HAVE_OPENCV
  cv::setNumThreads(1);
  cv::Mat cs(SH, SW, CV_8UC4, src.data());
  cv::Mat cd(DH, DW, CV_8UC4);
  const int interpolation = Quality == TKzStretchQuality::kzsqLow ? cv::INTER_NEAREST : cv::INTER_LINEAR;
  anchor = [&] { cv::resize(cs, cd, cv::Size(DW, DH), 0, 0, interpolation); };
#endif
  Compare(State, Name, 30, ours, anchor);
#if KZ_HAVE_OPENCV
  if (Quality == TKzStretchQuality::kzsqNormal) {
    int diff = 0;
    const auto* a = reinterpret_cast<const uint8_t*>(dst.data());
    for (size_t i = 0; i < dst.size() * 4; ++i) diff = std::max(diff, std::abs(int(a[i]) - int(cd.data[i])));
    State.counters["max_diff_vs_opencv"] = diff;
  }
#endif
}

void BM_Stretch1080pTo360pNearest(benchmark::State& State) {
  Stretch(State, "canvas_stretch_1080p_640x360/nearest", TKzStretchQuality::kzsqLow, 1920, 1080, 640, 360);
}
void BM_Stretch1080pTo360pBilinear(benchmark::State& State) {
  Stretch(State, "canvas_stretch_1080p_640x360/linear", TKzStretchQuality::kzsqNormal, 1920, 1080, 640, 360);
}
// A scale that is not a whole number: every tap interpolates.
void BM_Stretch720pTo704x396Bilinear(benchmark::State& State) {
  Stretch(State, "canvas_stretch_720p_704x396/linear", TKzStretchQuality::kzsqNormal, 1280, 720, 704, 396);
}

void BM_FillBlended640x360(benchmark::State& State) {
  const int W = 640, H = 360;
  std::vector<uint32_t> dst = Frame(W, H);
  const TKzPixelSurface d{dst.data(), W, H, W};
  const auto ours = [&] {
    TCanvas(d).FillRect(TRect(0, 0, W, H), 0x804F7EA7u);
    benchmark::DoNotOptimize(dst.data());
  };
  std::function<void()> anchor;
#if KZ_HAVE_OPENCV
  cv::setNumThreads(1);
  std::vector<uint32_t> other = Frame(W, H);
  cv::Mat cd(H, W, CV_8UC4, other.data());
  const cv::Mat colour(H, W, CV_8UC4, cv::Scalar(0xA7, 0x7E, 0x4F, 0xFF));
  const double a = 128.0 / 255.0;
  anchor = [&] { cv::addWeighted(colour, a, cd, 1.0 - a, 0.0, cd); };
#endif
  Compare(State, "canvas_fill_blended_640x360", 50, ours, anchor);
}

}  // namespace

BENCHMARK(BM_Stretch1080pTo360pNearest)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Stretch1080pTo360pBilinear)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Stretch720pTo704x396Bilinear)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FillBlended640x360)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
