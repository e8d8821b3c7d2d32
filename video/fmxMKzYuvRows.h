// Row kernels of the YUV to pixel conversion (Fmxmkzyuvtorgb). A row is
// converted in two steps so that 4:2:0 frames work out their chroma once for
// two pixel rows:
//   1. KzYuvChromaOffsets: for every chroma sample, the red, green and blue
//      offsets that the formula adds to Y;
//   2. KzYuvPixels: each pixel := clamp(Y + offset) per channel, alpha 255.
// Y is an integer, so round(Y + x) = Y + round(x) unless x is exactly
// halfway. That never happens for red and blue; for green eight (U, V) pairs
// hit it, and for those the rounding of the double-precision formula varies
// with Y, so step 1 lists those samples and KzYuvFixTies looks their green
// up per Y afterwards. With AVX2 (checked at run time) both steps go 32
// pixels at a time; otherwise, and for the last pixels of a row, one by one.
// Every path gives the same bytes. Any thread, never blocks.
#pragma once
#include <cstdint>
#include <vector>

namespace kz {

// The offsets of one row of Width pixels: R, G, B per chroma sample, and
// the samples whose green is a tie. The vector path keeps the first
// Blocks * 16 samples in blocks of 16 ordered 0-3, 8-11, 4-7, 12-15 (the
// order its pixel step unpacks them in); the rest are in order.
struct TKzYuvOffsets {
  int32_t Width;
  int32_t Blocks;
  std::vector<int16_t> R, G, B;
  std::vector<int32_t> Ties;
  explicit TKzYuvOffsets(int32_t Width);
};

// U and V hold the (Width + 1) / 2 samples of the row.
void KzYuvChromaOffsets(const uint8_t* U, const uint8_t* V, TKzYuvOffsets& Out);
void KzYuvPixels(const uint8_t* Y, const TKzYuvOffsets& Offsets, uint32_t* Dest);
// Corrects the green of the pixels covered by Offsets.Ties (U, V as given to
// KzYuvChromaOffsets, Y and Dest as given to KzYuvPixels).
void KzYuvFixTies(const uint8_t* Y, const uint8_t* U, const uint8_t* V, const TKzYuvOffsets& Offsets, uint32_t* Dest);

// False forces the one-by-one path (for comparing the two); true restores
// the run-time choice. Not for use while conversions run on other threads.
void KzYuvUseSimd(bool On);

}  // namespace kz
