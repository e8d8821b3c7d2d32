// The recorder against the ffmpeg program, in the same run: 720p and 1080p
// BGRA pictures at 25 fps into H.264 (800 kbit/s, GOP 12) and MPEG-4.
// Paced: a source hands a picture every 40 ms for kSeconds; ours is
// TKzCamRecorder, the anchor "ffmpeg -f rawvideo -pix_fmt bgra -s WxH -r 25
// -i - ..." fed the same pictures at the same pace through a pipe. A live
// source does not wait for its consumer: when ffmpeg is still reading a
// picture, the pictures due meanwhile are passed over and it gets the newest
// next, as the recorder takes the newest at each step. Otherwise a machine
// too slow for 1080p in real time (two cores) compares different work: the
// recorder leaves steps out to stay on time and encodes pictures several
// apart (more motion, more CPU per picture), ffmpeg encodes every picture
// late. Reported: CPU seconds, CPU per picture written and frames per second
// written. Unpaced: the same pictures as fast as they can be encoded (our
// encoding half against the same ffmpeg command), frames per second.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/kzbench.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "platform/fmxMKzPlatformClock.h"
#include "recorder/fmxMKzCamRecorder.h"

using namespace kz;

namespace {

constexpr int kSeconds = 20;
constexpr int kFps = 25;
constexpr int kDistinct = 25;  // pictures cycled through

struct TCase {
  const char* Name;
  int W, H;
  TKzVideoCodec Codec;
  // ffmpeg's -c:v. From BGRA ffmpeg would pick 4:4:4 for libx264 (twice the
  // pixels to encode); the recorder writes 4:2:0, so the anchor is told to.
  const char* AnchorCodec;
};
const TCase kCases[] = {
    {"720p_h264", 1280, 720, TKzVideoCodec::kzvcH264, "libx264 -pix_fmt yuv420p -b:v 800k -g 12"},
    {"1080p_h264", 1920, 1080, TKzVideoCodec::kzvcH264, "libx264 -pix_fmt yuv420p -b:v 800k -g 12"},
    {"720p_mpeg4", 1280, 720, TKzVideoCodec::kzvcMPEG4, "mpeg4 -b:v 800k -g 12"},
    {"1080p_mpeg4", 1920, 1080, TKzVideoCodec::kzvcMPEG4, "mpeg4 -b:v 800k -g 12"},
};

// Moving bars and a gradient: something for the encoder to do.
std::vector<TKzMBitmap> MakePictures(int W, int H) {
  std::vector<TKzMBitmap> out(kDistinct);
  for (int n = 0; n < kDistinct; ++n) {
    out[n].SetSize(W, H);
    for (int y = 0; y < H; ++y) {
      uint32_t* row = out[n].ScanLine(y);
      for (int x = 0; x < W; ++x) {
        const uint32_t b = uint32_t((x + n * 16) & 255), g = uint32_t(y * 255 / H), r = ((x / 64 + n) & 1) ? 200u : 40u;
        row[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
      }
    }
  }
  return out;
}

class TBenchSource : public TKzVideoSource {
public:
  TBenchSource() : TKzVideoSource(nullptr) {}
  void Abort() override {}
  void Deliver(const TKzMBitmap& Picture) {
    LockConsumers();
    for (IKzCamRecorderConsumer* r : FConsumers.CamRecorders) r->RecorderGetImage(this, Picture, 0, TGUID{});
    UnlockConsumers();
  }
};

// Hands kSeconds × kFps pictures to Feed, one every 40 ms when Paced.
void Feed(const std::vector<TKzMBitmap>& Pics, bool Paced, const std::function<bool(const TKzMBitmap&)>& Take) {
  const uint64_t t0 = PlatformTickCount();
  for (int i = 0; i < kSeconds * kFps; ++i) {
    if (Paced) PlatformWaitUntil(t0 + uint64_t(i) * 1000 / kFps, nullptr);
    if (!Take(Pics[size_t(i % kDistinct)])) return;
  }
}

bool WriteAll(int Fd, const TKzMBitmap& P) {
  const char* p = reinterpret_cast<const char*>(P.Data());
  for (int64_t left = P.GetSize(); left > 0;) {
    const ssize_t n = write(Fd, p, size_t(left));
    if (n <= 0) return false;
    p += n;
    left -= n;
  }
  return true;
}

int64_t VideoFramesOf(const std::string& File) {
  FILE* p = popen(("ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets "
                   "-of csv=p=0 '" + File + "'").c_str(), "r");
  if (!p) return 0;
  long long n = 0;
  if (fscanf(p, "%lld", &n) != 1) n = 0;
  pclose(p);
  return n;
}

// Paced feeding of a pipe: the pacer posts the newest picture every 40 ms, a
// writer hands the newest one over whenever the reader has taken the last.
// Returns the pictures written.
int64_t FeedNewest(const std::vector<TKzMBitmap>& Pics, int Fd) {
  std::mutex lock;
  std::condition_variable posted;
  int64_t newest = -1;
  bool done = false;
  int64_t written = 0;
  std::thread writer([&] {
    int64_t last = -1;
    for (;;) {
      std::unique_lock<std::mutex> g(lock);
      posted.wait(g, [&] { return newest != last || done; });
      if (newest == last) return;
      last = newest;
      g.unlock();
      if (!WriteAll(Fd, Pics[size_t(last % kDistinct)])) return;
      ++written;
    }
  });
  Feed(Pics, true, [&](const TKzMBitmap&) {
    std::lock_guard<std::mutex> g(lock);
    ++newest;
    posted.notify_one();
    return true;
  });
  {
    std::lock_guard<std::mutex> g(lock);
    done = true;
    posted.notify_one();
  }
  writer.join();
  return written;
}

// The ffmpeg program fed through its stdin; CPU seconds of the child, wall
// seconds, pictures fed.
bool RunAnchor(const TCase& C, const std::vector<TKzMBitmap>& Pics, bool Paced, const std::string& Out, double& Cpu,
               double& Wall, int64_t& Frames) {
  // Paced, the pictures are stamped with the wall clock as they come and
  // written on a 1/25 s grid like the recorder's (wall-clock spacing where
  // pictures were passed over): both rate controls then spend 800 kbit per
  // second of wall time, not per picture.
  const std::string size = std::to_string(C.W) + "x" + std::to_string(C.H);
  const std::string cmd = "exec ffmpeg -v error -nostdin -y " +
                          std::string(Paced ? "-use_wallclock_as_timestamps 1 -f rawvideo -pix_fmt bgra -s " + size +
                                                  " -i - -r 25 -fps_mode vfr"
                                            : "-f rawvideo -pix_fmt bgra -s " + size + " -r 25 -i -") +
                          " -c:v " + C.AnchorCodec + " '" + Out + "'";
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[0], 0);
    close(fds[0]);
    close(fds[1]);
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[0]);
  signal(SIGPIPE, SIG_IGN);
  const auto w0 = std::chrono::steady_clock::now();
  Frames = 0;
  if (Paced)
    FeedNewest(Pics, fds[1]);
  else
    Feed(Pics, false, [&](const TKzMBitmap& P) {
      if (!WriteAll(fds[1], P)) return false;
      ++Frames;
      return true;
    });
  close(fds[1]);
  int status = 0;
  rusage u{};
  if (wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  Cpu = kzbench::CpuSecondsOf(u);
  if (Paced) Frames = VideoFramesOf(Out);  // pictures on the same grid step are written once
  return true;
}

void BM_Recorder(benchmark::State& State) {
  const TCase& c = kCases[State.range(0)];
  const std::string name = std::string("recorder_") + c.Name;
  if (!LoadFFMpegLibraries("")) {
    State.SkipWithError("no FFmpeg");
    kzbench::MissingAnchor(name + "_cpu", "FFmpeg libraries: " + LastFFmpegBindError());
    return;
  }
  const std::string dir = "/tmp/kzbench-recorder-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::vector<TKzMBitmap> pics = MakePictures(c.W, c.H);
  for (auto _ : State) {
    // Paced, ours: the recorder on the real clock.
    TBenchSource source;
    TKzCamRecorder rec(nullptr);
    rec.SetVideoSource(&source);
    rec.SetVideoCodec(c.Codec);
    rec.SetOutputFileName(dir + "/ours.mp4");
    const double cpu0 = kzbench::CpuSeconds();
    const auto w0 = std::chrono::steady_clock::now();
    rec.SetActive(true);
    Feed(pics, true, [&](const TKzMBitmap& P) {
      source.Deliver(P);
      return true;
    });
    const int64_t frames = rec.Stats().FramesEncoded, skipped = rec.Stats().FramesSkipped;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    rec.SetActive(false);
    const double ourCpu = kzbench::CpuSeconds() - cpu0;
    rec.SetVideoSource(nullptr);

    // Unpaced, ours: the encoding half as fast as it goes.
    TKzMFFMPEG engine;
    TKzFFmpegEncodeSettings& s = engine.EncodeSettings;
    s.UseAudio = false;
    s.VideoCodecID = KzFFmpegVideoCodecID(c.Codec);
    s.VideoWidth = c.W;
    s.VideoHeight = c.H;
    const TKzMBitmap* current = nullptr;
    engine.OnNextVideoFrame = [&](AVFrame* F) { return engine.PictureToEncoderFrame(*current, F); };
    const double fastCpu0 = kzbench::CpuSeconds();
    const auto u0 = std::chrono::steady_clock::now();
    int64_t n = 0;
    if (engine.VideoEncodeFile(dir + "/fast.mp4"))
      Feed(pics, false, [&](const TKzMBitmap& P) {
        current = &P;
        return engine.EncodeVideoFrameAndAudio(n++);
      });
    engine.VideoEncodeDeinit();
    const double fastOurs = double(n) / std::chrono::duration<double>(std::chrono::steady_clock::now() - u0).count();
    const double fastOurCpu = kzbench::CpuSeconds() - fastCpu0;

    double aCpu = 0, aWall = 0, fCpu = 0, fWall = 0;
    int64_t aFrames = 0, fFrames = 0;
    if (!RunAnchor(c, pics, true, dir + "/anchor.mp4", aCpu, aWall, aFrames) ||
        !RunAnchor(c, pics, false, dir + "/anchor-fast.mp4", fCpu, fWall, fFrames)) {
      kzbench::MissingAnchor(name + "_cpu", "the ffmpeg program did not run");
      State.SkipWithError("the ffmpeg anchor did not run");
      break;
    }
    // Either side may fall behind the pace on a loaded machine and then
    // writes fewer pictures: CPU is compared per picture written too.
    const auto perFrame = [](double Cpu, int64_t Frames) { return Cpu * 1000 / double(std::max<int64_t>(Frames, 1)); };
    kzbench::Cost(name + "_cpu", ourCpu, aCpu, "CPU s");
    kzbench::Cost(name + "_cpu_frame", perFrame(ourCpu, frames), perFrame(aCpu, aFrames), "CPU ms/frame");
    kzbench::Rate(name + "_fps", double(frames) / wall, double(aFrames) / aWall, "frames/s");
    kzbench::Rate(name + "_throughput", fastOurs, double(fFrames) / fWall, "frames/s");
    kzbench::Cost(name + "_throughput_cpu_frame", perFrame(fastOurCpu, n), perFrame(fCpu, fFrames), "CPU ms/frame");
    State.counters["fps_out"] = double(frames) / wall;
    State.counters["skipped"] = double(skipped);
    State.counters["anchor_frames"] = double(aFrames);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Recorder)->DenseRange(0, 3)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
