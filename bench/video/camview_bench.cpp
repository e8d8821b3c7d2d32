// What showing video costs: one view painting a 1080p frame into 640 x 360
// at both stretch qualities, against the canvas's stretch alone and OpenCV's
// resize of the same frame; and a wall of 16 views on one headless form, each
// fed 640 x 480 frames at 25 fps for about five seconds, as a share of one
// core (accept on the feeding thread, repaint messages, painting), against
// OpenCV resizing the same frames to the cells' size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/kzbench.h"
#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzCamView.h"
#include "video/fmxMKzVideoSource.h"
#ifdef KZ_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

class TBenchSource : public TKzVideoSource {
public:
  TBenchSource() : TKzVideoSource(nullptr) {}
  void Abort() override {}
};

TKzMBitmap Gradient(int W, int H, int Shift) {
  TKzMBitmap b(W, H);
  for (int y = 0; y < H; ++y) {
    uint32_t* row = b.ScanLine(y);
    for (int x = 0; x < W; ++x)
      row[x] = 0xFF000000u | uint32_t((x + Shift) * 255 / W & 255) << 16 | uint32_t(y * 255 / H) << 8 |
               uint32_t(((x / 32 + y / 32) & 1) * 160);
  }
  return b;
}

// One view filling a 640 x 360 headless form, attached to Source.
struct TOneView {
  explicit TOneView(TKzVideoSource& Source) {
    Form.SetSize(640, 360);
    View = new TKzCamView(&Form);
    View->SetParent(&Form);
    View->SetAlign(TAlignLayout::Client);
    View->SetShowCaption(false);
    Form.Show();
    Form.PaintPending();
    View->SetVideoSource(&Source);
  }
  ~TOneView() {
    delete View;
    Application().ProcessMessages();
  }
  void Paint() {
    View->RepaintControl();
    Form.PaintPending();
  }
  TForm Form{nullptr};
  TKzCamView* View;
};

// The ratio's name for a quality: the view's nearest or bilinear stretch.
std::string PaintName(bool Low) { return Low ? "view_paint_1080p_640x360/nearest" : "view_paint_1080p_640x360/linear"; }

// One view on a 640 x 360 form (no caption), showing a 1080p frame.
void BM_ViewPaint1080pInto640x360(benchmark::State& State) {
  const auto quality = static_cast<TKzMFrameScaleQuality>(State.range(0));
  TBenchSource source;
  TOneView rig(source);
  rig.View->SetFrameScaleQuality(quality);
  const TKzMBitmap frame = Gradient(1920, 1080, 0);
  rig.View->ViewerGetImageBMP(&source, frame, true, 0, TGUID{});
  double seconds = 0;
  for (auto _ : State) {
    const auto t0 = Clock::now();
    rig.Paint();
    benchmark::DoNotOptimize(rig.Form.Surface().Pixels[640 * 180 + 320]);
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  kzbench::Ours(PaintName(quality == TKzMFrameScaleQuality::kzmfscLow), 1000 * seconds / State.iterations(), "ms");
  State.SetLabel(quality == TKzMFrameScaleQuality::kzmfscLow ? "view, low (nearest)" : "view, normal (bilinear)");
}
BENCHMARK(BM_ViewPaint1080pInto640x360)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Accepting a 1080p frame on the draw thread: the copy into the view.
void BM_ViewAccept1080p(benchmark::State& State) {
  TBenchSource source;
  TOneView rig(source);
  const TKzMBitmap frame = Gradient(1920, 1080, 0);
  for (auto _ : State) {
    rig.View->ViewerGetImageBMP(&source, frame, true, 0, TGUID{});
    State.PauseTiming();
    rig.Paint();  // lets the next frame in
    State.ResumeTiming();
  }
}
BENCHMARK(BM_ViewAccept1080p)->Unit(benchmark::kMillisecond);

// Anchor: the canvas's stretch alone, into a 640 x 360 surface.
void BM_CanvasStretch1080pInto640x360(benchmark::State& State) {
  const auto quality = static_cast<TKzStretchQuality>(State.range(0));
  TKzMBitmap frame = Gradient(1920, 1080, 0);
  std::vector<uint32_t> pixels(640 * 360);
  const TKzPixelSurface target{pixels.data(), 640, 360, 640};
  const TKzPixelSurface source{frame.Data(), 1920, 1080, 1920};
  for (auto _ : State) {
    TCanvas canvas(target);
    canvas.StretchBitmap(source, TRect(0, 0, 1920, 1080), TRect(0, 0, 640, 360), quality);
    benchmark::DoNotOptimize(pixels[640 * 180 + 320]);
  }
  State.SetLabel(quality == TKzStretchQuality::kzsqLow ? "canvas alone, low" : "canvas alone, normal");
}
BENCHMARK(BM_CanvasStretch1080pInto640x360)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

#ifdef KZ_HAVE_OPENCV
// Anchor: OpenCV's resize of the same frame.
void BM_OpenCVResize1080pInto640x360(benchmark::State& State) {
  cv::setNumThreads(1);  // the view paints on one thread
  const int interpolation = State.range(0) == 0 ? cv::INTER_NEAREST : cv::INTER_LINEAR;
  TKzMBitmap frame = Gradient(1920, 1080, 0);
  const cv::Mat src(1080, 1920, CV_8UC4, frame.Data());
  cv::Mat dst(360, 640, CV_8UC4);
  double seconds = 0;
  for (auto _ : State) {
    const auto t0 = Clock::now();
    cv::resize(src, dst, dst.size(), 0, 0, interpolation);
    benchmark::DoNotOptimize(dst.data);
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  kzbench::Anchor(PaintName(State.range(0) == 0), 1000 * seconds / State.iterations());
  State.SetLabel(State.range(0) == 0 ? "cv::resize nearest" : "cv::resize linear");
}
BENCHMARK(BM_OpenCVResize1080pInto640x360)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif

constexpr int kGrid = 4, kCellW = 320, kCellH = 240, kFeedW = 640, kFeedH = 480, kFps = 25;
constexpr double kGridSeconds = 5.0;

// Sixteen views on one form fed from a thread (as the sources' draw threads
// would) while the main loop handles the repaint messages and paints.
void BM_Grid16ViewsAt25fps(benchmark::State& State) {
  const auto quality = static_cast<TKzMFrameScaleQuality>(State.range(0));
  for (auto _ : State) {
    TBenchSource source;
    TForm form(nullptr);
    form.SetSize(kGrid * kCellW, kGrid * kCellH);
    std::vector<TKzCamView*> views;
    for (int i = 0; i < kGrid * kGrid; ++i) {
      auto* v = new TKzCamView(&form);
      v->SetParent(&form);
      v->SetBounds((i % kGrid) * kCellW, (i / kGrid) * kCellH, kCellW, kCellH);
      v->SetTitle("Camera " + std::to_string(i + 1));
      v->SetFrameScaleQuality(quality);
      views.push_back(v);
    }
    form.Show();
    form.PaintPending();
    for (TKzCamView* v : views) v->SetVideoSource(&source);
    std::vector<TKzMBitmap> frames;
    for (int f = 0; f < 8; ++f) frames.push_back(Gradient(kFeedW, kFeedH, f * 40));

    std::atomic<bool> stop{false};
    std::atomic<long> offered{0};
    const double cpu0 = kzbench::CpuSeconds();
    const auto t0 = Clock::now();
    std::thread feeder([&] {
      auto next = Clock::now();
      for (int n = 0; !stop.load(); ++n) {
        for (TKzCamView* v : views) v->ViewerGetImageBMP(&source, frames[n % frames.size()], true, 0, TGUID{});
        offered += static_cast<long>(views.size());
        next += std::chrono::microseconds(1000000 / kFps);
        std::this_thread::sleep_until(next);
      }
    });
    PumpUntil([&] { return Clock::now() - t0 >= std::chrono::duration<double>(kGridSeconds); },
              static_cast<int>(kGridSeconds * 1000) + 1000);
    stop = true;
    feeder.join();
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = kzbench::CpuSeconds() - cpu0;
    double painted = 0;
    for (TKzCamView* v : views) painted += v->GetFPS();
    State.SetIterationTime(wall);
    State.counters["cpu_share_of_one_core"] = cpu / wall;
    State.counters["painted_fps_all_views"] = painted;
    State.counters["offered_fps_all_views"] = offered.load() / wall;
    if (quality != TKzMFrameScaleQuality::kzmfscLow) kzbench::Ours("grid16_640x480_25fps/linear", cpu / wall, "cores");
    std::printf("grid 4x4, 640x480 at 25 fps, %s: %.1f%% of one core, %.0f frames/s painted of %.0f offered\n",
                quality == TKzMFrameScaleQuality::kzmfscLow ? "low" : "normal", 100.0 * cpu / wall, painted,
                offered.load() / wall);
    for (TKzCamView* v : views) delete v;
    PumpUntil([] { return false; }, 50);
  }
}
BENCHMARK(BM_Grid16ViewsAt25fps)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

#ifdef KZ_HAVE_OPENCV
// Anchor for the wall: OpenCV resizing 16 x 25 frames per second to the cells' size.
void BM_Grid16OpenCVResizeAt25fps(benchmark::State& State) {
  const TKzMBitmap frame = Gradient(kFeedW, kFeedH, 0);
  const cv::Mat src(kFeedH, kFeedW, CV_8UC4, const_cast<uint32_t*>(frame.Data()));
  cv::Mat dst(kCellH, kCellW, CV_8UC4);
  const int perSecond = kGrid * kGrid * kFps;
  cv::setNumThreads(1);
  for (auto _ : State) {
    const double cpu0 = kzbench::CpuSeconds();
    for (int i = 0; i < perSecond; ++i) cv::resize(src, dst, dst.size(), 0, 0, cv::INTER_LINEAR);
    const double cpu = kzbench::CpuSeconds() - cpu0;
    State.counters["cpu_share_of_one_core"] = cpu;  // one second of video
    kzbench::Anchor("grid16_640x480_25fps/linear", cpu);
    std::printf("anchor: cv::resize of 400 frames 640x480 -> 320x240 (one second of the wall): %.1f%% of one core\n",
                100.0 * cpu);
  }
}
BENCHMARK(BM_Grid16OpenCVResizeAt25fps)->Iterations(1)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
