// The microphone's processing chain (spectral gate, pitch +50 %, volume x2,
// silence test, level) over 60 s of sound in capture-sized blocks, against
// "sox IN OUT noisered PROF 0.21 pitch 702 vol 2" on the same sound in the
// same run. Reported: real-time factors (CPU seconds per second of sound)
// of both sides and the ratio ours / sox, for 48 kHz 16-bit and 8 kHz 8-bit.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "audio/fmxMKzAudioFuncs.h"
#include "bench/kzbench.h"

using namespace kz;

namespace {

constexpr int kSeconds = 60;

struct TCase {
  const char* Name;
  int Rate;
  int Bits;
};

void BM_ChainVsSox(benchmark::State& State, TCase C) {
  const std::string dir = "/tmp/kzbench-audio-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string in = dir + "/in.wav", noise = dir + "/noise.wav", prof = dir + "/noise.prof";
  const std::string fmt = " -r " + std::to_string(C.Rate) + " -b " + std::to_string(C.Bits) + " -c 1 ";
  // A voice-like tone in quiet noise, and the noise alone for sox's profile.
  const bool made =
      std::system(("sox -n" + fmt + in + " synth " + std::to_string(kSeconds) +
                   " sine 300-900 whitenoise vol 0.3 2>/dev/null && sox -n" + fmt + noise +
                   " synth 2 whitenoise vol 0.01 && sox " + noise + " -n noiseprof " + prof)
                      .c_str()) == 0;
  if (!made) {
    State.SkipWithError("sox could not make the input");
    kzbench::MissingAnchor(C.Name, "the sox program could not make the input");
    return;
  }
  const std::string raw = dir + "/in.raw";
  std::system(("sox " + in + " -t raw " + raw).c_str());
  std::ifstream f(raw, std::ios::binary);
  const std::string pcm((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const TKzBitsPerSample bits = C.Bits == 8 ? TKzBitsPerSample::kzbps8 : TKzBitsPerSample::kzbps16;
  // Capture blocks at the defaults: 1000 ms rounded up to a power of two in frames.
  const int64_t block = GetMaxPower2(C.Rate, false) * C.Bits / 8;

  double ours = 0, anchor = 0;
  for (auto _ : State) {
    const double start = kzbench::CpuSeconds();
    TMemoryStream s;
    int64_t level = 0, silent = 0;
    for (size_t at = 0; at < pcm.size(); at += block) {
      const int64_t size = std::min<int64_t>(block, pcm.size() - at);
      s.SetSize(0);
      s.Write(pcm.data() + at, size);
      NoiseReduction(s, bits, 1, size, 20, C.Rate);
      silent += Silence(s.Memory(), 10, 5, size, 1, bits);
      level += GetSoundLevel(s.Memory(), size, bits);
      VoiceChange(s, 50, bits, size, 1);
      MulAmplitude(s, bits, size, 2.0);
    }
    benchmark::DoNotOptimize(level + silent);
    ours = (kzbench::CpuSeconds() - start) / kSeconds;
    const double sox = kzbench::CommandCpuSeconds("sox " + in + " " + dir + "/out.wav noisered " + prof + " 0.21 pitch 702 vol 2");
    if (sox < 0) {
      State.SkipWithError("sox failed");
      kzbench::MissingAnchor(C.Name, "sox noisered/pitch/vol failed");
      break;
    }
    anchor = sox / kSeconds;
  }
  std::filesystem::remove_all(dir);
  if (anchor <= 0) return;
  State.counters["rtf_ours"] = ours;
  State.counters["rtf_sox"] = anchor;
  kzbench::Cost(C.Name, ours, anchor, "rtf");
}

}  // namespace

BENCHMARK_CAPTURE(BM_ChainVsSox, 48k16, TCase{"audio_chain_48k_s16_rtf", 48000, 16})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ChainVsSox, 8k8, TCase{"audio_chain_8k_u8_rtf", 8000, 8})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
