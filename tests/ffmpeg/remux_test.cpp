// kz-test-labels: peer
// Remuxing: the written file starts at a key frame with time stamp 0, ffprobe
// reads it, and its length is what was recorded (within one group of pictures).
#include <future>

#include "tests/ffmpeg/kzffmpegtest.h"

namespace kz {
namespace {

// "pts_time,dts_time,flags" of the first video packet of Path.
std::string FirstPacket(const std::string& Path) {
  return kztest::KzTrimLine(kztest::Run("ffprobe -v error -select_streams v:0 -show_entries "
                                        "packet=pts_time,dts_time,flags -of csv=p=0 -read_intervals %+#1 '" + Path + "'"));
}

class FFmpegRemux : public ::testing::Test {
protected:
  void SetUp() override {
    KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
    KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  }
  kztest::TTempDir Dir;
};

// A live stream switched on after it started and off again: the file holds
// the stretch between the two key frames that followed the switches.
TEST_F(FFmpegRemux, SwitchesAtKeyFramesOfALiveStream) {
  kztest::TRtspServer server(false, "/cam", {kztest::TRtspMedia::H264, false, true, 320, 240});
  KZ_NEED(server.Why().empty(), server.Why());
  const std::string out = Dir / "live.mkv";
  TKzMFFMPEG player;
  kztest::TPlayLog log;
  log.Attach(player);
  player.Options.RTSPTransport = kzRtspTCP;
  auto done = std::async(std::launch::async, [&] { player.PlayVideo(server.Url()); });
  ASSERT_TRUE(log.WaitFor(20000, [&] { return log.Times.size() >= 12; }));
  EXPECT_EQ(player.RemuxState(), TKzRemuxState::kzrsIdle);
  player.ChangeRemuxing(true, out);
  EXPECT_EQ(player.RemuxState(), TKzRemuxState::kzrsWaitingForKeyFrame);
  const size_t from = log.FrameCount();
  ASSERT_TRUE(log.WaitFor(20000, [&] { return log.Times.size() >= from + 75; }));  // 3 s of the source
  EXPECT_EQ(player.RemuxState(), TKzRemuxState::kzrsActive);
  player.ChangeRemuxing(false, out);
  ASSERT_TRUE(log.WaitFor(20000, [&] { return player.RemuxState() == TKzRemuxState::kzrsIdle; }));
  const size_t to = log.FrameCount();
  player.Abort();
  done.wait();

  EXPECT_EQ(FirstPacket(out), "0.000000,0.000000,K_");  // no B-frames: pts and dts both start at 0
  const double recorded = double(to - from) / 25;
  EXPECT_NEAR(kztest::ProbeDuration(out), recorded, 1.0);  // one group of pictures: 25 frames
  EXPECT_GT(kztest::ProbeFrameCount(out), 50);
}

// A file remuxed whole, through the library and through kztool, keeps every frame.
TEST_F(FFmpegRemux, WholeFileKeepsEveryFrame) {
  const std::string in = Dir / "in.mp4";
  ASSERT_TRUE(kztest::MakeMedia("-f lavfi -i testsrc=s=320x240:r=25:d=2 -f lavfi -i sine=d=2 -c:v libx264 -g 10 "
                                "-c:a aac", in));
  const std::string viaLibrary = Dir / "lib.mkv", viaTool = Dir / "tool.mp4";
  TKzMFFMPEG player;
  player.Remuxing = true;
  player.RemuxFileName = viaLibrary;
  player.OnGetAudio = [](void*, TMemoryStream&, int32_t&, uint16_t, int64_t&, uint32_t&, int32_t&, TKzBitsPerSample&,
                         int32_t&) {};
  player.PlayVideo(in);
  const std::string tool = kztest::AppPath("kztool");
  const std::string printed = kztest::Run("'" + tool + "' remux '" + in + "' '" + viaTool + "'");
  EXPECT_EQ(printed, "remuxed: " + viaTool + "\n");
  for (const std::string& out : {viaLibrary, viaTool}) {
    SCOPED_TRACE(out);
    EXPECT_EQ(kztest::ProbeFrameCount(out), 50);
    // With B-frames the decoding time starts at 0 (Matroska keeps none) and
    // the first picture time is two frames later.
    const std::string first = FirstPacket(out);
    EXPECT_TRUE(first == "0.080000,0.000000,K_" || first == "0.080000,N/A,K_") << first;
    EXPECT_NEAR(kztest::ProbeDuration(out, "a") > 0 ? kztest::ProbeDuration(out, "a") : kztest::ProbeDuration(out), 2.0, 0.1);
  }
  EXPECT_NE(kztest::Run("'" + tool + "' remux '" + Dir / "missing.mp4" + "' '" + viaTool + "' 2>&1"), "");
}

}  // namespace
}  // namespace kz
