// The processing functions against plain arithmetic: the FFT against a DFT,
// levels, amplification and the silence test as tables, and what the gate
// and the pitch shifter must leave alone (other channels, the block size).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "audio/fmxMKzAudioFuncs.h"

using namespace kz;

namespace {
void PutS16(TMemoryStream& S, const std::vector<int16_t>& Samples) {
  S.SetSize(0);
  for (int16_t v : Samples) {
    const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8)};
    S.Write(b, 2);
  }
}
std::vector<int16_t> ReadS16(const TMemoryStream& S) {
  std::vector<int16_t> v(static_cast<size_t>(S.Size() / 2));
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>(S.Memory()[2 * i] | (S.Memory()[2 * i + 1] << 8));
  return v;
}
}  // namespace

TEST(AudioFuncs, FFTEqualsAPlainDFTAndInvertsItself) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1, 1);
  for (size_t n : {2u, 8u, 64u, 512u}) {
    std::vector<TKzComplex> x(n);
    for (auto& v : x) v = TKzComplex(u(rng), u(rng));
    std::vector<TKzComplex> a = x;
    KzFFT(a, false);
    for (size_t k = 0; k < n; ++k) {
      TKzComplex sum;
      for (size_t t = 0; t < n; ++t) sum += x[t] * std::polar(1.0, 2 * std::numbers::pi * double(k * t) / double(n));
      ASSERT_NEAR(std::abs(a[k] - sum), 0, 1e-9 * n) << "n=" << n << " k=" << k;
    }
    KzFFT(a, true);
    for (size_t t = 0; t < n; ++t) ASSERT_NEAR(std::abs(a[t] - x[t]), 0, 1e-12) << "n=" << n;
  }
}

TEST(AudioFuncs, LevelsAmplificationAndSilence) {
  // Peaks: 16-bit shifted right by 8, the 8-bit ones true peaks.
  TMemoryStream minS16;
  PutS16(minS16, {0, -32768, 5});
  EXPECT_EQ(GetSoundLevel(minS16.Memory(), minS16.Size(), TKzBitsPerSample::kzbps16), 128);
  const uint8_t u8[] = {128, 127, 255, 0};
  EXPECT_EQ(GetSoundLevel_U8(u8, 3), 127);
  EXPECT_EQ(GetSoundLevel_U8(u8, 4), 128);
  EXPECT_EQ(GetSoundLevel_S8(u8 + 3, 1), 0);

  struct {
    double Factor;
    std::vector<int16_t> In, Out;
  } mul16[] = {
      {1.5, {1000, -1000}, {1000, -1000}},  // below 2: unchanged
      {2.0, {1000, 20000, -20000, -3}, {2000, 32767, -32768, -6}},
      {2.5, {3, 5}, {8, 12}},  // 7.5 -> 8 and 12.5 -> 12: half to even
  };
  for (const auto& c : mul16) {
    TMemoryStream s;
    PutS16(s, c.In);
    MulAmplitude(s, TKzBitsPerSample::kzbps16, s.Size(), c.Factor);
    EXPECT_EQ(ReadS16(s), c.Out) << c.Factor;
  }
  TMemoryStream s8;
  const uint8_t in8[] = {100, 200, 128};
  s8.Write(in8, 3);
  MulAmplitude(s8, TKzBitsPerSample::kzbps8, 3, 2.0);
  EXPECT_EQ(std::vector<uint8_t>(s8.Memory(), s8.Memory() + 3), (std::vector<uint8_t>{72, 255, 128}));

  struct {
    std::vector<uint8_t> Bytes;
    int MinLevel, Spread;
    bool Silent;
  } silence8[] = {
      {{128, 130, 126, 129}, 10, 5, true},  // quiet and steady
      {{128, 139, 117, 128}, 10, 5, false}, // mean 5.5 but 11 strays beyond 5.5 + 5
      {{20, 236, 20, 236}, 10, 5, false},   // loud
      {{20, 236, 20, 236}, 0, 5, true},     // no level limit: steady is silent
      {{}, 10, 5, false},                   // empty
  };
  for (const auto& c : silence8)
    EXPECT_EQ(Silence(c.Bytes.data(), c.MinLevel, c.Spread, c.Bytes.size(), 1, TKzBitsPerSample::kzbps8), c.Silent)
        << c.Bytes.size() << " " << c.MinLevel;
  TMemoryStream quiet16;
  PutS16(quiet16, {600, -600, 700, -650});  // mean < 10*256, within 5*256
  EXPECT_TRUE(Silence(quiet16.Memory(), 10, 5, quiet16.Size(), 1, TKzBitsPerSample::kzbps16));

  EXPECT_EQ(GetMaxPower2(8000, false), 8192);
  EXPECT_EQ(GetMaxPower2(8192, false), 8192);
  EXPECT_EQ(GetMaxPower2(8000, true), 4096);
  EXPECT_EQ(GetMaxPower2(0, false), 1);
  EXPECT_EQ(GetTrackMSec(8192, 1, TKzBitsPerSample::kzbps8, 8000), 1024u);
}

// Blocks that are not a power of two keep their size; a channel's sound
// never leaks into another channel.
TEST(AudioFuncs, GateAndPitchWorkPerChannelOnAnyBlockSize) {
  const int frames = 4800;  // 0.1 s at 48 kHz, padded to 8192 inside
  std::vector<int16_t> stereo(2 * frames);
  for (int f = 0; f < frames; ++f)
    stereo[2 * f] = static_cast<int16_t>(std::lround(8000 * std::sin(2 * std::numbers::pi * 1000 * f / 48000.0)));
  for (int pitch : {0, 50, -50}) {
    TMemoryStream s;
    PutS16(s, stereo);
    NoiseReduction(s, TKzBitsPerSample::kzbps16, 2, s.Size(), 20, 48000);
    VoiceChange(s, pitch, TKzBitsPerSample::kzbps16, s.Size(), 2);
    ASSERT_EQ(s.Size(), 4 * frames) << pitch;
    const std::vector<int16_t> out = ReadS16(s);
    int64_t leftEnergy = 0, rightPeak = 0;
    for (int f = 0; f < frames; ++f) {
      leftEnergy += int64_t{out[2 * f]} * out[2 * f];
      rightPeak = std::max<int64_t>(rightPeak, std::abs(out[2 * f + 1]));
    }
    EXPECT_EQ(rightPeak, 0) << pitch;
    EXPECT_GT(leftEnergy / frames, 1000 * 1000) << pitch;  // the tone is still there
  }
}
