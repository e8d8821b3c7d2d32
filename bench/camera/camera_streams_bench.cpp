// Sixteen live cameras in one process against sixteen ffmpeg processes on
// the same streams. The kzcamsim program serves 16 ports of 640x480 Motion-
// JPEG at 25 fps (one picture source, so the server's cost is the same for
// both); first 16 TKzCamera objects play them into counting views, then 16
// "ffmpeg -i URL -f null -" decode them. Reported per side: delivered frames
// per second per camera (lowest and mean) and CPU as a share of one core;
// the ratio is our CPU over ffmpeg's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "bench/kzbench.h"
#include "bench/kzstreamfleet.h"
#include "apps/kzcamsim/kzcamsim_lib.h"
#include "camera/fmxMKzCamera.h"
#include "foundation/fmxMKzMessages.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformMainThread.h"

extern char** environ;

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCameras = 16;
constexpr int kWarmUpMs = 3000;
constexpr int kWindowMs = 10000;

using kzbench::AppPath;
using kzbench::TChild;

using TSide = kzbench::TKzFleetSide;

TSide RunOurs(const std::vector<std::string>& URLs) {
  TSide side = kzbench::KzRunCameraFleet(URLs, kWarmUpMs, kWindowMs);
  KzInetShutdown();
  return side;
}

TSide RunFfmpeg(const std::vector<std::string>& URLs, const std::string& Dir) {
  std::vector<std::unique_ptr<TChild>> children;
  for (size_t i = 0; i < URLs.size(); ++i) {
    children.push_back(std::make_unique<TChild>());
    children.back()->Start({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-progress",
                            Dir + "/progress" + std::to_string(i), "-i", URLs[i], "-f", "null", "-"},
                           false);
  }
  return kzbench::KzMeasureFleet(
      children.size(), kWarmUpMs, kWindowMs,
      [&](size_t i) { return kzbench::KzProgressFrames(Dir + "/progress" + std::to_string(i)); },
      [&] {
        double cpu = 0;
        for (const auto& c : children) cpu += c->Cpu();
        return cpu;
      });
}

void BM_SixteenCamerasVsFfmpeg(benchmark::State& State) {
  const std::string dir = "/tmp/kzbench-streams-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  TChild sim;
  if (!sim.Start({AppPath("kzcamsim"), "--port", "0", "--ports", std::to_string(kCameras), "--size", "640x480", "--fps",
                  "25", "--quiet"},
                 true)) {
    State.SkipWithError("kzcamsim did not start");
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
    kzbench::MissingAnchor("sixteen_cameras_640x480_25fps_cpu", "kzcamsim did not report its ports");
    return;
  }
  TSide ours, ffmpeg;
  for (auto _ : State) {
    const auto t0 = Clock::now();
    ours = RunOurs(urls);
    ffmpeg = RunFfmpeg(urls, dir);
    State.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
  }
  const double serverCpu = sim.Cpu();
  sim.Stop();
  std::filesystem::remove_all(dir);
  State.counters["ours_fps_min"] = ours.Min();
  State.counters["ours_fps_mean"] = ours.Mean();
  State.counters["ours_cpu_pct"] = 100 * ours.CpuShare;
  State.counters["ffmpeg_fps_min"] = ffmpeg.Min();
  State.counters["ffmpeg_fps_mean"] = ffmpeg.Mean();
  State.counters["ffmpeg_cpu_pct"] = 100 * ffmpeg.CpuShare;
  State.counters["cpu_ratio"] = ffmpeg.CpuShare > 0 ? ours.CpuShare / ffmpeg.CpuShare : 0;
  kzbench::Cost("sixteen_cameras_640x480_25fps_cpu", ours.CpuShare, ffmpeg.CpuShare, "cores");
  std::printf(
      "\n16 cameras, 640x480 at 25 fps from kzcamsim on loopback (%u cores; server %.1f s CPU in all)\n"
      "                 fps/camera min   mean    CPU (%% of one core)\n"
      "  TKzCamera x16        %5.1f  %5.1f    %5.1f\n"
      "  ffmpeg x16           %5.1f  %5.1f    %5.1f\n"
      "  CPU ratio (ours / ffmpeg): %.2f\n",
      std::thread::hardware_concurrency(), serverCpu, ours.Min(), ours.Mean(), 100 * ours.CpuShare, ffmpeg.Min(),
      ffmpeg.Mean(), 100 * ffmpeg.CpuShare, ffmpeg.CpuShare > 0 ? ours.CpuShare / ffmpeg.CpuShare : 0);
}

BENCHMARK(BM_SixteenCamerasVsFfmpeg)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
