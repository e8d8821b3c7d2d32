// kz-test-labels: peer slow
// A camera plays RTSP through the FFmpeg engine: its pictures keep reaching
// the consumers while a server killed and restarted many times is
// reconnected to, which costs nothing that stays (leaks show under the
// address sanitizer); without FFmpeg the camera starts nothing. Its sound
// through TKzCamSound onto the player (the fake wave-out on the real clock):
// the flashes of a file follow the moments its beeps leave the device,
// because the decoder follows the sound actually played.
#include <mutex>

#include "audio/fmxMKzAudioPlayer.h"
#include "camera/fmxMKzCamSound.h"
#include "platform/fmxMKzPlatformFakeWaveOut.h"
#include "tests/camera/camera_rig.h"
#include "tests/ffmpeg/kzffmpegtest.h"

namespace kz {
namespace {

using kztest::TRtspMedia;
using kztest::TRtspServer;
using kztest::TStreamRig;

TEST(FFmpegCamera, KilledServerTwentyTimesOver) {
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  TRtspServer server(false, "/cam", {TRtspMedia::H264, false, false, 320, 240});
  KZ_NEED(server.Why().empty(), server.Why());
  TStreamRig rig;
  rig.Play(server.Url());
  // The camera itself opens the stream again after each kill.
  for (int cycle = 0; cycle < 20; ++cycle) {
    SCOPED_TRACE(cycle);
    ASSERT_TRUE(rig.WaitFrames(rig.Probe.Frames() + 5, 20000));
    server.Kill();
    ASSERT_TRUE(PumpUntil([&] { return rig.Cam.IsReconnecting(); }, 20000));
    ASSERT_TRUE(server.Restart());
  }
  EXPECT_TRUE(rig.WaitFrames(rig.Probe.Frames() + 5, 20000));
  EXPECT_LT(rig.Stop(), 2000);
}

// Sound a camera hands its audio consumers, counted in sample frames.
struct TSoundCount : IKzCamAudioConsumer {
  void CamAudioBlock(TComponent*, const TKzAudioInfo& Info, const uint8_t*, size_t Size) override {
    const int bytes = Info.Channels * (Info.BitsPerSample == TKzBitsPerSample::kzbps16 ? 2 : 1);
    if (bytes > 0) Samples += int64_t(Size) / bytes;
    Rate = Info.SamplesPerSec;
  }
  std::atomic<int64_t> Samples{0};
  std::atomic<int32_t> Rate{0};
};

// Files play once through the camera: the content, not the name, chooses
// FFmpeg or the built-in Motion-JPEG reader; every frame ffprobe counts
// reaches the consumers, the sound reaches the audio consumers, and the end
// is the file's end.
TEST(FFmpegCamera, FilesPlayEveryFrameOnce) {
  KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  const std::string video = "-f lavfi -i testsrc=s=160x120:r=25:d=2 ";
  const struct {
    const char* Name;
    std::string Args;
    TKzCamStreamKind Kind;
  } files[] = {
      {"a.mp4", video + "-f lavfi -i sine=r=44100:d=3 -c:v libx264 -g 10 -c:a aac", TKzCamStreamKind::kzcskMediaFile},
      {"b.mjpg", video + "-c:v mpeg4 -f matroska", TKzCamStreamKind::kzcskMediaFile},
      {"c.mp4", video + "-c:v mjpeg -f mjpeg", TKzCamStreamKind::kzcskMJPEGFile},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.Name);
    const std::string path = dir / f.Name;
    ASSERT_TRUE(kztest::MakeMedia(f.Args, path));
    TStreamRig rig;
    TSoundCount sound;
    rig.Cam.RegisterCamAudio(&sound);
    int started = 0;
    rig.Cam.OnStartVideoFile = [&](TComponent*) { ++started; };
    rig.Cam.PlayVideoFile(path);
    ASSERT_NE(rig.Cam.ThreadMJPEG(), nullptr);
    EXPECT_EQ(rig.Cam.ThreadMJPEG()->Kind(), f.Kind);
    ASSERT_TRUE(rig.WaitEnd(20000));
    EXPECT_EQ(rig.Ends, std::vector<int32_t>{0});
    EXPECT_EQ(started, 1);
    // The draw thread keeps only the newest frame: on a loaded machine one of a
    // file's frames may be replaced by the next before it is drawn, slowed
    // down by a sanitizer a few. None comes twice.
    EXPECT_LE(rig.Probe.Frames(), kztest::ProbeFrameCount(path));
    EXPECT_GE(rig.Probe.Frames(), kztest::ProbeFrameCount(path) - (kztest::kSanitized ? 3 : 1));
    EXPECT_FALSE(rig.Cam.IsVideoPlaying());
    const double seconds = kztest::ProbeDuration(path, "a");
    EXPECT_NEAR(double(sound.Samples), seconds * sound.Rate, 0.01 * seconds * sound.Rate + 0.5);
    EXPECT_EQ(sound.Rate, seconds > 0 ? 44100 : 0);
    rig.Cam.UnRegisterCamAudio(&sound);
  }
}

TEST(FFmpegCamera, WithoutFFmpegNothingStarts) {
  kztest::TTempDir empty;
  ASSERT_FALSE(LoadFFMpegLibraries(empty.Path()));
  EXPECT_FALSE(KzCamStreamFactory().IsSupportedFFMPEG());
  TStreamRig rig;
  rig.Cam.SetAutoReconnect(false);  // the refused connect ends the stream
  rig.Play("rtsp://127.0.0.1:1/cam");
  kztest::PumpFor(200);
  EXPECT_FALSE(rig.Cam.IsVideoPlaying());
  EXPECT_EQ(rig.Probe.Frames(), 0);
  ASSERT_TRUE(LoadFFMpegLibraries(""));
}

// When bright pictures arrive (draw thread).
struct TFlashView : IKzCamViewConsumer {
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& B, bool, uint16_t, const TGUID&) override {
    const bool bright = B.Width() > 0 && (B.Pixel(B.Width() / 2, B.Height() / 2) & 0xFF) > 128;
    std::lock_guard<std::mutex> g(Lock);
    if (bright && !WasBright) Flashes.push_back(double(KzMGetTickCount()));
    WasBright = bright;
  }
  std::mutex Lock;
  bool WasBright = false;
  std::vector<double> Flashes;
};

// The moments (ms) beeps start in what the device played: 16-bit mono.
std::vector<double> BeepStarts(const std::vector<TKzFakeWaveOutBackend::TPlayed>& Played) {
  std::vector<double> starts;
  double lastLoud = -1e9;
  for (const auto& p : Played) {
    const double rate = p.Format.SamplesPerSec;
    for (size_t i = 0; i + 1 < p.Bytes.size(); i += 2) {
      const int16_t v = int16_t(uint8_t(p.Bytes[i]) | (uint8_t(p.Bytes[i + 1]) << 8));
      const double at = p.StartMs + double(i / 2) * 1000.0 / rate;
      if (std::abs(v) > 2000) {
        if (at - lastLoud > 500) starts.push_back(at);
        lastLoud = at;
      }
    }
  }
  return starts;
}

TEST(CamSound, FlashesFollowTheBeepsThePlayerPlays) {
  KZ_NEED(kztest::HaveProgram("ffmpeg"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  const std::string path = dir / "flash.mp4";
  ASSERT_TRUE(kztest::MakeMedia(
      "-f lavfi -i color=c=black:s=64x48:r=25:d=5 -f lavfi -i \"aevalsrc=if(lt(mod(t\\,1)\\,0.2)\\,0.5*sin(2*PI*1000*t)\\,0):s=16000:d=5\" "
      "-vf \"drawbox=t=fill:c=white:enable='lt(mod(t,1),0.2)'\" "
      "-c:v libx264 -g 5 -c:a aac -ac 1",
      path));
  TKzFakeWaveOutBackend fake;
  IKzWaveOutBackend* previous = KzSetWaveOutBackend(&fake);
  {
    kztest::TStreamRig rig;
    TFlashView view;
    rig.Cam.RegisterCamView(&view);
    TKzAudioPlayer player(nullptr);
    player.SetActive(true);
    TKzCamSound sound(nullptr);
    sound.SetAudioOutput(&player);
    sound.SetCamera(&rig.Cam);
    rig.Cam.PlayVideoFile(path);
    ASSERT_TRUE(rig.WaitEnd(kztest::kSanitized ? 120000 : 30000));
    kztest::PumpFor(500);
    sound.SetCamera(nullptr);
    rig.Cam.UnRegisterCamView(&view);
    const std::vector<double> beeps = BeepStarts(fake.Played());
    std::lock_guard<std::mutex> g(view.Lock);
    ASSERT_GE(beeps.size(), 4u);
    ASSERT_GE(view.Flashes.size(), 4u);
    // From the second flash on (the first shows before any sound has
    // played), each flash reaches the view within 40 ms of its beep leaving
    // the device (sanitized builds run too slowly to hold that).
    const double bound = kztest::kSanitized ? 150.0 : 40.0;
    for (size_t i = 1; i < view.Flashes.size(); ++i) {
      double nearest = beeps.front();
      for (double b : beeps)
        if (std::abs(view.Flashes[i] - b) < std::abs(view.Flashes[i] - nearest)) nearest = b;
      EXPECT_LE(std::abs(view.Flashes[i] - nearest), bound) << "flash " << i << " at " << view.Flashes[i] - nearest << " ms";
    }
  }
  KzSetWaveOutBackend(previous);
}

}  // namespace
}  // namespace kz
