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
