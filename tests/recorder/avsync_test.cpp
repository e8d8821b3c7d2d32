// Pictures and sound stay together: a source flashes a white picture and
// beeps at the same instant once a second for 60 s of virtual time; in the
// file every flash and the start of its beep lie within one frame period.
#include <regex>

#include "tests/recorder/kzrecordertest.h"

namespace kz {
namespace {

// Times (s) where the luma average of the video rises above the middle.
std::vector<double> Flashes(const std::string& Path) {
  std::vector<double> out;
  bool bright = false;
  std::istringstream in(kztest::Run("ffprobe -v error -f lavfi 'movie=" + Path +
                                    ",signalstats' -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG "
                                    "-of csv=p=0"));
  for (std::string l; std::getline(in, l);) {
    const size_t comma = l.find(',');
    if (comma == std::string::npos) continue;
    const double t = std::atof(l.c_str()), y = std::atof(l.c_str() + comma + 1);
    if (y > 128 && !bright) out.push_back(t);
    bright = y > 128;
  }
  return out;
}

// Times (s) where a sound starts after silence.
std::vector<double> Beeps(const std::string& Path) {
  const std::string log =
      kztest::Run("ffmpeg -v info -nostats -i '" + Path + "' -af silencedetect=n=-30dB:d=0.1 -f null - 2>&1");
  std::vector<double> out;
  const std::regex end("silence_end: ([0-9.]+)");
  for (auto it = std::sregex_iterator(log.begin(), log.end(), end); it != std::sregex_iterator(); ++it)
    out.push_back(std::atof((*it)[1].str().c_str()));
  return out;
}

TEST(RecorderAVSync, FlashAndBeepStayTogether) {
  KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  TKzVirtualClockScope clock;
  kztest::TTempDir dir;
  kztest::TPictureSource video;
  kztest::TSoundSource sound;
  TKzCamRecorder rec(nullptr);
  const std::string out = dir / "sync.mp4";
  rec.SetVideoSource(&video);
  rec.SetAudioSource(&sound);
  rec.SetOutputFileName(out);
  rec.SetActive(true);
  ASSERT_TRUE(rec.Active());
  const TKzMBitmap white = kztest::Picture(64, 48, 0xFFFFFF), black = kztest::Picture(64, 48, 0);
  constexpr int Steps = 60 * 25;
  for (int i = 0; i < Steps; ++i) {
    const bool flash = i % 25 == 0;
    video.Deliver(flash ? white : black);
    sound.Deliver(40, flash ? 12000 : 0, 1000);
    if (i > 0) clock.Clock.Advance(40);
    ASSERT_TRUE(kztest::WaitUntil(20000, [&] { return rec.Stats().Steps > i; })) << "step " << i;
  }
  rec.SetActive(false);

  const std::vector<double> flashes = Flashes(out), beeps = Beeps(out);
  ASSERT_EQ(flashes.size(), 60u);
  ASSERT_GE(beeps.size(), 59u);  // the first beep may start the file without silence before it
  for (double b : beeps) {
    if (b > flashes.back() + 0.5) continue;  // the end of the file closes the last silence
    const auto nearest = std::min_element(flashes.begin(), flashes.end(),
                                          [b](double x, double y) { return std::abs(x - b) < std::abs(y - b); });
    EXPECT_NEAR(*nearest, b, 0.04) << "beep at " << b;
  }
  EXPECT_NEAR(kztest::StreamSpan(out, "a:0"), kztest::StreamSpan(out, "v:0"), 0.1);
}

}  // namespace
}  // namespace kz
