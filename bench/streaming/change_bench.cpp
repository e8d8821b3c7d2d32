// Changed-area frames against whole frames: the synthetic camera's scene
// (still background, moving disc, running clock) at 640x480 and 1920x1080,
// 25 fps, encoded by our kzetJPEGChange for 1 and 10 destinations and as
// whole JPEG frames at the same quality, against ffmpeg encoding the same
// frames (piped in raw) to MJPEG and to x264 (ultrafast, zerolatency) in the
// same run.
//
// Reported per size: bytes per frame and CPU per frame of the changed-area
// stream against whole JPEG, ffmpeg MJPEG and x264; the CPU of 10
// destinations against 1. KZ_BENCH_SECONDS sets the length (default 60 s).
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "bench/kzbench.h"
#include "sender/fmxMKzChangeEncoder.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kz;

namespace {

constexpr int kFps = 25;
constexpr int kQuality = 90;

double ThreadCpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Counts what the encoder hands over; the clock runs at 25 fps.
struct TCounter : IKzChangeOutput {
  uint64_t Now = 1000000, Bytes = 0, Containers = 0;
  int64_t ChangeStartTime() override { return static_cast<int64_t>(Now); }
  int64_t ChangeDiffTime() override { return 1000 / kFps; }
  uint64_t ChangeNow() override { return Now; }
  bool ChangeSend(TKzImageInfo&, const std::vector<uint8_t>& C, int64_t) override {
    Bytes += C.size();
    ++Containers;
    return true;
  }
};

struct TSide {
  double Cpu = 0;
  uint64_t Bytes = 0;
};

// ffmpeg reading the frames as raw BGRA from a pipe; CPU of its process and the bytes it wrote.
struct TFfmpeg {
  std::string Out;
  FILE* Pipe = nullptr;
  double ChildrenBefore = 0;
  TFfmpeg(int W, int H, const std::string& Codec, const std::string& Name) {
    Out = "/tmp/kzchange_bench_" + Name;
    ChildrenBefore = kzbench::CpuSeconds(RUSAGE_CHILDREN);
    const std::string cmd = "ffmpeg -loglevel error -y -f rawvideo -pix_fmt bgra -s " + std::to_string(W) + "x" +
                            std::to_string(H) + " -r 25 -i - " + Codec + " '" + Out + "'";
    Pipe = popen(cmd.c_str(), "w");
  }
  bool Write(const TKzMCustomBitmap& B) {
    return Pipe && fwrite(B.Data(), 4, static_cast<size_t>(B.GetLength()), Pipe) == static_cast<size_t>(B.GetLength());
  }
  bool Finish(TSide& Side) {
    if (!Pipe || pclose(Pipe) != 0) return false;
    Side.Cpu = kzbench::CpuSeconds(RUSAGE_CHILDREN) - ChildrenBefore;
    FILE* f = fopen(Out.c_str(), "rb");
    if (!f) return false;
    fseek(f, 0, SEEK_END);
    Side.Bytes = static_cast<uint64_t>(ftell(f));
    fclose(f);
    remove(Out.c_str());
    return true;
  }
};

void Run(int W, int H, int Frames) {
  const std::string size = std::to_string(W) + "x" + std::to_string(H);
  TCounter one, ten;
  TKzChangeEncoder encOne(one), encTen(ten);
  TKzImageInfoList listOne, listTen;
  std::vector<TKzImageInfoPtr> owned;
  std::vector<TKzImageInfo*> dests;
  const TKzImageInfoPtr single = listOne.GetImageInfo(TGUID{}, 0);
  for (uint32_t i = 0; i < 10; ++i) {
    owned.push_back(listTen.GetImageInfo(TGUID{i + 1, 0, 0, {}}, 0));
    dests.push_back(owned.back().get());
  }
  TKzChangeSettings s;
  s.Quality = kQuality;
  TSide whole, change, change10, mjpeg, x264;
  // The 10-destination run is timed on its own frames, so that 1 vs 10 compare alike.
  TFfmpeg ffMjpeg(W, H, "-c:v mjpeg -q:v 2 -f mjpeg", size + ".mjpeg");
  TFfmpeg ffX264(W, H, "-c:v libx264 -preset ultrafast -tune zerolatency -f h264", size + ".h264");
  TKzMBitmap frame;
  TMemoryStream jpeg;
  bool piped = true;
  for (int n = 0; n < Frames; ++n) {
    kzcamsim::KzSimDrawFrame(frame, W, H, static_cast<uint32_t>(n), 1700000000000LL + n * (1000 / kFps));
    one.Now += 1000 / kFps, ten.Now += 1000 / kFps;
    double t = ThreadCpu();
    jpeg.Clear();
    KzCodecEncodeJPEG(frame, jpeg, kQuality);
    whole.Cpu += ThreadCpu() - t;
    whole.Bytes += static_cast<uint64_t>(jpeg.Size());
    t = ThreadCpu();
    encOne.SendImageEx(frame, *single, s);
    change.Cpu += ThreadCpu() - t;
    t = ThreadCpu();
    encTen.SendImageExShared(frame, dests, s);
    change10.Cpu += ThreadCpu() - t;
    piped = piped && ffMjpeg.Write(frame) && ffX264.Write(frame);
  }
  change.Bytes = one.Bytes;
  const bool haveMjpeg = piped && ffMjpeg.Finish(mjpeg), haveX264 = piped && ffX264.Finish(x264);
  const double f = Frames;
  std::printf("%s, %d frames: whole JPEG %.0f B %.2f ms; changed areas %.0f B %.2f ms (%llu containers); "
              "10 destinations %.2f ms; ffmpeg MJPEG %.0f B %.2f ms; x264 %.0f B %.2f ms per frame\n",
              size.c_str(), Frames, whole.Bytes / f, whole.Cpu * 1e3 / f, change.Bytes / f, change.Cpu * 1e3 / f,
              static_cast<unsigned long long>(one.Containers), change10.Cpu * 1e3 / f, mjpeg.Bytes / f,
              mjpeg.Cpu * 1e3 / f, x264.Bytes / f, x264.Cpu * 1e3 / f);
  kzbench::Cost("change_bytes_" + size + "/whole_jpeg", change.Bytes / f, whole.Bytes / f, "B/frame");
  kzbench::Cost("change_cpu_" + size + "/whole_jpeg", change.Cpu * 1e3 / f, whole.Cpu * 1e3 / f, "ms/frame");
  kzbench::Cost("change_cpu_" + size + "/10_vs_1_destinations", change10.Cpu * 1e3 / f, change.Cpu * 1e3 / f,
                "ms/frame");
  if (haveMjpeg) {
    kzbench::Cost("change_bytes_" + size + "/ffmpeg_mjpeg", change.Bytes / f, mjpeg.Bytes / f, "B/frame");
    kzbench::Cost("change_cpu_" + size + "/ffmpeg_mjpeg", change.Cpu * 1e3 / f, mjpeg.Cpu * 1e3 / f, "ms/frame");
  } else {
    kzbench::MissingAnchor("change_bytes_" + size + "/ffmpeg_mjpeg", "ffmpeg (mjpeg) did not run");
  }
  if (haveX264) {
    kzbench::Cost("change_bytes_" + size + "/x264", change.Bytes / f, x264.Bytes / f, "B/frame");
    kzbench::Cost("change_cpu_" + size + "/x264", change.Cpu * 1e3 / f, x264.Cpu * 1e3 / f, "ms/frame");
  } else {
    kzbench::MissingAnchor("change_bytes_" + size + "/x264", "ffmpeg (libx264) did not run");
  }
}

}  // namespace

int main() {
  const char* env = std::getenv("KZ_BENCH_SECONDS");
  const int seconds = env ? std::max(1, std::atoi(env)) : 60;
  Run(640, 480, seconds * kFps);
  Run(1920, 1080, seconds * kFps);
  return kzbench::Finish();
}
