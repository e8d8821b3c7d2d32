// The wall of views against the separate views kzviewer used before it and
// against ffmpeg composing the same streams. kzcamsim serves 16 ports of
// 640x480 and 36 ports of 320x240 Motion-JPEG at 25 fps; each side shows
// them in a 1920x1080 headless window for a window of seconds after a
// warm-up: the wall with RefreshRate 0 and 10, a grid of separate
// TKzCamView controls, and one ffmpeg process reading every stream and
// stacking them into one 1920x1080 picture (xstack, -f null). Reported:
// CPU as a share of one core and painted frames per cell per second (for
// ffmpeg, composed pictures per second). Also the painting alone: 16 cells
// fed pre-decoded frames on the main thread, wall against separate views.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "bench/kzbench.h"
#include "bench/kzstreamfleet.h"
#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzCamMultiView.h"

extern char** environ;

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kScreenW = 1920, kScreenH = 1080;
constexpr int kWarmUpMs = 3000;
constexpr int kWindowMs = 8000;

using kzbench::AppPath;
using kzbench::TChild;

// The cells of an n-cell near-square grid on the screen.
std::vector<TRect> GridCells(int N) {
  int cols = 1;
  while (cols * cols < N) ++cols;
  const int rows = (N + cols - 1) / cols;
  std::vector<TRect> cells;
  for (int i = 0; i < N; ++i) {
    const int c = i % cols, r = i / cols;
    cells.emplace_back(kScreenW * c / cols, kScreenH * r / rows, kScreenW * (c + 1) / cols,
                       kScreenH * (r + 1) / rows);
  }
  return cells;
}

// A view that counts the frames it accepts: each is painted once.
class TCountingView : public TKzCamView {
public:
  using TKzCamView::TKzCamView;
  void ViewerGetImageBMP(TComponent* Sender, const TKzMBitmap& Bitmap, bool Own, uint16_t VideoIndex,
                         const TGUID& GUIDFrom) override {
    bool has;
    int32_t count, h, w, before, after;
    GetLastImageInfo(has, count, h, w, before);
    TKzCamView::ViewerGetImageBMP(Sender, Bitmap, Own, VideoIndex, GUIDFrom);
    GetLastImageInfo(has, count, h, w, after);
    if (before == 0 && after == 1) Accepted.fetch_add(1);
  }
  std::atomic<int64_t> Accepted{0};
};

enum class TSideKind { Wall0, Wall10, Views };

// One side in this process: the cameras play into the wall or the views of
// a shown 1920x1080 headless form.
kzbench::TKzFleetSide RunOurs(TSideKind Kind, const std::vector<std::string>& URLs) {
  const std::vector<TRect> cells = GridCells(static_cast<int>(URLs.size()));
  TForm form(nullptr);
  form.SetSize(kScreenW, kScreenH);
  std::vector<std::unique_ptr<TKzCamera>> cams;
  for (const std::string& url : URLs) {
    cams.push_back(std::make_unique<TKzCamera>(nullptr));
    cams.back()->SetURL(url);
  }
  TKzCamMultiView* wall = nullptr;
  std::vector<TCountingView*> views;
  if (Kind == TSideKind::Views) {
    for (size_t i = 0; i < URLs.size(); ++i) {
      auto* v = new TCountingView(&form);
      v->SetParent(&form);
      v->SetBoundsRect(cells[i]);
      views.push_back(v);
    }
  } else {
    wall = new TKzCamMultiView(&form);
    wall->SetParent(&form);
    wall->SetBounds(0, 0, kScreenW, kScreenH);
    wall->SetRefreshRate(Kind == TSideKind::Wall10 ? 10 : 0);
    for (size_t i = 0; i < URLs.size(); ++i) wall->Viewers().Add().SetBoundsRect(cells[i]);
  }
  form.Show();
  form.PaintPending();
  for (size_t i = 0; i < URLs.size(); ++i) {
    if (wall)
      wall->Viewers()[static_cast<int32_t>(i)].SetVideoSource(cams[i].get());
    else
      views[i]->SetVideoSource(cams[i].get());
    cams[i]->PlayVideoStream();
  }
  auto painted = [&](size_t i) -> int64_t {
    return wall ? static_cast<int64_t>(wall->Viewers()[static_cast<int32_t>(i)].FramesPainted())
                : views[i]->Accepted.load();
  };
  const kzbench::TKzFleetSide side = kzbench::KzMeasureFleet(URLs.size(), kWarmUpMs, kWindowMs, painted,
                                                             [] { return kzbench::CpuSeconds(); });
  if (wall) wall->ClearVideoSource();
  for (TCountingView* v : views) v->SetVideoSource(nullptr);
  for (auto& c : cams) c->Abort();
  PumpUntil([&] { return std::none_of(cams.begin(), cams.end(), [](auto& c) { return c->IsVideoPlaying(); }); },
            5000);
  return side;
}

// One ffmpeg reading every stream and stacking them into one picture.
kzbench::TKzFleetSide RunFfmpeg(const std::vector<std::string>& URLs, const std::string& Dir) {
  const std::vector<TRect> cells = GridCells(static_cast<int>(URLs.size()));
  std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin",
                                   "-progress", Dir + "/progress"};
  std::string graph, stack, layout;
  for (size_t i = 0; i < URLs.size(); ++i) {
    argv.insert(argv.end(), {"-f", "mjpeg", "-i", URLs[i]});
    const TRect& c = cells[i];
    char part[96];
    std::snprintf(part, sizeof part, "[%zu:v]scale=%d:%d[v%zu];", i, c.Width(), c.Height(), i);
    graph += part;
    std::snprintf(part, sizeof part, "[v%zu]", i);
    stack += part;
    std::snprintf(part, sizeof part, "%s%d_%d", i > 0 ? "|" : "", c.Left, c.Top);
    layout += part;
  }
  graph += stack + "xstack=inputs=" + std::to_string(URLs.size()) + ":layout=" + layout + ":fill=black[out]";
  argv.insert(argv.end(), {"-filter_complex", graph, "-map", "[out]", "-f", "null", "-"});
  TChild ffmpeg;
  if (!ffmpeg.Start(argv, false)) return {};
  kzbench::TKzFleetSide composed = kzbench::KzMeasureFleet(
      1, kWarmUpMs, kWindowMs, [&](size_t) { return kzbench::KzProgressFrames(Dir + "/progress"); },
      [&] { return kzbench::KzProcessCpuSeconds(ffmpeg.Pid); });
  ffmpeg.Stop();
  // Every composed picture holds a frame of every cell.
  composed.Fps.assign(URLs.size(), composed.Fps.empty() ? 0 : composed.Fps[0]);
  return composed;
}

// kzcamsim serving Ports ports of Size; their URLs, empty on failure.
std::vector<std::string> StartSim(TChild& Sim, int Ports, const std::string& Size) {
  std::vector<std::string> urls;
  if (!Sim.Start({AppPath("kzcamsim"), "--port", "0", "--ports", std::to_string(Ports), "--size", Size, "--fps", "25",
                  "--quiet"},
                 true))
    return urls;
  char line[512];
  while (static_cast<int>(urls.size()) < Ports && std::fgets(line, sizeof line, Sim.Out)) {
    const std::string text = line;
    const size_t at = text.find("http://");
    if (text.find("streaming on") != std::string::npos && at != std::string::npos)
      urls.push_back(text.substr(at, text.find_first_of("\r\n", at) - at));
  }
  return urls;
}

void BM_WallOfStreams(benchmark::State& State) {
  const int n = static_cast<int>(State.range(0));
  const std::string size = n == 16 ? "640x480" : "320x240";
  const std::string name = "wall_" + std::to_string(n) + "x" + size;
  const std::string dir = "/tmp/kzbench-wall-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  TChild sim;
  const std::vector<std::string> urls = StartSim(sim, n, size);
  if (static_cast<int>(urls.size()) < n) {
    State.SkipWithError("kzcamsim did not start");
    kzbench::MissingAnchor(name + "_cpu_vs_views", "kzcamsim did not report its ports");
    return;
  }
  kzbench::TKzFleetSide wall0, wall10, views, ffmpeg;
  for (auto _ : State) {
    const auto t0 = Clock::now();
    wall0 = RunOurs(TSideKind::Wall0, urls);
    wall10 = RunOurs(TSideKind::Wall10, urls);
    views = RunOurs(TSideKind::Views, urls);
    ffmpeg = RunFfmpeg(urls, dir);
    State.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
  }
  sim.Stop();
  std::filesystem::remove_all(dir);
  KzInetShutdown();
  if (ffmpeg.CpuShare <= 0) {
    kzbench::MissingAnchor(name + "_cpu_vs_ffmpeg", "ffmpeg did not run");
  } else {
    kzbench::Cost(name + "_cpu_vs_ffmpeg", wall0.CpuShare, ffmpeg.CpuShare, "cores");
    kzbench::Cost(name + "_refresh10_cpu_vs_ffmpeg", wall10.CpuShare, ffmpeg.CpuShare, "cores");
  }
  kzbench::Cost(name + "_cpu_vs_views", wall0.CpuShare, views.CpuShare, "cores");
  kzbench::Rate(name + "_fps_vs_views", wall0.Min(), views.Min(), "fps/cell");
  std::printf(
      "\n%d cameras %s at 25 fps from kzcamsim into 1920x1080 (%u cores)\n"
      "                         painted fps/cell min   mean    CPU (%% of one core)\n"
      "  wall, RefreshRate 0          %5.1f  %5.1f    %5.1f\n"
      "  wall, RefreshRate 10         %5.1f  %5.1f    %5.1f\n"
      "  separate views               %5.1f  %5.1f    %5.1f\n"
      "  ffmpeg xstack                %5.1f  %5.1f    %5.1f\n"
      "  CPU ratios: wall / views %.2f, wall / ffmpeg %.2f, wall(10) / ffmpeg %.2f\n",
      n, size.c_str(), std::thread::hardware_concurrency(), wall0.Min(), wall0.Mean(), 100 * wall0.CpuShare,
      wall10.Min(), wall10.Mean(), 100 * wall10.CpuShare, views.Min(), views.Mean(), 100 * views.CpuShare,
      ffmpeg.Min(), ffmpeg.Mean(), 100 * ffmpeg.CpuShare, views.CpuShare > 0 ? wall0.CpuShare / views.CpuShare : 0,
      ffmpeg.CpuShare > 0 ? wall0.CpuShare / ffmpeg.CpuShare : 0,
      ffmpeg.CpuShare > 0 ? wall10.CpuShare / ffmpeg.CpuShare : 0);
}
BENCHMARK(BM_WallOfStreams)->Arg(16)->Arg(36)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// ---- The painting alone: 16 cells of 480x270 fed 640x480 frames on the
// main thread, every frame painted, CPU seconds per round of 16 frames.

class TFrameSource : public TKzVideoSource {
public:
  TFrameSource() : TKzVideoSource(nullptr) {}
  void Abort() override {}
  void Deliver(const TKzMBitmap& Frame) {
    LockConsumers();
    for (IKzCamViewConsumer* v : Consumers().CamViews) v->ViewerGetImageBMP(this, Frame, true, 0, TGUID{});
    UnlockConsumers();
  }
};

double PaintRounds(bool Wall, int Rounds) {
  const std::vector<TRect> cells = GridCells(16);
  std::vector<std::unique_ptr<TFrameSource>> sources(16);
  for (auto& s : sources) s = std::make_unique<TFrameSource>();
  std::vector<TKzMBitmap> frames;
  for (int k = 0; k < 4; ++k) {
    frames.emplace_back(640, 480);
    std::fill(frames.back().Data(), frames.back().Data() + frames.back().GetLength(), 0xFF102030u + 0x101010u * k);
  }
  double cpu = 0;
  {
    TForm form(nullptr);
    form.SetSize(kScreenW, kScreenH);
    TKzCamMultiView* wall = nullptr;
    std::vector<TKzCamView*> views;
    if (Wall) {
      wall = new TKzCamMultiView(&form);
      wall->SetParent(&form);
      wall->SetBounds(0, 0, kScreenW, kScreenH);
      for (int i = 0; i < 16; ++i) wall->Viewers().Add().SetBoundsRect(cells[static_cast<size_t>(i)]);
    } else {
      for (int i = 0; i < 16; ++i) {
        views.push_back(new TKzCamView(&form));
        views.back()->SetParent(&form);
        views.back()->SetBoundsRect(cells[static_cast<size_t>(i)]);
      }
    }
    form.Show();
    form.PaintPending();
    for (int i = 0; i < 16; ++i) {
      if (wall)
        wall->Viewers()[i].SetVideoSource(sources[static_cast<size_t>(i)].get());
      else
        views[static_cast<size_t>(i)]->SetVideoSource(sources[static_cast<size_t>(i)].get());
    }
    const double cpu0 = kzbench::CpuSeconds();
    for (int r = 0; r < Rounds; ++r) {
      for (auto& s : sources) s->Deliver(frames[static_cast<size_t>(r) % frames.size()]);
      PumpUntil([] { return PendingMainThreadWork() == 0 && KzMessages().QueuedCount() == 0; }, 1000);
      form.PaintPending();
    }
    cpu = kzbench::CpuSeconds() - cpu0;
    if (wall) wall->ClearVideoSource();
    for (TKzCamView* v : views) v->SetVideoSource(nullptr);
  }
  return cpu / Rounds;
}

void BM_WallPaintingAlone(benchmark::State& State) {
  double wall = 0, views = 0;
  for (auto _ : State) {
    wall = PaintRounds(true, 200);
    views = PaintRounds(false, 200);
  }
  State.counters["wall_ms_per_round"] = 1000 * wall;
  State.counters["views_ms_per_round"] = 1000 * views;
  kzbench::Cost("wall_paint_16x640x480_into_1080p", 1000 * wall, 1000 * views, "ms CPU/round");
}
BENCHMARK(BM_WallPaintingAlone)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
