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

double SelfCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

// User and system CPU seconds of a process and its children so far.
double ProcessCpu(pid_t Pid) {
  std::ifstream f("/proc/" + std::to_string(Pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(f)), {});
  if (text.empty()) return 0;
  std::istringstream in(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && in >> field; ++i)
    if (i == 14 || i == 15) ticks += std::stod(field);
  return ticks / double(sysconf(_SC_CLK_TCK));
}

int64_t ProgressFrames(const std::string& File) {
  std::ifstream f(File);
  std::string line;
  int64_t frames = 0;
  while (std::getline(f, line))
    if (line.rfind("frame=", 0) == 0) frames = std::stoll(line.substr(6));
  return frames;
}

struct TSide {
  std::vector<double> Fps;
  double CpuShare = 0;
  double Min() const { return Fps.empty() ? 0 : *std::min_element(Fps.begin(), Fps.end()); }
  double Mean() const { return Fps.empty() ? 0 : std::accumulate(Fps.begin(), Fps.end(), 0.0) / Fps.size(); }
};

TSide RunOurs(const std::string& Url) {
  TSide side;
  std::vector<std::unique_ptr<TKzCamera>> cams;
  std::vector<std::unique_ptr<kzcamsim::TKzSimFrameProbe>> probes;
  for (int i = 0; i < kStreams; ++i) {
    cams.push_back(std::make_unique<TKzCamera>(nullptr));
    probes.push_back(std::make_unique<kzcamsim::TKzSimFrameProbe>());
    cams.back()->RegisterCamView(probes.back().get());
    cams.back()->FFMpegProperty().SetThreads(1);
    cams.back()->SetURL(Url);
    cams.back()->PlayVideoStream();
  }
  PumpUntil([] { return false; }, kWarmUpMs);
  std::vector<int64_t> start;
  for (auto& p : probes) start.push_back(p->Frames());
  const double cpu0 = SelfCpu();
  const auto t0 = Clock::now();
  PumpUntil([] { return false; }, kWindowMs);
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  side.CpuShare = (SelfCpu() - cpu0) / wall;
  for (size_t i = 0; i < probes.size(); ++i) side.Fps.push_back((probes[i]->Frames() - start[i]) / wall);
  for (auto& c : cams) c->Abort();
  PumpUntil([&] { return std::none_of(cams.begin(), cams.end(), [](auto& c) { return c->IsVideoPlaying(); }); }, 5000);
  for (size_t i = 0; i < cams.size(); ++i) cams[i]->UnRegisterCamView(probes[i].get());
  return side;
}

TSide RunFfmpeg(const std::string& Url, const kztest::TTempDir& Dir) {
  TSide side;
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
  PumpUntil([] { return false; }, kWarmUpMs);
  std::vector<int64_t> start;
  double cpu0 = 0, cpu1 = 0;
  for (int i = 0; i < kStreams; ++i) {
    start.push_back(ProgressFrames(Dir / ("progress" + std::to_string(i))));
    cpu0 += ProcessCpu(pids[size_t(i)]);
  }
  const auto t0 = Clock::now();
  PumpUntil([] { return false; }, kWindowMs);
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  for (int i = 0; i < kStreams; ++i) {
    cpu1 += ProcessCpu(pids[size_t(i)]);
    side.Fps.push_back((ProgressFrames(Dir / ("progress" + std::to_string(i))) - start[size_t(i)]) / wall);
  }
  side.CpuShare = (cpu1 - cpu0) / wall;
  return side;
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
