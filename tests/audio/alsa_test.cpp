// The microphone and the player on ALSA without a sound card: a test
// configuration (HOME pointing at a .asoundrc) whose capture PCM reads a file
// and whose playback PCM writes one, and a default device that does not
// exist; kztool mic list and play --list against arecord -L and aplay -L.
// kztool mic record --wav … --fast on files made by sox, measured by sox:
// the default gate takes white noise down and leaves a tone; pitch ±50
// moves a 1 kHz tone to 1500 and 667 Hz.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <thread>

#include "audio/Fmxmkzwavefuncs.h"
#include "audio/fmxMKzAudioPlayer.h"
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
                                 "pcm.kzout {\n  type file\n  slave.pcm \"null\"\n  file \"" + (Dir / "out.raw") +
                                     "\"\n  format \"raw\"\n"
                                     "  hint { show on description \"KzMedia test playback\" }\n}\n"
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

int32_t DeviceIndex(const TKzAudioPlayer& Player, const std::string& Name) {
  for (int32_t i = 0; i < Player.GetAudioOutputDeviceCount(); ++i)
    if (Player.GetAudioOutputDeviceList(i) == Name) return i;
  return -1;
}

// The device names of "aplay -L" or "arecord -L", one a line.
std::string AlsaList(const std::string& Tool) {
  std::string names;
  std::istringstream lines(RunOutput("HOME=" + Home().Dir.Path() + " " + Tool + " -L"));
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line[0] != ' ') names += line + "\n";
  return names;
}
// A value of "sox FILE -n stat" ("RMS     amplitude" and the like).
double SoxStat(const std::string& File, const std::string& Name) {
  const std::string out = RunOutput("sox " + File + " -n stat 2>&1");
  const size_t at = out.find(Name);
  return at == std::string::npos ? NAN : std::atof(out.c_str() + out.find(':', at) + 1);
}
// The strongest frequency of "sox FILE -n stat -freq".
double PeakFrequency(const std::string& File) {
  const std::string out = RunOutput("sox " + File + " -n stat -freq 2>&1");
  double best = 0, bestPower = -1, f, p;
  for (const char* line = out.c_str(); line && *line; line = std::strchr(line, '\n'), line = line ? line + 1 : nullptr)
    if (std::sscanf(line, "%lf %lf", &f, &p) == 2 && f > 20 && p > bestPower) best = f, bestPower = p;
  return best;
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
  const std::string expected = AlsaList("arecord");
  int status = -1;
  const std::string listed = RunOutput("HOME=" + Home().Dir.Path() + " " + AppPath("kztool") + " mic list", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(expected.find("kzfile"), std::string::npos);
  EXPECT_EQ(listed, expected);
}

TEST(AlsaPlayback, TheDeviceGetsTheSamplesOfASoxFileInOrder) {
  KZ_NEED(HaveProgram("sox"), "sox");
  const std::string wav = Home().Dir / "tone.wav";
  ASSERT_EQ(std::system(("sox -n -r 8000 -b 16 -c 1 -e signed " + wav + " synth 1.2 sine 300:900").c_str()), 0);
  TFileStream file(wav, TFileMode::fmOpenRead);
  TKzWaveHeader h;
  std::string error;
  ASSERT_TRUE(ReadWaveHeader(file, h, error)) << error;
  const std::string samples = ReadFile(wav).substr(size_t(h.DataOffset), size_t(h.DataSize));

  TKzAudioPlayer player(nullptr);
  const int32_t index = DeviceIndex(player, "kzout");
  ASSERT_GE(index, 0);
  player.SetAudioOutputDeviceIndex(index);
  player.SetActive(true);
  const TGUID g = KzCreateGUID();
  const size_t block = 320;  // 20 ms
  for (size_t at = 0, n = 0; at < samples.size(); at += block, ++n) {
    const std::string part = samples.substr(at, block);
    TMemoryStream s;
    s.Write(part.data(), int64_t(part.size()));
    player.PlayAudio(s, int32_t(part.size()), g, 0, true, 1, TKzBitsPerSample::kzbps16, 8000, 1000 + 20 * int64_t(n),
                     uint32_t(part.size() / 16));
  }
  ASSERT_EQ(player.PlayItems().size(), 1u);
  EXPECT_TRUE(player.PlayItems()[0]->Active());
  const int64_t frames = int64_t(samples.size() / 2);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (player.GetPosition(g, 0) < frames && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(player.GetPosition(g, 0), frames);
  player.SetActive(false);  // closes the device: the file is complete
  const std::string written = ReadFile(Home().Dir / "out.raw");
  EXPECT_EQ(written.size(), samples.size());
  EXPECT_TRUE(written == samples);

  // The same through kztool play, the blocks jittered and some reordered.
  int status = -1;
  const std::string summary = RunOutput("HOME=" + Home().Dir.Path() + " " + AppPath("kztool") + " play " + wav +
                                            " --device kzout --jitter 30 --reorder 10 --latency 200",
                                        &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(summary.find("played 60, dropped 0"), std::string::npos) << summary;
  EXPECT_TRUE(ReadFile(Home().Dir / "out.raw") == samples);
}

TEST(AlsaPlayback, ListsWhatAplayListsAndSurvivesAMissingDevice) {
  TKzAudioPlayer player(nullptr);
  player.SetActive(true);
  // The default device names a card that is not there: the item stays inactive.
  const std::string block(320, '\0');
  TMemoryStream s;
  s.Write(block.data(), int64_t(block.size()));
  EXPECT_NO_THROW(player.PlayAudio(s, 320, KzCreateGUID(), 0, true, 1, TKzBitsPerSample::kzbps16, 8000, 0, 20));
  ASSERT_EQ(player.PlayItems().size(), 1u);
  EXPECT_FALSE(player.PlayItems()[0]->Active());

  KZ_NEED(HaveProgram("aplay"), "aplay (alsa-utils)");
  const std::string expected = AlsaList("aplay");
  std::string listed;
  for (int32_t i = 0; i < player.GetAudioOutputDeviceCount(); ++i) listed += player.GetAudioOutputDeviceList(i) + "\n";
  EXPECT_NE(expected.find("kzout"), std::string::npos);
  EXPECT_EQ(listed, expected);
  int status = -1;
  EXPECT_EQ(RunOutput("HOME=" + Home().Dir.Path() + " " + AppPath("kztool") + " play --list", &status), expected);
  EXPECT_EQ(status, 0);
}

TEST(KztoolMic, GateAndPitchMeasuredBySox) {
  KZ_NEED(HaveProgram("sox"), "sox");
  TTempDir dir;
  const std::string tool = AppPath("kztool");
  ASSERT_EQ(std::system(("sox -n -r 8000 -b 16 -c 1 " + (dir / "tone.wav") + " synth 3 sine 1000 vol 0.25").c_str()), 0);
  // -60 dBFS RMS (sox's white noise at this volume).
  ASSERT_EQ(std::system(("sox -n -r 8000 -b 16 -c 1 " + (dir / "noise.wav") + " synth 3 whitenoise vol 0.00433").c_str()), 0);
  int Runs = 0;
  auto record = [&](const std::string& In, const std::string& Options) {
    const std::string out = dir / ("out" + std::to_string(++Runs) + ".wav");
    int status = -1;
    RunOutput(tool + " mic record " + out + " --wav " + (dir / In) + " --fast --silence 0,0 " + Options, &status);
    EXPECT_EQ(status, 0) << In << " " << Options;
    return out;
  };
  const double noiseIn = SoxStat(dir / "noise.wav", "RMS     amplitude");
  const double noiseOut = SoxStat(record("noise.wav", ""), "RMS     amplitude");
  EXPECT_NEAR(20 * std::log10(noiseIn), -60, 1);
  EXPECT_LE(20 * std::log10(std::max(noiseOut, 1e-9) / noiseIn), -10);
  const std::string tone = record("tone.wav", "");
  EXPECT_NEAR(20 * std::log10(SoxStat(tone, "RMS     amplitude") / SoxStat(dir / "tone.wav", "RMS     amplitude")), 0, 1);
  EXPECT_NEAR(SoxStat(tone, "Length (seconds)"), 3.0, 0.001);

  EXPECT_NEAR(PeakFrequency(record("tone.wav", "--noise off --pitch 50")), 1500, 30);
  EXPECT_NEAR(PeakFrequency(record("tone.wav", "--noise off --pitch -50")), 667, 13);
}
