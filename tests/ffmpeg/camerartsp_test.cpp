// kz-test-labels: peer slow
// A camera plays RTSP through the FFmpeg engine: its pictures keep reaching
// the consumers while a server killed and restarted many times is
// reconnected to, which costs nothing that stays (leaks show under the
// address sanitizer); without FFmpeg the camera starts nothing.
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

}  // namespace
}  // namespace kz
