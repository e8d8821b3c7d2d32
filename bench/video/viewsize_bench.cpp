// A wall of sixteen 1080p cameras on two cores: kzcamsim serves 16 ports of
// 1920x1080 Motion-JPEG at 25 fps; 16 TKzCamera objects play them into the
// 4 x 4 cells (480 x 270) of a wall on one headless 1920 x 1080 form, first
// decoding at the size shown (a quarter), then at full size
// (DecodeToViewSize off); the anchor is one ffmpeg process decoding the
// same sixteen streams with -lowres 2 and composing them with xstack.
// Reported per side: frames per second per cell (lowest and mean), CPU as a
// share of one core and CPU per frame shown; the ratios are the scaled
// wall's CPU per frame over the full wall's and over ffmpeg's.
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
#include <thread>
#include <vector>

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

constexpr int kCameras = 16;
constexpr int kGrid = 4;
constexpr int kCellW = 480, kCellH = 270;
constexpr int kWarmUpMs = 3000;
constexpr int kWindowMs = 10000;

using kzbench::AppPath;
using kzbench::TChild;

struct TWallSide {
  kzbench::TKzFleetSide Fleet;
  std::string Scales;  // frames per JPEG scale, of the first camera
};

// The sixteen cameras play into the cells of one wall on a shown headless
// form; a cell counts the frames the wall painted into it.
TWallSide RunWall(const std::vector<std::string>& URLs, bool DecodeToViewSize) {
  TForm form(nullptr);
  form.SetSize(kGrid * kCellW, kGrid * kCellH);
  auto* wall = new TKzCamMultiView(&form);  // owned by the form
  wall->SetParent(&form);
  wall->SetBounds(0, 0, kGrid * kCellW, kGrid * kCellH);
  for (size_t i = 0; i < URLs.size(); ++i) {
    TKzCamViewItem& cell = wall->Viewers().Add();
    cell.SetBounds(int(i % kGrid) * kCellW, int(i / kGrid) * kCellH, kCellW, kCellH);
    cell.SetShowCaption(false);
  }
  form.Show();
  form.PaintPending();
  std::vector<std::unique_ptr<TKzCamera>> cams;
  for (size_t i = 0; i < URLs.size(); ++i) {
    cams.push_back(std::make_unique<TKzCamera>(nullptr));
    cams.back()->SetDecodeToViewSize(DecodeToViewSize);
    wall->Viewers()[static_cast<int32_t>(i)].SetVideoSource(cams.back().get());
    cams.back()->SetURL(URLs[i]);
    cams.back()->PlayVideoStream();
  }
  TWallSide side;
  side.Fleet = kzbench::KzMeasureFleet(
      URLs.size(), kWarmUpMs, kWindowMs,
      [&](size_t i) { return static_cast<int64_t>(wall->Viewers()[static_cast<int32_t>(i)].FramesPainted()); },
      [] { return kzbench::CpuSeconds(); });
  side.Scales = cams[0]->DecodeScaleCounts().Summary();
  wall->ClearVideoSource();
  for (auto& c : cams) c->Abort();
  PumpUntil([&] { return std::none_of(cams.begin(), cams.end(), [](auto& c) { return c->IsVideoPlaying(); }); },
            5000);
  Application().ProcessMessages();
  return side;
}

// One ffmpeg: every stream decoded at a quarter (-lowres 2), the sixteen
// pictures composed into one 1920 x 1080 wall, thrown away.
kzbench::TKzFleetSide RunFfmpeg(const std::vector<std::string>& URLs, const std::string& Dir) {
  std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-progress",
                                Dir + "/progress"};
  std::string inputs, layout;
  for (size_t i = 0; i < URLs.size(); ++i) {
    argv.insert(argv.end(), {"-lowres", "2", "-i", URLs[i]});
    inputs += "[" + std::to_string(i) + ":v]";
    if (i) layout += "|";
    layout += std::to_string(int(i % kGrid) * kCellW) + "_" + std::to_string(int(i / kGrid) * kCellH);
  }
  argv.insert(argv.end(), {"-filter_complex",
                           inputs + "xstack=inputs=" + std::to_string(URLs.size()) + ":layout=" + layout, "-f",
                           "null", "-"});
  TChild ffmpeg;
  if (!ffmpeg.Start(argv, false)) return {};
  // Every composed picture holds one picture of every cell.
  return kzbench::KzMeasureFleet(
      URLs.size(), kWarmUpMs, kWindowMs, [&](size_t) { return kzbench::KzProgressFrames(Dir + "/progress"); },
      [&] { return ffmpeg.Cpu(); });
}

void BM_WallOfSixteen1080pCameras(benchmark::State& State) {
  const std::string dir = "/tmp/kzbench-viewsize-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string scaledName = "wall16_1080p_480x270_scaled_vs_full_cpu";
  const std::string ffmpegName = "wall16_1080p_480x270_scaled_vs_ffmpeg_lowres_cpu";
  TChild sim;
  if (!sim.Start({AppPath("kzcamsim"), "--port", "0", "--ports", std::to_string(kCameras), "--size", "1920x1080",
                  "--fps", "25", "--quiet"},
                 true)) {
    State.SkipWithError("kzcamsim did not start");
    kzbench::MissingAnchor(scaledName, "kzcamsim did not start");
    return;
  }
  std::vector<std::string> urls;
  char line[512];
  while (static_cast<int>(urls.size()) < kCameras && std::fgets(line, sizeof line, sim.Out)) {
    const std::string text = line;
    const size_t at = text.find("http://");
    if (text.find("streaming on") != std::string::npos && at != std::string::npos)
      urls.push_back(text.substr(at, text.find_first_of("\r\n", at) - at));
  }
  if (static_cast<int>(urls.size()) < kCameras) {
    State.SkipWithError("kzcamsim did not report its ports");
    kzbench::MissingAnchor(scaledName, "kzcamsim did not report its ports");
    return;
  }
  TWallSide scaled, full;
  kzbench::TKzFleetSide ffmpeg;
  for (auto _ : State) {
    const auto t0 = Clock::now();
    scaled = RunWall(urls, true);
    full = RunWall(urls, false);
    KzInetShutdown();
    ffmpeg = RunFfmpeg(urls, dir);
    State.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
  }
  sim.Stop();
  std::filesystem::remove_all(dir);
  if (ffmpeg.Fps.empty() || ffmpeg.Mean() <= 0) kzbench::MissingAnchor(ffmpegName, "ffmpeg -lowres 2 with xstack gave no frames");
  // The machine is shared: a side that gets less CPU shows fewer frames, so
  // the ratios compare CPU per frame delivered to a cell.
  const auto msPerFrame = [](const kzbench::TKzFleetSide& S) {
    const double fps = S.Mean() * double(S.Fps.size());
    return fps > 0 ? 1000 * S.CpuShare / fps : 0;
  };
  const double scaledMs = msPerFrame(scaled.Fleet), fullMs = msPerFrame(full.Fleet), ffmpegMs = msPerFrame(ffmpeg);
  State.counters["scaled_fps_min"] = scaled.Fleet.Min();
  State.counters["scaled_cpu_pct"] = 100 * scaled.Fleet.CpuShare;
  State.counters["full_fps_min"] = full.Fleet.Min();
  State.counters["full_cpu_pct"] = 100 * full.Fleet.CpuShare;
  State.counters["ffmpeg_fps_min"] = ffmpeg.Min();
  State.counters["ffmpeg_cpu_pct"] = 100 * ffmpeg.CpuShare;
  kzbench::Cost(scaledName, scaledMs, fullMs, "cpu_ms/frame");
  if (ffmpegMs > 0) kzbench::Cost(ffmpegName, scaledMs, ffmpegMs, "cpu_ms/frame");
  std::printf(
      "\nWall of 16 cameras, 1920x1080 Motion-JPEG at 25 fps from kzcamsim, 4 x 4 cells of 480x270 (%u cores)\n"
      "                              fps/cell min   mean   CPU %% of a core   CPU ms/frame   frames per scale\n"
      "  wall, decoded as shown          %5.1f  %5.1f        %5.1f          %5.2f   %s\n"
      "  wall, decoded full size         %5.1f  %5.1f        %5.1f          %5.2f   %s\n"
      "  ffmpeg -lowres 2 + xstack       %5.1f  %5.1f        %5.1f          %5.2f\n"
      "  CPU per frame, scaled / full: %.2f   scaled / ffmpeg: %.2f\n",
      std::thread::hardware_concurrency(), scaled.Fleet.Min(), scaled.Fleet.Mean(), 100 * scaled.Fleet.CpuShare,
      scaledMs, scaled.Scales.c_str(), full.Fleet.Min(), full.Fleet.Mean(), 100 * full.Fleet.CpuShare, fullMs,
      full.Scales.c_str(), ffmpeg.Min(), ffmpeg.Mean(), 100 * ffmpeg.CpuShare, ffmpegMs,
      fullMs > 0 ? scaledMs / fullMs : 0, ffmpegMs > 0 ? scaledMs / ffmpegMs : 0);
}

BENCHMARK(BM_WallOfSixteen1080pCameras)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
