// Row-by-row resampling with precomputed taps (see the header).
#include "platform/fmxMKzPlatformResample.h"

#include <algorithm>

namespace kz {

namespace {

constexpr uint32_t KzLanes = 0x00FF00FFu;

// Position of destination index i in 16.16 fixed point, from the first
// source pixel; may be negative for the centre grid near the start.
int64_t SamplePosition(int64_t I, int64_t DestExtent, int64_t SourceExtent, TKzSampleGrid Grid) {
  if (Grid == TKzSampleGrid::kzsgScaledEnds)
    return static_cast<int64_t>(static_cast<__int128>(I) * (SourceExtent + 1) * 65536 / (DestExtent + 1));
  const __int128 num = static_cast<__int128>(2 * I + 1) * SourceExtent - DestExtent;
  const __int128 den = 2 * static_cast<__int128>(DestExtent);
  __int128 q = num * 65536 / den;
  if (num < 0 && q * den != num * 65536) --q;  // floor, not truncation
  return static_cast<int64_t>(q);
}

}  // namespace

TKzResampler::TKzResampler(const TKzPixelSurface& Source, const TRect& SourceRect, const TRect& DestRect,
                           const TRect& Visible, TKzStretchQuality Quality, TKzSampleGrid Grid)
    : FSource(Source), FVisible(IntersectRect(Visible, DestRect)), FQuality(Quality) {
  const auto taps = [&](int64_t DestStart, int64_t DestExtent, int32_t From, int32_t To, int32_t SourceStart,
                        int32_t SourceExtent, std::vector<TTap>& Taps, std::vector<int32_t>& Nearest) {
    Taps.reserve(static_cast<size_t>(std::max(0, To - From)));
    Nearest.reserve(Taps.capacity());
    for (int32_t d = From; d < To; ++d) {
      const int64_t pos = std::max<int64_t>(0, SamplePosition(d - DestStart, DestExtent, SourceExtent, Grid));
      int64_t i0 = pos >> 16;
      uint32_t f = static_cast<uint32_t>((pos >> 8) & 0xFF);
      if (i0 >= SourceExtent - 1) {
        i0 = SourceExtent - 1;
        f = 0;
      }
      const int32_t i1 = std::min<int32_t>(static_cast<int32_t>(i0) + 1, SourceExtent - 1);
      const int64_t nearest = std::min<int64_t>((pos + 32768) >> 16, SourceExtent - 1);
      Taps.push_back({SourceStart + static_cast<int32_t>(i0), SourceStart + i1, f});
      Nearest.push_back(SourceStart + static_cast<int32_t>(nearest));
    }
  };
  if (FVisible.IsEmpty() || SourceRect.IsEmpty()) {
    FVisible = TRect();
    return;
  }
  taps(DestRect.Left, int64_t{DestRect.Right} - DestRect.Left, FVisible.Left, FVisible.Right, SourceRect.Left, SourceRect.Width(), FCols,
       FNearestCols);
  taps(DestRect.Top, int64_t{DestRect.Bottom} - DestRect.Top, FVisible.Top, FVisible.Bottom, SourceRect.Top, SourceRect.Height(), FRows,
       FNearestRows);
}

const uint32_t* TKzResampler::Horizontal(int32_t SourceRow, int32_t Keep) {
  for (int slot = 0; slot < 2; ++slot)
    if (FLineRow[slot] == SourceRow) return FLine[slot].data();
  const int slot = FLineRow[0] == Keep ? 1 : 0;
  std::vector<uint32_t>& line = FLine[slot];
  line.resize(FCols.size() * 2);
  FLineRow[slot] = SourceRow;
  const uint32_t* src = FSource.Row(SourceRow);
  uint32_t* out = line.data();
  for (const TTap& c : FCols) {
    const uint32_t p0 = src[c.I0], p1 = src[c.I1], w0 = 256 - c.F, w1 = c.F;
    // Each 16-bit lane holds at most 255 * 256: no carry between lanes.
    out[0] = (p0 & KzLanes) * w0 + (p1 & KzLanes) * w1;
    out[1] = ((p0 >> 8) & KzLanes) * w0 + ((p1 >> 8) & KzLanes) * w1;
    out += 2;
  }
  return line.data();
}

void TKzResampler::Row(int32_t Y, uint32_t* Out) {
  const size_t row = static_cast<size_t>(Y - FVisible.Top);
  const size_t w = FCols.size();
  if (FQuality == TKzStretchQuality::kzsqLow) {
    const uint32_t* src = FSource.Row(FNearestRows[row]);
    const int32_t* cols = FNearestCols.data();
    for (size_t x = 0; x < w; ++x) Out[x] = src[cols[x]];
    return;
  }
  const TTap& ry = FRows[row];
  const uint32_t* h0 = Horizontal(ry.I0, -1);
  if (ry.F == 0) {
    for (size_t x = 0; x < w; ++x) {
      const uint32_t rb = ((h0[2 * x] + 0x00800080u) >> 8) & KzLanes;
      const uint32_t ga = ((h0[2 * x + 1] + 0x00800080u) >> 8) & KzLanes;
      Out[x] = rb | (ga << 8);
    }
    return;
  }
  const uint32_t* h1 = Horizontal(ry.I1, ry.I0);
  const uint32_t w1 = ry.F, w0 = 256 - w1;
  for (size_t x = 0; x < w; ++x) {
    const uint32_t a0 = h0[2 * x], a1 = h0[2 * x + 1], b0 = h1[2 * x], b1 = h1[2 * x + 1];
    const uint32_t b = ((a0 & 0xFFFF) * w0 + (b0 & 0xFFFF) * w1 + 32768) >> 16;
    const uint32_t r = ((a0 >> 16) * w0 + (b0 >> 16) * w1 + 32768) >> 16;
    const uint32_t g = ((a1 & 0xFFFF) * w0 + (b1 & 0xFFFF) * w1 + 32768) >> 16;
    const uint32_t a = ((a1 >> 16) * w0 + (b1 >> 16) * w1 + 32768) >> 16;
    Out[x] = b | (g << 8) | (r << 16) | (a << 24);
  }
}

void TKzResampler::Run(const TKzPixelSurface& Dest) {
  for (int32_t y = FVisible.Top; y < FVisible.Bottom; ++y) Row(y, Dest.Row(y) + FVisible.Left);
}

}  // namespace kz
