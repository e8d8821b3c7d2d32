// Resampling of a rectangle of one pixel surface onto a rectangle of another
// size, row by row: nearest pixel or bilinear, on all four channels.
//
// The sampling positions of every visible destination column and row are
// worked out once; bilinear rows are interpolated horizontally once per
// source row (the last two are kept), then vertically, in integers with
// 8-bit weights: out = (sum of the four pixels * their weights + 2^15) >> 16.
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
  // (Visible().Top <= Y < Visible().Bottom) to Out. Ascending rows reuse
  // the interpolated source rows.
  void Row(int32_t Y, uint32_t* Out);

  // Resamples straight into the visible part of Dest.
  void Run(const TKzPixelSurface& Dest);

private:
  struct TTap {
    int32_t I0;
    int32_t I1;
    uint32_t F;  // weight of I1 in 1/256
  };
  const uint32_t* Horizontal(int32_t SourceRow, int32_t Keep);

  TKzPixelSurface FSource;
  TRect FVisible;
  TKzStretchQuality FQuality;
  std::vector<TTap> FCols, FRows;
  std::vector<int32_t> FNearestCols, FNearestRows;
  // Two horizontally interpolated source rows, two words per pixel holding
  // 16-bit lanes (B | R << 16, G | A << 16), and the source row each holds
  // (-1: none).
  std::vector<uint32_t> FLine[2];
  int32_t FLineRow[2] = {-1, -1};
};

}  // namespace kz
