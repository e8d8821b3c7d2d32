// The microphone on ALSA without a sound card: a test configuration (HOME
// pointing at a .asoundrc) whose capture PCM reads a file, and a default
// device that does not exist; kztool mic list against arecord -L.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "audio/fmxMKzMicrophone.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/audio/kzaudiotest.h"
#include "tests/kztestneed.h"

using namespace kz;
using namespace kztest;

namespace {
// The configuration lives for the whole program: ALSA reads it once.
struct TAlsaHome {
  TAlsaHome() {
    std::mt19937 rng(11);
    Input.resize(40000);
    for (char& c : Input) c = static_cast<char>(rng());
    WriteFile(Dir / "in.raw", Input);
    WriteFile(Dir / ".asoundrc", "pcm.kzfile {\n  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n"
                                 "  infile \"" + (Dir / "in.raw") + "\"\n  format \"raw\"\n"
                                 "  hint { show on description \"KzMedia test capture\" }\n}\n"
                                 "pcm.!default { type hw card 29 }\n");
    setenv("HOME", Dir.Path().c_str(), 1);
  }
  TTempDir Dir;
  std::string Input;
};
TAlsaHome& Home() {
  static TAlsaHome home;
  return home;
}
}  // namespace

TEST(AlsaCapture, CapturedBytesEqualTheDeviceInput) {
  const std::string input = Home().Input;
  TKzMicrophone mic(nullptr);
  int32_t index = -1;
  for (int32_t i = 0; i < mic.GetAudioInputDeviceCount(); ++i)
    if (mic.GetAudioInputDeviceList(i) == "kzfile") index = i;
  ASSERT_GE(index, 0);
  mic.SetAudioInputDeviceIndex(index);
  mic.SetNoiseReduction(false);
  mic.SetSoundMinLevel(0);
  mic.SetSoundIgnoreInterval(0);
  TBlockRecorder recorder;
  mic.RegisterCamRecorder(&recorder);
  mic.SetActive(true);
  ASSERT_TRUE(mic.Active());
  ASSERT_TRUE(PumpUntil([&] { return recorder.Bytes() >= input.size(); }, 20000));
  mic.SetActive(false);
  EXPECT_TRUE(recorder.All().substr(0, input.size()) == input);
  EXPECT_EQ(recorder.Blocks()[0].Info, (TKzAudioInfo{8000, TKzBitsPerSample::kzbps8, 1}));
  mic.UnRegisterCamRecorder(&recorder);

  // The default device names a card that is not there.
  TKzMicrophone missing(nullptr);
  missing.SetActive(true);
  EXPECT_FALSE(missing.Active());
}

TEST(AlsaCapture, KztoolListsTheDevicesArecordLists) {
  KZ_NEED(HaveProgram("arecord"), "arecord (alsa-utils)");
  const std::string home = Home().Dir.Path();
  std::string expected;
  std::istringstream lines(RunOutput("HOME=" + home + " arecord -L"));
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line[0] != ' ') expected += line + "\n";
  int status = -1;
  const std::string listed = RunOutput("HOME=" + home + " " + AppPath("kztool") + " mic list", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(expected.find("kzfile"), std::string::npos);
  EXPECT_EQ(listed, expected);
}
