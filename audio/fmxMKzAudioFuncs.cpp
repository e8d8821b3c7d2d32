#include "audio/fmxMKzAudioFuncs.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kz {

int64_t KzRound(double X) { return static_cast<int64_t>(std::nearbyint(X)); }

namespace {

template <typename T>
T Clamp(int64_t V, int64_t Lo, int64_t Hi) {
  return static_cast<T>(std::clamp(V, Lo, Hi));
}

int16_t ReadS16(const uint8_t* P) { return static_cast<int16_t>(P[0] | (P[1] << 8)); }
void WriteS16(uint8_t* P, int64_t V) {
  const uint16_t u = static_cast<uint16_t>(Clamp<int16_t>(V, -32768, 32767));
  P[0] = static_cast<uint8_t>(u);
  P[1] = static_cast<uint8_t>(u >> 8);
}

void BitReverse(std::vector<TKzComplex>& A) {
  const size_t n = A.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j |= bit;
    if (i < j) std::swap(A[i], A[j]);
  }
}

// One channel of a block: its frames as complex samples in [-1, 1), zero
// beyond Frames up to A.size(), and back.
void LoadChannel(const uint8_t* Data, TKzBitsPerSample Bits, int32_t Channels, int32_t Channel, int64_t Frames,
                 std::vector<TKzComplex>& A) {
  std::fill(A.begin(), A.end(), TKzComplex());
  if (Bits == TKzBitsPerSample::kzbps8) {
    for (int64_t f = 0; f < Frames; ++f) A[f] = (Data[f * Channels + Channel] - 128) / 128.0;
  } else {
    for (int64_t f = 0; f < Frames; ++f) A[f] = ReadS16(Data + 2 * (f * Channels + Channel)) / 32768.0;
  }
}

void StoreChannel(uint8_t* Data, TKzBitsPerSample Bits, int32_t Channels, int32_t Channel, int64_t Frames,
                  const std::vector<TKzComplex>& A) {
  if (Bits == TKzBitsPerSample::kzbps8) {
    for (int64_t f = 0; f < Frames; ++f)
      Data[f * Channels + Channel] = Clamp<uint8_t>(KzRound(A[f].real() * 128 + 128), 0, 255);
  } else {
    for (int64_t f = 0; f < Frames; ++f) WriteS16(Data + 2 * (f * Channels + Channel), KzRound(A[f].real() * 32768));
  }
}

struct TBlockShape {
  int64_t Frames = 0;
  int64_t Points = 0;  // power of two >= Frames
};

bool BlockShape(const TMemoryStream& Stream, TKzBitsPerSample Bits, int32_t Channels, int64_t Size, TBlockShape& S) {
  if (Channels < 1 || Size <= 0) return false;
  const int64_t bytes = std::min(Size, Stream.Size());
  S.Frames = bytes / (KzBitsToInt(Bits) / 8) / Channels;
  S.Points = GetMaxPower2(S.Frames, false);
  return S.Frames > 0;
}

// Scratch of the calling thread, so that a block costs no allocation.
std::vector<TKzComplex>& Scratch(size_t Index, size_t N) {
  thread_local std::vector<TKzComplex> buffers[3];
  buffers[Index].resize(N);
  return buffers[Index];
}

// Runs Process on the spectrum of every channel of the block, in place.
template <typename F>
void ForEachChannelSpectrum(TMemoryStream& Stream, TKzBitsPerSample Bits, int32_t Channels, int64_t Size,
                            F&& Process) {
  TBlockShape shape;
  if (!BlockShape(Stream, Bits, Channels, Size, shape)) return;
  std::vector<TKzComplex>& a = Scratch(0, static_cast<size_t>(shape.Points));
  for (int32_t c = 0; c < Channels; ++c) {
    LoadChannel(Stream.Memory(), Bits, Channels, c, shape.Frames, a);
    KzFFT(a, false);
    Process(a);
    KzFFT(a, true);
    StoreChannel(Stream.Memory(), Bits, Channels, c, shape.Frames, a);
  }
}

}  // namespace

void KzFFT(std::vector<TKzComplex>& A, bool Inverse) {
  const size_t n = A.size();
  if (n < 2) return;
  BitReverse(A);
  std::vector<TKzComplex>& w = Scratch(2, n / 2);
  double* d = reinterpret_cast<double*>(A.data());
  for (size_t m = 2; m <= n; m <<= 1) {
    // Twiddles of this stage by the recurrence w(k+1) = w(k) * e^(i theta).
    const double theta = (Inverse ? -2.0 : 2.0) * std::numbers::pi / static_cast<double>(m);
    const double s = std::sin(0.5 * theta);
    const double pr = -2.0 * s * s;
    const double pi = std::sin(theta);
    double wr = 1.0, wi = 0.0;
    const size_t half = m / 2;
    for (size_t k = 0; k < half; ++k) {
      w[k] = TKzComplex(wr, wi);
      const double t = wr;
      wr += wr * pr - wi * pi;
      wi += wi * pr + t * pi;
    }
    const double* wd = reinterpret_cast<const double*>(w.data());
    for (size_t b = 0; b < n; b += m) {
      double* lo = d + 2 * b;
      double* hi = lo + 2 * half;
      for (size_t k = 0; k < half; ++k) {
        const double xr = wd[2 * k] * hi[2 * k] - wd[2 * k + 1] * hi[2 * k + 1];
        const double xi = wd[2 * k] * hi[2 * k + 1] + wd[2 * k + 1] * hi[2 * k];
        hi[2 * k] = lo[2 * k] - xr;
        hi[2 * k + 1] = lo[2 * k + 1] - xi;
        lo[2 * k] += xr;
        lo[2 * k + 1] += xi;
      }
    }
  }
  if (Inverse) {
    const double scale = 1.0 / static_cast<double>(n);
    for (size_t i = 0; i < 2 * n; ++i) d[i] *= scale;
  }
}

int64_t GetMaxPower2(int64_t N, bool RoundDown) {
  if (N < 2) return 1;
  int64_t p = 1;
  while (p < N) p <<= 1;
  if (RoundDown && p > N) p >>= 1;
  return p;
}

uint32_t GetTrackMSec(int64_t Size, int32_t Channels, TKzBitsPerSample Bits, int32_t SamplesPerSec) {
  const int64_t bytesPerSec = static_cast<int64_t>(Channels) * (KzBitsToInt(Bits) / 8) * SamplesPerSec;
  if (bytesPerSec <= 0 || Size <= 0) return 0;
  return static_cast<uint32_t>(KzRound(static_cast<double>(Size) * 1000.0 / static_cast<double>(bytesPerSec)));
}

void NoiseReduction(TMemoryStream& Stream, TKzBitsPerSample Bits, int32_t Channels, int64_t Size, int32_t Level,
                    int32_t SamplesPerSec) {
  const double root = static_cast<double>(Level) * SamplesPerSec / 800000.0;
  const double threshold = root * root;
  ForEachChannelSpectrum(Stream, Bits, Channels, Size, [threshold](std::vector<TKzComplex>& a) {
    for (TKzComplex& v : a)
      if (v.real() * v.real() + v.imag() * v.imag() < threshold) v = TKzComplex();
  });
}

void VoiceChange(TMemoryStream& Stream, int32_t Pitch, TKzBitsPerSample Bits, int64_t Size, int32_t Channels) {
  if (Pitch == 0) return;
  ForEachChannelSpectrum(Stream, Bits, Channels, Size, [Pitch](std::vector<TKzComplex>& in) {
    const int64_t n = static_cast<int64_t>(in.size());
    std::vector<TKzComplex>& out = Scratch(1, in.size());
    if (Pitch > 0) {
      std::fill(out.begin(), out.end(), TKzComplex());
      out[0] = in[0];
    } else {
      for (int64_t i = 0; i < n; ++i) out[i] = in[i] / 10.0;
    }
    const int64_t half = n / 2;
    const double shift = static_cast<double>(half) / 100.0 * std::abs(Pitch);
    // The mirrored bin of 0 is 0 itself.
    auto mirror = [n](int64_t k) { return (n - k) % n; };
    for (int64_t i = 1; i <= half; ++i) {
      const int64_t j = KzRound(static_cast<double>(i) / (static_cast<double>(half) + shift) * half);
      if (Pitch > 0) {
        out[i] = in[j];
        out[mirror(i)] = in[mirror(j)];
      } else {
        out[j] = in[i];
        out[mirror(j)] = in[mirror(i)];
      }
    }
    in.swap(out);
  });
}

void MulAmplitude(TMemoryStream& Stream, TKzBitsPerSample Bits, int64_t Size, double Factor) {
  if (Factor < 2.0 || Size <= 0) return;
  uint8_t* p = Stream.Memory();
  const int64_t bytes = std::min(Size, Stream.Size());
  if (Bits == TKzBitsPerSample::kzbps8) {
    for (int64_t i = 0; i < bytes; ++i) p[i] = Clamp<uint8_t>(KzRound((p[i] - 128) * Factor) + 128, 0, 255);
  } else {
    for (int64_t i = 0; i + 1 < bytes; i += 2) WriteS16(p + i, KzRound(ReadS16(p + i) * Factor));
  }
}

bool Silence(const uint8_t* Data, int32_t MinLevel, int32_t Spread, int64_t Size, int32_t Channels,
             TKzBitsPerSample Bits) {
  (void)Channels;  // the test spans all channels alike
  const bool wide = Bits == TKzBitsPerSample::kzbps16;
  const int64_t samples = wide ? Size / 2 : Size;
  if (samples <= 0 || !Data) return false;
  const int64_t minLevel = wide ? int64_t{MinLevel} * 256 : MinLevel;
  const int64_t spread = wide ? int64_t{Spread} * 256 : Spread;
  auto sample = [&](int64_t i) -> int64_t { return wide ? ReadS16(Data + 2 * i) : Data[i] - 128; };
  int64_t sum = 0;
  for (int64_t i = 0; i < samples; ++i) sum += std::abs(sample(i));
  const double mean = static_cast<double>(sum) / static_cast<double>(samples);
  if (minLevel != 0 && mean >= static_cast<double>(minLevel)) return false;
  for (int64_t i = 0; i < samples; ++i) {
    const double a = static_cast<double>(std::abs(sample(i)));
    if (a < mean - static_cast<double>(spread) || a > mean + static_cast<double>(spread)) return false;
  }
  return true;
}

int32_t GetSoundLevel_U8(const uint8_t* Buffer, int64_t Count) {
  int32_t peak = 0;
  for (int64_t i = 0; i < Count && peak < 128; ++i) peak = std::max(peak, std::abs(Buffer[i] - 128));
  return peak;
}

int32_t GetSoundLevel_S8(const uint8_t* Buffer, int64_t Count) {
  int32_t peak = 0;
  for (int64_t i = 0; i < Count && peak < 128; ++i)
    peak = std::max(peak, std::abs(int32_t{static_cast<int8_t>(Buffer[i])}));
  return peak;
}

int32_t GetSoundLevel_U16(const uint8_t* Buffer, int64_t Count) {
  int32_t peak = 0;
  for (int64_t i = 0; i < Count; ++i) peak = std::max(peak, std::abs((Buffer[2 * i] | (Buffer[2 * i + 1] << 8)) - 32768));
  return peak >> 8;
}

int32_t GetSoundLevel_S16(const uint8_t* Buffer, int64_t Count) {
  int32_t peak = 0;
  for (int64_t i = 0; i < Count; ++i) peak = std::max(peak, std::abs(int32_t{ReadS16(Buffer + 2 * i)}));
  return peak >> 8;
}

int32_t GetSoundLevel(const uint8_t* Buffer, int64_t Size, TKzBitsPerSample Bits) {
  return Bits == TKzBitsPerSample::kzbps8 ? GetSoundLevel_U8(Buffer, Size) : GetSoundLevel_S16(Buffer, Size / 2);
}

void ConvertS16ToFloat_S16Range(const uint8_t* Buffer, float* Floats, int32_t Offset, int32_t Count, int32_t Stride) {
  for (int32_t i = 0; i < Count; ++i) Floats[i] = ReadS16(Buffer + 2 * (Offset + int64_t{i} * Stride));
}

void ConvertU8ToFloat_S16Range(const uint8_t* Buffer, float* Floats, int32_t Offset, int32_t Count, int32_t Stride) {
  for (int32_t i = 0; i < Count; ++i)
    Floats[i] = static_cast<float>((Buffer[Offset + int64_t{i} * Stride] - 128) / 128.0 * 32767.0);
}

void ConvertFloatToS16_S16Range(uint8_t* Buffer, const float* Floats, int32_t Offset, int32_t Count, int32_t Stride) {
  for (int32_t i = 0; i < Count; ++i) WriteS16(Buffer + 2 * (Offset + int64_t{i} * Stride), KzRound(Floats[i]));
}

void ConvertFloatToU8_S16Range(uint8_t* Buffer, const float* Floats, int32_t Offset, int32_t Count, int32_t Stride) {
  for (int32_t i = 0; i < Count; ++i)
    Buffer[Offset + int64_t{i} * Stride] = Clamp<uint8_t>(KzRound(Floats[i] * 128.0 / 32767.0 + 128), 0, 255);
}

double KzClampVolumeMultiplier(double Value) { return std::isnan(Value) ? 1.0 : std::clamp(Value, 0.001, 9999.0); }

int32_t KzClampDeviceIndex(int32_t Value, const std::function<int32_t()>& Count) {
  if (Value < 0) return -1;
  const int32_t count = Count();
  return count > 0 ? std::min(Value, count - 1) : -1;
}

}  // namespace kz
