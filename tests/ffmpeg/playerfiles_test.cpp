// kz-test-labels: peer
// Files made by the ffmpeg tool play through the engine: every frame ffprobe
// counts arrives, colours survive decoding and scaling, audio arrives as
// 8/16-bit PCM of the right length; bad input ends with the right error.
// Remuxing: the written file starts at a key frame with time stamp 0, ffprobe
// reads it, and its length is what was recorded (within one group of pictures).
#include <future>

#include "tests/ffmpeg/kzffmpegtest.h"

namespace kz {
namespace {

using kztest::TPlayLog;

// "pts_time,dts_time,flags" of the first video packet of Path.
std::string FirstPacket(const std::string& Path) {
  return kztest::KzTrimLine(kztest::Run("ffprobe -v error -select_streams v:0 -show_entries "
                                        "packet=pts_time,dts_time,flags -of csv=p=0 -read_intervals %+#1 '" + Path + "'"));
}

class FFmpegFiles : public ::testing::Test {
protected:
  void SetUp() override {
    KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
    KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  }
  kztest::TTempDir Dir;
};

// A flat colour (R 0x30, G 0x80, B 0xC0) with a tone; the centre pixel is
// compared within ±3 per channel.
TEST_F(FFmpegFiles, PlayEveryFrameWithColourAndAudio) {
  const std::string video = "-f lavfi -i color=c=0x3080C0:s=320x240:r=25:d=3 ";
  const struct {
    const char* Name;
    std::string Args;
    int Rate, Channels;
    TKzBitsPerSample Bits;
  } files[] = {
      {"a.mp4", video + "-f lavfi -i sine=f=440:r=44100:d=3 -c:v libx264 -g 12 -c:a aac -ac 2", 44100, 2,
       TKzBitsPerSample::kzbps16},
      {"b.mkv", video + "-f lavfi -i sine=f=440:r=48000:d=3 -c:v libx265 -x265-params log-level=error -c:a libopus -ac 6",
       48000, 2, TKzBitsPerSample::kzbps16},
      {"c.mkv", video + "-f lavfi -i sine=f=440:r=8000:d=3 -c:v mpeg4 -c:a pcm_u8", 8000, 1, TKzBitsPerSample::kzbps8},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.Name);
    const std::string path = Dir / f.Name;
    ASSERT_TRUE(kztest::MakeMedia(f.Args, path));
    TKzMFFMPEG player;
    TPlayLog log;
    log.Attach(player);
    log.AttachAudio(player);
    player.PlayVideo(path);
    EXPECT_EQ(player.Err(), KzFFmpegEndOfFile());
    EXPECT_FALSE(player.SourceError().Failed());
    EXPECT_EQ(int(log.Times.size()), kztest::ProbeFrameCount(path));
    EXPECT_EQ(log.Width, 320);
    const std::array<int, 3> want{0xC0, 0x80, 0x30};
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(log.Centre[size_t(c)], want[size_t(c)], 3) << "channel " << c;
    EXPECT_EQ(log.Centre[3], 255);
    EXPECT_EQ(log.AudioRate, f.Rate);
    EXPECT_EQ(log.AudioChannels, f.Channels);
    EXPECT_EQ(log.AudioBits, f.Bits);
    const int bytesPerSample = f.Bits == TKzBitsPerSample::kzbps16 ? 2 : 1;
    const double samples = double(log.AudioBytes) / (f.Channels * bytesPerSample);
    double duration = kztest::ProbeDuration(path, "a");
    if (duration <= 0) duration = kztest::ProbeDuration(path);  // Matroska gives only the file's
    EXPECT_NEAR(samples, duration * f.Rate, 0.01 * duration * f.Rate);
    const std::vector<TKzFFMState> states{TKzFFMState::kzffmsStarting, TKzFFMState::kzffmsPlaying,
                                          TKzFFMState::kzffmsStopping, TKzFFMState::kzffmsInit};
    EXPECT_EQ(log.States, states);
  }
}

// Scaling to a requested size, and video-only playback when nobody takes audio.
TEST_F(FFmpegFiles, ScalesToTheRequestedSize) {
  const std::string path = Dir / "s.mp4";
  ASSERT_TRUE(kztest::MakeMedia("-f lavfi -i color=c=0x3080C0:s=320x240:r=25:d=1 -c:v libx264", path));
  // A fixed size is the picture itself; a wanted size is covered with the
  // aspect kept, never larger than the stream.
  const struct { bool Fixed; TKzDecodeSize Wanted; int W, H, SourceW; } rows[] = {
      {true, {}, 160, 100, 160}, {false, {100, 50}, 100, 75, 320}, {false, {640, 480}, 320, 240, 320}};
  for (const auto& r : rows) {
    TKzMFFMPEG player;
    TPlayLog log;
    log.Attach(player);
    player.Options.UseVideoScale = r.Fixed;
    player.Options.VideoWidth = 160;
    player.Options.VideoHeight = 100;
    player.OnGetPictureSize = [&] { return r.Wanted; };
    player.PlayVideo(path);
    EXPECT_EQ(int(log.Times.size()), 25);
    EXPECT_EQ(log.Width, r.W);
    EXPECT_EQ(log.Height, r.H);
    EXPECT_EQ(log.SourceWidth, r.SourceW);
    EXPECT_NEAR(log.Centre[0], 0xC0, 3);
  }
}

// Damaged transport-stream packets in the middle cost their pictures, not the rest.
TEST_F(FFmpegFiles, DamagedPacketsCostOnlyTheirFrames) {
  const std::string path = Dir / "d.ts";
  ASSERT_TRUE(kztest::MakeMedia("-f lavfi -i testsrc=s=320x240:r=25:d=3 -c:v libx264 -g 25", path));
  std::string data = kztest::ReadFile(path);
  for (size_t p = (data.size() / 2) / 188 * 188, n = 0; n < 30 && p + 188 <= data.size(); p += 188, ++n)
    for (size_t i = 4; i < 188; ++i) data[p + i] = char(0x5A ^ i);  // payload garbage, headers intact
  kztest::WriteFile(path, data);
  TKzMFFMPEG player;
  TPlayLog log;
  log.Attach(player);
  player.PlayVideo(path);
  EXPECT_EQ(player.Err(), KzFFmpegEndOfFile());
  EXPECT_TRUE(log.Errors.empty());
  EXPECT_GE(log.Times.size(), 50u);
  EXPECT_LT(log.Times.size(), 75u);
  EXPECT_GE(log.Times.back() - log.Times.front(), 2.8);  // the pictures after the damage arrived
}

TEST_F(FFmpegFiles, BadInputEndsWithItsError) {
  kztest::WriteFile(Dir / "junk.mp4", std::string(5000, '\x47'));
  kztest::WriteFile(Dir / "empty.mkv", "");
  const std::string audioOnly = Dir / "tone.wav";
  ASSERT_TRUE(kztest::MakeMedia("-f lavfi -i sine=d=1", audioOnly));
  using K = TKzSourceErrorKind;
  const struct {
    std::string Url;
    int32_t Code;
    K Kind;
  } cases[] = {
      {Dir / "missing.mp4", 1, K::kzseEmptyFile},
      {Dir / "empty.mkv", 1, K::kzseEmptyFile},
      {Dir / "junk.mp4", 1, K::kzseEmptyFile},
      {audioOnly, 3, K::kzseNotVideo},
      {"ftp://127.0.0.1:9/x.mp4", 1, K::kzseOther},  // not a whitelisted protocol
      {"rtsp://127.0.0.1:1/x", 1, K::kzseRefused},
      {"http://127.0.0.1:1/x.mp4", 1, K::kzseRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Url);
    TKzMFFMPEG player;
    TPlayLog log;
    log.Attach(player);
    player.PlayVideo(c.Url);
    EXPECT_EQ(player.Err(), c.Code);
    ASSERT_FALSE(log.Errors.empty());
    EXPECT_EQ(log.Errors[0].first, c.Code);
    EXPECT_EQ(log.Errors[0].second, KzFFmpegErrorText(c.Code));
    EXPECT_EQ(log.States.back(), TKzFFMState::kzffmsInit);
    EXPECT_EQ(player.SourceError().Kind, c.Kind) << player.SourceError().Text;
  }
}

// A live stream switched on after it started and off again: the file holds
// the stretch between the two key frames that followed the switches.
TEST_F(FFmpegFiles, RemuxSwitchesAtKeyFramesOfALiveStream) {
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
TEST_F(FFmpegFiles, RemuxWholeFileKeepsEveryFrame) {
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
