// WAV files made by sox and ffmpeg read sample for sample as sox reads them;
// cut, odd and garbage files; the writer's header against ffmpeg's.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include <random>

#include "audio/Fmxmkzwavefuncs.h"
#include "tests/audio/kzaudiotest.h"
#include "tests/kztestneed.h"

using namespace kz;
using namespace kztest;

namespace {
// The reader's samples of File in block layout, or "" with Error set.
std::string ReadSamples(const std::string& File, TKzWaveHeader& H, std::string& Error) {
  TFileStream f(File, TFileMode::fmOpenRead);
  if (!f.Valid() || !ReadWaveHeader(f, H, Error)) return "";
  std::string in(static_cast<size_t>(H.DataSize), '\0');
  f.Seek(H.DataOffset, TSeekOrigin::soBeginning);
  f.Read(in.data(), H.DataSize);
  std::string out(static_cast<size_t>(H.Frames * H.FrameBytes()), '\0');
  ConvertWaveFrames(reinterpret_cast<const uint8_t*>(in.data()), H.Frames, H,
                    reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

// Largest difference between two runs of 16-bit samples.
int MaxDiff16(const std::string& A, const std::string& B) {
  int d = 0;
  for (size_t i = 0; i + 1 < std::min(A.size(), B.size()); i += 2) {
    const int a = static_cast<int16_t>(static_cast<uint8_t>(A[i]) | static_cast<uint8_t>(A[i + 1]) << 8);
    const int b = static_cast<int16_t>(static_cast<uint8_t>(B[i]) | static_cast<uint8_t>(B[i + 1]) << 8);
    d = std::max(d, std::abs(a - b));
  }
  return d;
}
}  // namespace

TEST(WaveFiles, ReadsWhatSoxAndFfmpegWriteAsSoxReadsIt) {
  KZ_NEED(HaveProgram("sox") && HaveProgram("ffmpeg"), "sox and ffmpeg");
  TTempDir dir;
  struct {
    const char* Name;
    const char* Make;  // %s: the output file
    int Channels;
    bool Converted;
  } files[] = {
      {"u8_mono", "sox -n -r 11025 -b 8 -c 1 %s synth 0.37 sine 440 vol 0.7", 1, false},
      {"s16_stereo", "sox -n -r 11025 -b 16 -c 2 %s synth 0.37 sine 440 vol 0.7", 2, false},
      {"s24_mono", "sox -n -r 11025 -b 24 -c 1 %s synth 0.37 sine 440 vol 0.7", 1, true},
      {"s32_stereo", "sox -n -r 11025 -b 32 -c 2 %s synth 0.37 sine 440 vol 0.7", 2, true},
      {"f32_stereo", "sox -n -r 11025 -e floating-point -b 32 -c 2 %s synth 0.37 sine 440 vol 0.7", 2, true},
      {"s16_six", "sox -n -r 11025 -b 16 -c 6 %s synth 0.37 sine 440 vol 0.7", 6, false},  // extensible
      {"ffmpeg_list", "ffmpeg -v error -f lavfi -i sine=f=440:d=0.37:r=11025 -ac 2 -c:a pcm_s16le -y %s", 2, false},
  };
  for (const auto& c : files) {
    const std::string path = dir / (std::string(c.Name) + ".wav");
    char cmd[512];
    std::snprintf(cmd, sizeof cmd, c.Make, path.c_str());
    ASSERT_EQ(std::system(cmd), 0) << cmd;
    TKzWaveHeader h;
    std::string error;
    const std::string ours = ReadSamples(path, h, error);
    ASSERT_TRUE(error.empty()) << c.Name << ": " << error;
    EXPECT_EQ(h.Channels, c.Channels) << c.Name;
    EXPECT_EQ(h.SamplesPerSec, 11025) << c.Name;
    EXPECT_EQ(h.Converted(), c.Converted) << c.Name;
    const std::string theirs = RunOutput("sox " + path + (c.Converted ? " -b 16 -D" : "") + " -t raw - 2>/dev/null");
    ASSERT_EQ(ours.size(), theirs.size()) << c.Name;
    if (c.Converted)
      EXPECT_LE(MaxDiff16(ours, theirs), 1) << c.Name;
    else
      EXPECT_TRUE(ours == theirs) << c.Name;
    if (std::string(c.Name) == "ffmpeg_list") {
      EXPECT_NE(ReadFile(path).find("LIST"), std::string::npos);
    }
  }

  // Sizes that lie: a data size past the end (a cut file) plays what is there;
  // any RIFF size is accepted.
  const std::string whole = ReadFile(dir / "s16_stereo.wav");
  const std::string pcm = RunOutput("sox " + (dir / "s16_stereo.wav") + " -t raw -");
  struct {
    const char* Name;
    std::string Bytes;
    size_t Frames;
  } odd[] = {
      {"cut", whole.substr(0, whole.size() - 1001), (pcm.size() - 1001) / 4},
      {"riff0", std::string(whole).replace(4, 4, std::string(4, '\0')), pcm.size() / 4},
      {"riff_huge", std::string(whole).replace(4, 4, std::string(4, '\xFF')), pcm.size() / 4},
  };
  for (const auto& c : odd) {
    WriteFile(dir / "odd.wav", c.Bytes);
    TKzWaveHeader h;
    std::string error;
    const std::string ours = ReadSamples(dir / "odd.wav", h, error);
    ASSERT_TRUE(error.empty()) << c.Name << ": " << error;
    EXPECT_EQ(static_cast<size_t>(h.Frames), c.Frames) << c.Name;
    EXPECT_TRUE(ours == pcm.substr(0, ours.size())) << c.Name;
  }
}

TEST(WaveFiles, RefusesWhatItCannotPlayWithAReason) {
  std::mt19937 rng(3);
  std::string garbage(4000, '\0');
  for (char& ch : garbage) ch = static_cast<char>(rng());
  uint8_t h44[44];
  KzWriteWaveHeader(h44, 2, 8000, 16, 400);
  const std::string good(reinterpret_cast<char*>(h44), 44);
  struct {
    const char* Name;
    std::string Bytes;
    const char* Reason;
  } bad[] = {
      {"garbage", garbage, "not a RIFF/WAVE file"},
      {"header only", good.substr(0, 30), "format chunk cut short"},
      {"no data", good.substr(0, 36), "no data chunk"},
      {"alaw", std::string(good).replace(20, 2, "\x06\x00", 2), "unsupported sample format 6"},
      {"nine channels", std::string(good).replace(22, 2, "\x09\x00", 2), "unsupported channel count 9"},
      {"12 bits", std::string(good).replace(34, 2, "\x0C\x00", 2), "unsupported sample format 1 with 12 bits"},
      {"bad align", std::string(good).replace(32, 2, "\x03\x00", 2), "block align 3"},
  };
  for (const auto& c : bad) {
    TMemoryStream s;
    s.Write(c.Bytes.data(), static_cast<int64_t>(c.Bytes.size()));
    TKzWaveHeader h;
    std::string error;
    EXPECT_FALSE(ReadWaveHeader(s, h, error)) << c.Name;
    EXPECT_NE(error.find(c.Reason), std::string::npos) << c.Name << ": " << error;
  }
  EXPECT_THROW(KzWriteWaveHeader(h44, 3, 8000, 16, 0), EKzMediaError);
  EXPECT_THROW(KzWriteWaveHeader(h44, 1, 0, 16, 0), EKzMediaError);
}

TEST(WaveFiles, WrittenFilesMatchFfmpegAndLastTheirLength) {
  KZ_NEED(HaveProgram("ffmpeg") && HaveProgram("soxi"), "ffmpeg and soxi");
  TTempDir dir;
  struct {
    int Channels, Rate, Bits;
    const char* RawFormat;
  } formats[] = {{1, 8000, 8, "u8"}, {2, 44100, 16, "s16le"}};
  for (const auto& f : formats) {
    const int64_t size = int64_t{f.Rate} * f.Channels * f.Bits / 8 * 3 / 2;  // 1.5 s
    std::string samples(static_cast<size_t>(size), '\0');
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<char>(i * 7);
    {
      TKzWaveWriter w(dir / "ours.wav", f.Channels, f.Rate, f.Bits);
      ASSERT_TRUE(w.Write(samples.data(), 1000));
      ASSERT_TRUE(w.Write(samples.data() + 1000, size - 1000));
    }
    WriteFile(dir / "in.raw", samples);
    const std::string cmd = "ffmpeg -v error -f " + std::string(f.RawFormat) + " -ar " + std::to_string(f.Rate) +
                            " -ac " + std::to_string(f.Channels) + " -i " + (dir / "in.raw") +
                            " -bitexact -c:a pcm_" + f.RawFormat + " -y " + (dir / "theirs.wav");
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_TRUE(ReadFile(dir / "ours.wav") == ReadFile(dir / "theirs.wav")) << f.RawFormat;
    EXPECT_EQ(RunOutput("soxi -D " + (dir / "ours.wav")), "1.500000\n") << f.RawFormat;
  }
}
