// Per-frame pixel work against its anchor, interleaved in the same run, one
// thread: YUV to BGRA at 1080p against libyuv (I420ToARGB, I422ToARGB,
// NV12ToARGB, YUY2ToARGB: its own coefficients, the same work), the
// temporal smoothing at 1080p against a plain copy of the frame, and the
// bilinear 1280x720 -> 704x396 stretch of CopyRect against OpenCV's resize
// INTER_LINEAR (the canvas's stretch: canvas_bench). Each side's cost is the
// fastest of the interleaved rounds in the thread's CPU time; reported
// through kzbench.h.
#include <libyuv/convert_argb.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "bench/kzbench.h"
#include "foundation/fmxMKzBitmap.h"
#include "platform/fmxMKzPlatformClock.h"
#include "video/Fmxmkzyuvtorgb.h"

#if KZ_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace kz;

namespace {

constexpr int W = 1920, H = 1080;

// CPU time of this thread: the machine is shared, and time spent waiting
// for a core is neither side's cost.
double ThreadMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The least disturbed of the rounds: other work on the machine only ever
// adds time.
double Fastest(const std::vector<double>& V) { return *std::min_element(V.begin(), V.end()); }

// Runs both sides Rounds times, interleaved, and records the fastest of each.
void Compare(const char* Name, int Rounds, const std::function<void()>& Ours, const std::function<void()>& Anchor) {
  std::vector<double> ours, anchor;
  const auto ms = [](const std::function<void()>& F) {
    const double t0 = ThreadMs();
    F();
    return ThreadMs() - t0;
  };
  Ours(), Anchor();  // warm caches and lazy tables
  for (int i = 0; i < Rounds; ++i) {
    ours.push_back(ms(Ours));
    anchor.push_back(ms(Anchor));
  }
  kzbench::Cost(Name, Fastest(ours), Fastest(anchor), "ms");
}

std::vector<uint8_t> Noise(size_t N, uint32_t Seed) {
  std::vector<uint8_t> v(N);
  for (size_t i = 0; i < N; ++i) v[i] = static_cast<uint8_t>((Seed = Seed * 1664525u + 1013904223u) >> 24);
  return v;
}

void Yuv() {
  std::vector<uint32_t> ours(static_cast<size_t>(W) * H), theirs(ours.size());
  uint8_t* dst = reinterpret_cast<uint8_t*>(theirs.data());
  const int cw = W / 2, ySize = W * H;
  const auto i420 = Noise(KzYuvFrameSize(TKzYuvFormat::kzyI420, W, H), 1);
  Compare("yuv_i420_1080p", 40, [&] { KzYuvToRGB(TKzYuvFormat::kzyI420, i420.data(), ours.data(), W, H); },
          [&] {
            const uint8_t* u = i420.data() + ySize;
            libyuv::I420ToARGB(i420.data(), W, u, cw, u + cw * (H / 2), cw, dst, W * 4, W, H);
          });
  // YV16: planar 4:2:2 with V first; libyuv's I422 takes the planes by name.
  const auto yv16 = Noise(KzYuvFrameSize(TKzYuvFormat::kzyYV16, W, H), 2);
  Compare("yuv_i422_1080p", 40, [&] { KzYuvToRGB(TKzYuvFormat::kzyYV16, yv16.data(), ours.data(), W, H); },
          [&] {
            const uint8_t* v = yv16.data() + ySize;
            libyuv::I422ToARGB(yv16.data(), W, v + cw * H, cw, v, cw, dst, W * 4, W, H);
          });
  const auto nv12 = Noise(KzYuvFrameSize(TKzYuvFormat::kzyNV12, W, H), 3);
  Compare("yuv_nv12_1080p", 40, [&] { KzYuvToRGB(TKzYuvFormat::kzyNV12, nv12.data(), ours.data(), W, H); },
          [&] { libyuv::NV12ToARGB(nv12.data(), W, nv12.data() + ySize, W, dst, W * 4, W, H); });
  const auto yuy2 = Noise(KzYuvFrameSize(TKzYuvFormat::kzyYUY2, W, H), 4);
  Compare("yuv_yuy2_1080p", 40, [&] { KzYuvToRGB(TKzYuvFormat::kzyYUY2, yuy2.data(), ours.data(), W, H); },
          [&] { libyuv::YUY2ToARGB(yuy2.data(), W * 2, dst, W * 4, W, H); });
}

// A still noisy scene: the running-average path on every frame.
void Smoothing() {
  TKzVirtualClockScope clock;
  TKzMBitmap frames[2] = {TKzMBitmap(W, H), TKzMBitmap(W, H)};
  for (int f = 0; f < 2; ++f) {
    const auto px = Noise(static_cast<size_t>(W) * H * 4, 10 + f);
    for (size_t i = 0; i < px.size(); ++i) reinterpret_cast<uint8_t*>(frames[f].Data())[i] = 0x40 + (px[i] & 7);
  }
  TKzMBitmap out, copy(W, H);
  out.SetSmoothImage(true);
  int i = 0;
  for (; i < 3; ++i) out.AssignKzMBitmap(frames[i & 1]);
  Compare("smoothing_1080p_vs_copy", 40, [&] { out.AssignKzMBitmap(frames[i++ & 1]); },
          [&] { memcpy(copy.Data(), frames[i & 1].Data(), static_cast<size_t>(copy.GetSize())); });
  if (out.SmoothCount() != 3)
    kzbench::MissingAnchor("smoothing_1080p_vs_copy", "the smoothing restarted: not the path measured");
}

void Stretch() {
#if KZ_HAVE_OPENCV
  constexpr int SW = 1280, SH = 720, DW = 704, DH = 396;
  TKzMBitmap src(SW, SH), dst(DW, DH);
  const auto px = Noise(static_cast<size_t>(SW) * SH * 4, 20);
  memcpy(src.Data(), px.data(), px.size());
  cv::setNumThreads(1);
  cv::Mat cs(SH, SW, CV_8UC4, src.Data()), cd(DH, DW, CV_8UC4);
  Compare("copyrect_720p_704x396/linear", 100, [&] { dst.StretchDraw(dst.ClientRect(), src); },
          [&] { cv::resize(cs, cd, cv::Size(DW, DH), 0, 0, cv::INTER_LINEAR); });
#else
  kzbench::MissingAnchor("copyrect_720p_704x396/linear", "OpenCV was not found at configure time");
#endif
}

}  // namespace

int main() {
  Yuv();
  Smoothing();
  Stretch();
  return kzbench::Finish();
}
