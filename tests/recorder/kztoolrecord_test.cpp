// kztool record with real sources: the synthetic camera and a WAV file
// played by the microphone into one mp4; a disk that fills up (a small
// tmpfs) reports once and leaves a file that plays to its end.
#include <filesystem>

#include "tests/recorder/kzrecordertest.h"

namespace kz {
namespace {

class KztoolRecord : public ::testing::Test {
protected:
  void SetUp() override {
    KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
    Tone = Dir / "tone.wav";
    ASSERT_TRUE(kztest::MakeMedia("-f lavfi -i sine=d=5:f=440 -ar 44100 -ac 1 -c:a pcm_s16le", Tone));
  }
  kztest::TTempDir Dir;
  std::string Tone;
};

TEST_F(KztoolRecord, CameraAndMicrophoneIntoOneFile) {
  const std::string out = Dir / "both.mp4";
  const std::string printed =
      kztest::Run("'" + kztest::AppPath("kztool") + "' record --camsim --wav '" + Tone + "' --out '" + out + "' --seconds 3 2>&1");
  EXPECT_NE(printed.find("recorded " + out + ": "), std::string::npos) << printed;
  EXPECT_EQ(kztest::DecodeErrors(out), "");
  EXPECT_EQ(kztest::Probe(out, "v:0", "stream=width,height"), std::vector<std::string>{"640,480"});
  // Three seconds of wall time, give or take the start-up (a loaded machine
  // may skip steps, which keep their time in the file).
  EXPECT_NEAR(kztest::StreamSpan(out, "v:0"), 3.0, 0.5);
  EXPECT_GT(kztest::ProbeFrameCount(out), 25);
  EXPECT_NEAR(kztest::StreamSpan(out, "a:0"), kztest::StreamSpan(out, "v:0"), 0.3);
}

TEST_F(KztoolRecord, FullDiskReportsOnceAndKeepsAPlayableFile) {
  KZ_NEED(std::system("unshare -rm true 2>/dev/null") == 0, "a user and mount namespace for a small tmpfs");
  // A 400 KB tmpfs fills within a few seconds.
  const std::string printed = kztest::KztoolOnSmallDisk(
      Dir, "400k", "record --camsim --out \"$MNT/full.mkv\" --seconds 8 --vbitrate 3000000");
  EXPECT_EQ(kztest::Occurrences(printed, "No space left"), 1u) << printed;
  // It stops there, says so, and still prints what it wrote.
  EXPECT_NE(printed.find("recording stopped: the file could not be written further"), std::string::npos) << printed;
  EXPECT_NE(printed.find("rc=1"), std::string::npos) << printed;
  kztest::ExpectOnePlayableFile(printed, 5);
}

}  // namespace
}  // namespace kz
