// Resampling of a rectangle of one pixel surface onto a rectangle of another
// size, row by row: nearest pixel or bilinear, on all four channels.
//
// The sampling positions and weights of every visible destination column
// and row are worked out once. A bilinear destination row is made from its
// two source rows in two passes, in integers with 14-bit weights:
//   vertical:   V = (top * wTop + bottom * wBottom + 2^6) >> 7   (per channel,
//               over the source columns the row needs; 7 fraction bits)
//   horizontal: out = (V[left] * wLeft + V[right] * wRight + 2^20) >> 21
// Each result is within half a step of the exact bilinear value plus 1/64;
// with AVX2 (checked at run time) both passes go eight values at a time,
// giving the same bytes as the one-by-one path.
//
// A resampler reads its source while rows are made; it keeps no lock. Any
// thread may use one that it owns; nothing blocks.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/fmxMKzPlatformCanvas.h"

namespace kz {

// Where destination pixel i of an extent of D pixels samples a source extent
// of S pixels (positions from the first source pixel, held inside the source).
enum class TKzSampleGrid : uint8_t {
  // Pixel centres meet: (i + 0.5) * S / D - 0.5. The canvas stretches so.
  kzsgCentres = 0,
  // i * (S + 1) / (D + 1): the library bitmap's CopyRect.
  kzsgScaledEnds = 1,
};

class TKzResampler {
public:
  // SourceRect of Source (inside it, not empty) stretched onto DestRect;
  // only the destination pixels inside Visible (a part of DestRect, which
  // itself may reach anywhere) are produced.
  TKzResampler(const TKzPixelSurface& Source, const TRect& SourceRect, const TRect& DestRect, const TRect& Visible,
               TKzStretchQuality Quality, TKzSampleGrid Grid);

  const TRect& Visible() const { return FVisible; }
  // Writes the Visible().Width() pixels of destination row Y
  // (Visible().Top <= Y < Visible().Bottom) to Out, in any order.
  void Row(int32_t Y, uint32_t* Out);

  // Resamples straight into the visible part of Dest.
  void Run(const TKzPixelSurface& Dest);

private:
  struct TTap {
    int32_t I0;
    int32_t I1;
    uint32_t W1;  // weight of I1 in 1/16384; I0 gets the rest
  };
  void Vertical(const TTap& Row);
  void Horizontal(uint32_t* Out) const;

  TKzPixelSurface FSource;
  TRect FVisible;
  TKzStretchQuality FQuality;
  std::vector<TTap> FCols, FRows;
  std::vector<int32_t> FNearestCols, FNearestRows;
  // Source columns FFirstCol .. FLastCol feed the visible columns. Per
  // destination column: its left tap from FFirstCol, and its two weights
  // as 16-bit pairs repeated for the four channels.
  int32_t FFirstCol = 0, FLastCol = -1;
  std::vector<int32_t> FColLeft;
  std::vector<uint32_t> FColWeights;
  // The vertically interpolated row: 16 bits per channel, one spare pixel
  // at the end for the right tap of the last column.
  std::vector<int16_t> FVert;
};

}  // namespace kz
