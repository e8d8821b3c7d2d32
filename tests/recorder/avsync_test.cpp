// Pictures and sound stay together: a source flashes a white picture and
// beeps at the same instant once a second for 60 s of virtual time; in the
// file every flash and the start of its beep lie within one frame period.
#include "tests/recorder/kzrecordertest.h"

namespace kz {
namespace {

TEST(RecorderAVSync, FlashAndBeepStayTogether) {
  KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  const std::string out = dir / "sync.mp4";
  ASSERT_NO_FATAL_FAILURE(kztest::RecordFlashesAndBeeps(25, 60, out));
  kztest::ExpectBeepsOnFlashes(out, 25, 60);
}

}  // namespace
}  // namespace kz
