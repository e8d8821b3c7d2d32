// kz-test-labels: slow
// Ten minutes of virtual time at 30 fps: exactly 18,000 frames, and the
// flash and beep of every second still within one frame period at the end.
#include "tests/recorder/kzrecordertest.h"

namespace kz {
namespace {

TEST(RecorderLong, TenMinutesAt30FramesHoldCountAndSync) {
  KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  const std::string out = dir / "long.mkv";
  ASSERT_NO_FATAL_FAILURE(kztest::RecordFlashesAndBeeps(30, 600, out));
  EXPECT_EQ(kztest::ProbeFrameCount(out), 18000);
  kztest::ExpectBeepsOnFlashes(out, 30, 600);
}

}  // namespace
}  // namespace kz
