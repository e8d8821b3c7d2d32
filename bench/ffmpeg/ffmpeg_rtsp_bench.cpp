// Sixteen RTSP H.264 clients of one shared 640x480 25 fps media (the
// GStreamer RTSP server, encoding once for all): sixteen TKzCamera objects
// playing through the FFmpeg engine against sixteen "ffmpeg -i URL -f null -"
// processes in the same run. Reported per side: pictures per second per
// stream (lowest and mean) and CPU as a share of one core; the ratio is our
// CPU over ffmpeg's.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <numeric>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "bench/kzbench.h"
#include "bench/kzstreamfleet.h"
#include "camera/fmxMKzCamera.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "foundation/fmxMKzMessages.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/kztestpeers.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kStreams = 16;
constexpr int kWarmUpMs = 4000;
constexpr int kWindowMs = 10000;

using TSide = kzbench::TKzFleetSide;

TSide RunOurs(const std::string& Url) {
  return kzbench::KzRunCameraFleet(std::vector<std::string>(kStreams, Url), kWarmUpMs, kWindowMs,
                                   [](TKzCamera& Cam) { Cam.FFMpegProperty().SetThreads(1); });
}

TSide RunFfmpeg(const std::string& Url, const kztest::TTempDir& Dir) {
  std::vector<std::unique_ptr<kztest::TPeer>> children;
  std::vector<pid_t> pids;
  for (int i = 0; i < kStreams; ++i) {
    children.push_back(std::make_unique<kztest::TPeer>());
    children.back()->Start({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-threads", "1", "-progress",
                            Dir / ("progress" + std::to_string(i)), "-rtsp_transport", "tcp", "-i", Url, "-f", "null",
                            "-"},
                           Dir / "ffmpeg.log");
    pids.push_back(children.back()->Pid());
  }
  return kzbench::KzMeasureFleet(
      pids.size(), kWarmUpMs, kWindowMs,
      [&](size_t i) { return kzbench::KzProgressFrames(Dir / ("progress" + std::to_string(i))); },
      [&] {
        double cpu = 0;
        for (pid_t pid : pids) cpu += kzbench::KzProcessCpuSeconds(pid);
        return cpu;
      });
}

constexpr const char* kName = "ffmpeg_rtsp_16x640x480_25fps_cpu";

void BM_SixteenRtspCamerasVsFfmpeg(benchmark::State& State) {
  if (!LoadFFMpegLibraries("")) {
    State.SkipWithError(("FFmpeg: " + LastFFmpegBindError()).c_str());
    kzbench::MissingAnchor(kName, "FFmpeg libraries: " + LastFFmpegBindError());
    return;
  }
  kztest::TRtspServer server(false, "/cam", {kztest::TRtspMedia::H264, false, true, 640, 480});
  if (!server.Why().empty() || !kztest::HaveProgram("ffmpeg")) {
    State.SkipWithError(("the anchor or the server is missing: " + server.Why()).c_str());
    kzbench::MissingAnchor(kName, "the RTSP server or the ffmpeg program is missing: " + server.Why());
    return;
  }
  kztest::TTempDir dir;
  TSide ours, ffmpeg;
  for (auto _ : State) {
    ours = RunOurs(server.Url());
    ffmpeg = RunFfmpeg(server.Url(), dir);
  }
  const double ratio = ffmpeg.CpuShare > 0 ? ours.CpuShare / ffmpeg.CpuShare : 0;
  kzbench::Cost(kName, ours.CpuShare, ffmpeg.CpuShare, "cores");
  // ffmpeg's frame count includes the duplicates its output timing adds, so
  // the rates are shown in the table but not compared as a ratio.
  State.counters["ours_fps_min"] = ours.Min();
  State.counters["ours_cpu_pct"] = 100 * ours.CpuShare;
  State.counters["ffmpeg_fps_min"] = ffmpeg.Min();
  State.counters["ffmpeg_cpu_pct"] = 100 * ffmpeg.CpuShare;
  State.counters["cpu_ratio"] = ratio;
  std::printf(
      "\n16 RTSP H.264 clients of one 640x480 25 fps media on loopback (%u cores)\n"
      "                 fps/stream min   mean    CPU (%% of one core)\n"
      "  TKzCamera x16        %5.1f  %5.1f    %5.1f\n"
      "  ffmpeg x16           %5.1f  %5.1f    %5.1f\n"
      "  CPU ratio (ours / ffmpeg): %.2f\n",
      std::thread::hardware_concurrency(), ours.Min(), ours.Mean(), 100 * ours.CpuShare, ffmpeg.Min(), ffmpeg.Mean(),
      100 * ffmpeg.CpuShare, ratio);
}

BENCHMARK(BM_SixteenRtspCamerasVsFfmpeg)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  SetMainThread();
  signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  KzInetShutdown();
  KzMessagesShutdown();
  return kzbench::Finish();
}
