// One 1080p H.264 file played at its own rate on one decoding thread, to
// BGRA pictures: TKzMFFMPEG against "ffmpeg -re -threads 1 -i FILE -pix_fmt
// bgra -f null -" in the same run. Reported: CPU milliseconds per frame of
// each side and the ratio ours / ffmpeg.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/kzbench.h"
#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"

using namespace kz;

namespace {

constexpr int kSeconds = 8;
constexpr int kFrames = kSeconds * 25;

constexpr const char* kName = "ffmpeg_file_1080p_cpu_per_frame";

void BM_File1080pVsFfmpeg(benchmark::State& State) {
  if (!LoadFFMpegLibraries("")) {
    State.SkipWithError(("FFmpeg: " + LastFFmpegBindError()).c_str());
    kzbench::MissingAnchor(kName, "FFmpeg libraries: " + LastFFmpegBindError());
    return;
  }
  const std::string dir = "/tmp/kzbench-ffmpeg-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string file = dir + "/1080p.mp4";
  if (std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=s=1920x1080:r=25:d=" + std::to_string(kSeconds) +
                   " -c:v libx264 -preset veryfast -g 50 '" + file + "' </dev/null").c_str()) != 0) {
    State.SkipWithError("ffmpeg could not make the 1080p file");
    kzbench::MissingAnchor(kName, "the ffmpeg program could not make the 1080p file");
    return;
  }
  double ours = 0, anchor = 0;
  int frames = 0;
  for (auto _ : State) {
    TKzMFFMPEG player;
    player.Options.CountThreads = 1;
    frames = 0;
    player.OnNewImage = [&](void*, TKzMBitmap&, double) { return ++frames > 0; };
    const double cpu0 = kzbench::CpuSeconds();
    player.PlayVideo(file);
    ours = (kzbench::CpuSeconds() - cpu0) / std::max(frames, 1);
    anchor = kzbench::CommandCpuSeconds("ffmpeg -v error -nostdin -re -threads 1 -i '" + file + "' -pix_fmt bgra -f null -") / kFrames;
  }
  std::filesystem::remove_all(dir);
  if (anchor <= 0) {
    State.SkipWithError("the ffmpeg anchor did not run");
    kzbench::MissingAnchor(kName, "ffmpeg -re -threads 1 did not run");
    return;
  }
  kzbench::Cost(kName, 1000 * ours, 1000 * anchor, "ms CPU/frame");
  State.counters["ours_ms_per_frame"] = 1000 * ours;
  State.counters["ffmpeg_ms_per_frame"] = 1000 * anchor;
  State.counters["cpu_ratio"] = ours / anchor;
  std::printf(
      "\n1080p H.264 file at 25 fps, one decoding thread, to BGRA (%d of %d frames shown)\n"
      "                 CPU ms/frame\n"
      "  TKzMFFMPEG        %6.2f\n"
      "  ffmpeg            %6.2f\n"
      "  CPU ratio (ours / ffmpeg): %.2f\n",
      frames, kFrames, 1000 * ours, 1000 * anchor, ours / anchor);
}

BENCHMARK(BM_File1080pVsFfmpeg)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
