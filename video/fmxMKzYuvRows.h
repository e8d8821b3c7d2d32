// Row kernels of the YUV to pixel conversion (Fmxmkzyuvtorgb). A row is
// converted in two steps so that 4:2:0 frames work out their chroma once for
// two pixel rows:
//   1. KzYuvChromaOffsets: for every chroma sample, the red, green and blue
//      offsets that the formula adds to Y, stored once per covered pixel;
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

// Per-pixel offsets of one row: R, G, B each Width entries (rounded up to
// even), and the chroma samples whose green is a tie.
struct TKzYuvOffsets {
  std::vector<int16_t> R, G, B;
  std::vector<int32_t> Ties;
  explicit TKzYuvOffsets(int32_t Width);
};

// Samples U[0..Count) and V[0..Count) cover pixels 0 .. 2 Count - 1.
void KzYuvChromaOffsets(const uint8_t* U, const uint8_t* V, int32_t Count, TKzYuvOffsets& Out);
void KzYuvPixels(const uint8_t* Y, const TKzYuvOffsets& Offsets, uint32_t* Dest, int32_t Width);
// Corrects the green of the pixels covered by Offsets.Ties (U, V as given to
// KzYuvChromaOffsets, Y and Dest as given to KzYuvPixels).
void KzYuvFixTies(const uint8_t* Y, const uint8_t* U, const uint8_t* V, const TKzYuvOffsets& Offsets, uint32_t* Dest,
                  int32_t Width);

// False forces the one-by-one path (for comparing the two); true restores
// the run-time choice. Not for use while conversions run on other threads.
void KzYuvUseSimd(bool On);

}  // namespace kz
