// Local capture against ffmpeg, in the same run: the 1920x1080 screen of an
// Xvfb display at 25 fps through a desktop camera and its pipeline to a
// counting consumer, against ffmpeg's x11grab to BGRA; and 1280x720 YUYV and
// Motion-JPEG frames of a fake capture device at 30 fps through a web
// camera, against ffmpeg turning the same frames into BGRA at the same pace.
// Each side: frames per second and CPU milliseconds per frame over a window
// after a warm-up.
#include <linux/videodev2.h>

#include <cstdio>
#include <string>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "bench/kzbench.h"
#include "bench/kzstreamfleet.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformV4L2Fake.h"
#include "tests/kzxvfb.h"

using namespace kz;

namespace {

constexpr int kWarmUpMs = 1500, kWindowMs = 5000;

void Report(const std::string& Name, const kzbench::TKzFleetSide& Ours, const kzbench::TKzFleetSide& Anchor) {
  const double oursFps = Ours.Mean(), anchorFps = Anchor.Mean();
  std::printf("%-22s ours %6.1f fps %7.2f ms CPU/frame   ffmpeg %6.1f fps %7.2f ms CPU/frame\n", Name.c_str(), oursFps,
              oursFps > 0 ? 1000 * Ours.CpuShare / oursFps : 0, anchorFps,
              anchorFps > 0 ? 1000 * Anchor.CpuShare / anchorFps : 0);
  kzbench::Rate(Name + "/fps", oursFps, anchorFps, "frames/s");
  if (oursFps > 0 && anchorFps > 0)
    kzbench::Cost(Name + "/cpu_per_frame", 1000 * Ours.CpuShare / oursFps, 1000 * Anchor.CpuShare / anchorFps, "ms");
}

// Our side: a camera set up by Configure, counted by a probe view.
kzbench::TKzFleetSide OurCamera(const std::function<void(TKzCamera&)>& Configure) {
  TKzCamera cam(nullptr);
  kzcamsim::TKzSimFrameProbe probe;
  cam.RegisterCamView(&probe);
  Configure(cam);
  cam.PlayVideoStream();
  const kzbench::TKzFleetSide side = kzbench::KzMeasureFleet(
      1, kWarmUpMs, kWindowMs, [&](size_t) { return probe.Frames(); }, [] { return kzbench::CpuSeconds(); });
  cam.Abort();
  PumpUntil([&] { return !cam.IsVideoPlaying(); }, 5000);
  cam.UnRegisterCamView(&probe);
  return side;
}

// The anchor's side: one ffmpeg process writing its progress to a file.
kzbench::TKzFleetSide Ffmpeg(const kztest::TTempDir& Dir, std::vector<std::string> Args, std::string& Why) {
  const std::string progress = Dir / "progress.txt";
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-progress", progress};
  argv.insert(argv.end(), Args.begin(), Args.end());
  kztest::TPeer peer;
  kzbench::TKzFleetSide side;
  if (!peer.Start(argv, Dir / "ffmpeg.log")) {
    Why = "ffmpeg did not start";
    return side;
  }
  const pid_t pid = peer.Pid();
  side = kzbench::KzMeasureFleet(
      1, kWarmUpMs, kWindowMs, [&](size_t) { return kzbench::KzProgressFrames(progress); },
      [pid] { return kzbench::KzProcessCpuSeconds(pid); });
  if (side.Mean() <= 0) Why = "ffmpeg delivered no frames: " + kztest::ReadFile(Dir / "ffmpeg.log");
  peer.Stop();
  return side;
}

void Desktop() {
  const std::string name = "desktop_1080p_25fps";
  kztest::TXvfb x(1920, 1080);
  if (!x.Why().empty()) {
    kzbench::MissingAnchor(name + "/fps", x.Why());
    return;
  }
  kztest::TTempDir dir;
  const kzbench::TKzFleetSide ours = OurCamera([](TKzCamera& c) {
    c.SetFramePerSec(25);
    c.SetDeviceType(TKzDeviceType::kzdtDesktop);
  });
  std::string why;
  const kzbench::TKzFleetSide anchor = Ffmpeg(
      dir, {"-f", "x11grab", "-framerate", "25", "-video_size", "1920x1080", "-i", x.Display, "-pix_fmt", "bgra", "-f", "null", "-"},
      why);
  if (!why.empty()) kzbench::MissingAnchor(name + "/fps", why);
  Report(name, ours, anchor);
}

void WebCam(const char* Name, uint32_t Fourcc, const std::string& PixFmt) {
  kztest::TTempDir dir;
  // One frame of the test picture in the device's format, made by ffmpeg.
  const std::string frame = dir / "frame";
  const bool jpeg = Fourcc == V4L2_PIX_FMT_MJPEG;
  const std::string make = "ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1280x720:rate=1 -frames:v 1 " +
                           std::string(jpeg ? "-q:v 3 -f mjpeg " : "-pix_fmt " + PixFmt + " -f rawvideo ") + frame;
  if (std::system(make.c_str()) != 0) {
    kzbench::MissingAnchor(std::string(Name) + "/fps", "ffmpeg could not make the frame");
    return;
  }
  const std::string bytes = kztest::ReadFile(frame);
  TKzFakeV4L2 fake;
  TKzFakeV4L2Device d = KzFakePanTiltWebCam();
  std::erase_if(d.Formats, [Fourcc](const TKzFakeV4L2Format& f) { return f.PixelFormat != Fourcc; });
  for (TKzFakeV4L2Format& f : d.Formats) f.SlowAbove = 0;
  d.Frames[Fourcc].assign(bytes.begin(), bytes.end());
  fake.Add(d);
  KzSetV4L2(&fake);
  const kzbench::TKzFleetSide ours = OurCamera([&](TKzCamera& c) {
    c.SetFramePerSec(30);
    c.SetDeviceType(TKzDeviceType::kzdtWebCamera);
    c.SetVideoDeviceIndex(0);
    c.SetVideoResolution(TKzVideoResolution::kz1280_720);
  });
  KzSetV4L2(nullptr);
  std::string why;
  std::vector<std::string> input = jpeg ? std::vector<std::string>{"-f", "image2", "-loop", "1", "-framerate", "30"}
                                        : std::vector<std::string>{"-f", "rawvideo", "-pix_fmt", PixFmt, "-s", "1280x720",
                                                                   "-framerate", "30"};
  std::vector<std::string> args = {"-re"};
  if (!jpeg) args.insert(args.end(), {"-stream_loop", "-1"});
  args.insert(args.end(), input.begin(), input.end());
  for (const char* a : {"-i", frame.c_str(), "-pix_fmt", "bgra", "-f", "null", "-"}) args.push_back(a);
  const kzbench::TKzFleetSide anchor = Ffmpeg(dir, args, why);
  if (!why.empty()) kzbench::MissingAnchor(std::string(Name) + "/fps", why);
  Report(Name, ours, anchor);
}

}  // namespace

int main() {
  SetMainThread();
  Desktop();
  WebCam("webcam_720p_yuyv_30fps", V4L2_PIX_FMT_YUYV, "yuyv422");
  WebCam("webcam_720p_mjpeg_30fps", V4L2_PIX_FMT_MJPEG, "");
  return kzbench::Finish();
}
