// Processing of PCM blocks in place: the FFT, the spectral noise gate, the
// pitch shifter, amplification, the silence test, peak levels and the float
// conversions of the neural suppressor. 8-bit samples are unsigned (silence
// 128), 16-bit ones signed little-endian. Every function is pure or works
// only on what it is given: any thread, never blocks.
#pragma once
#include <complex>
#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

using TKzComplex = std::complex<double>;

// Rounds half to even (the one rounding of this unit).
int64_t KzRound(double X);

// In-place radix-2 transform of A.size() points (a power of two). The forward
// transform sums with e^(+2 pi i k n / N); the inverse uses the opposite sign
// and divides by N.
void KzFFT(std::vector<TKzComplex>& A, bool Inverse);

// The smallest power of two >= N (1 for N < 2); RoundDown: the largest <= N.
int64_t GetMaxPower2(int64_t N, bool RoundDown);

// Duration of Size bytes in ms, rounded; 0 for a format without bytes.
uint32_t GetTrackMSec(int64_t Size, int32_t Channels, TKzBitsPerSample Bits, int32_t SamplesPerSec);

inline int32_t KzBitsToInt(TKzBitsPerSample Bits) { return Bits == TKzBitsPerSample::kzbps8 ? 8 : 16; }

// The device properties of the microphone and the player: a volume
// multiplier within [0.001, 9999] (NaN: 1); a device index of -1 (the
// default device) for negatives and where there are no devices, else at
// most the last one (Count asks the system only then).
double KzClampVolumeMultiplier(double Value);
int32_t KzClampDeviceIndex(int32_t Value, const std::function<int32_t()>& Count);

// Spectral gate, per channel: every frequency bin whose power is below
// (Level * SamplesPerSec / 800000)^2 is cleared. The block is padded with
// silence to a power of two in frames and cut back afterwards.
void NoiseReduction(TMemoryStream& Stream, TKzBitsPerSample Bits, int32_t Channels, int64_t Size, int32_t Level,
                    int32_t SamplesPerSec);

// Pitch shift by Pitch percent (0: nothing), per channel, padded like the gate.
// Lowering keeps a copy of the input at a tenth of its strength.
void VoiceChange(TMemoryStream& Stream, int32_t Pitch, TKzBitsPerSample Bits, int64_t Size, int32_t Channels);

// Multiplies the samples by Factor, clamped; nothing unless Factor >= 2.
void MulAmplitude(TMemoryStream& Stream, TKzBitsPerSample Bits, int64_t Size, double Factor);

// Whether the block is silence: its mean |sample| is below MinLevel (unless
// MinLevel is 0) and no sample strays more than Spread from the mean. For
// 16-bit both limits count in steps of 256. An empty block is not silent.
bool Silence(const uint8_t* Data, int32_t MinLevel, int32_t Spread, int64_t Size, int32_t Channels,
             TKzBitsPerSample Bits);

// Peaks 0..128 (the 8-bit ones stop reading once they reach 128).
int32_t GetSoundLevel_U8(const uint8_t* Buffer, int64_t Count);
int32_t GetSoundLevel_S8(const uint8_t* Buffer, int64_t Count);
int32_t GetSoundLevel_U16(const uint8_t* Buffer, int64_t Count);
int32_t GetSoundLevel_S16(const uint8_t* Buffer, int64_t Count);
// The level of a block of either width, 0..128.
int32_t GetSoundLevel(const uint8_t* Buffer, int64_t Size, TKzBitsPerSample Bits);

// One channel (Offset, every Stride-th sample, Count samples) to floats in
// 16-bit range and back (rounded, clamped).
void ConvertS16ToFloat_S16Range(const uint8_t* Buffer, float* Floats, int32_t Offset, int32_t Count, int32_t Stride);
void ConvertU8ToFloat_S16Range(const uint8_t* Buffer, float* Floats, int32_t Offset, int32_t Count, int32_t Stride);
void ConvertFloatToS16_S16Range(uint8_t* Buffer, const float* Floats, int32_t Offset, int32_t Count, int32_t Stride);
void ConvertFloatToU8_S16Range(uint8_t* Buffer, const float* Floats, int32_t Offset, int32_t Count, int32_t Stride);

}  // namespace kz
