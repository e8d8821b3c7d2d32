// kztool mic record --wav … --fast on files made by sox, measured by sox:
// the default gate takes white noise down and leaves a tone; pitch ±50
// moves a 1 kHz tone to 1500 and 667 Hz.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/audio/kzaudiotest.h"
#include "tests/kztestneed.h"

using namespace kztest;

namespace {
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
