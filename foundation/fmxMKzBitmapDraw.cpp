// Drawing on the library bitmap: filled and outlined rectangles, and copying
// a rectangle of one bitmap into another, one for one or resampled.
#include <algorithm>
#include <cstring>

#include "foundation/fmxMKzBitmap.h"

namespace kz {

void TKzMCustomBitmap::FillRect(const TRect& Rect, uint32_t Color) {
  const TRect r = IntersectRect(Rect, ClientRect());
  for (int32_t y = r.Top; y < r.Bottom; ++y) std::fill_n(ScanLine(y) + r.Left, r.Width(), Color);
  if (!r.IsEmpty()) Changed();
}

void TKzMCustomBitmap::Rectangle(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom, uint32_t Color) {
  if (Right <= Left || Bottom <= Top) return;
  FillRect(TRect(Left, Top, Right, Top + 1), Color);
  FillRect(TRect(Left, Bottom - 1, Right, Bottom), Color);
  FillRect(TRect(Left, Top, Left + 1, Bottom), Color);
  FillRect(TRect(Right - 1, Top, Right, Bottom), Color);
}

namespace {

// Where one destination column (or row) samples the source: the two
// neighbouring source indexes, the weight of the second in 1/256, and the
// nearest of the two.
struct TSampleTap {
  int32_t I0, I1, Nearest;
  uint32_t F;
};

// Destination index i of DestExtent maps to the source position
// i * (SourceExtent + 1) / (DestExtent + 1), measured from the first source
// pixel and held inside the source range. Only the visible indexes
// [From, To) are worked out; the result is indexed from From.
std::vector<TSampleTap> SampleTaps(int32_t DestExtent, int32_t From, int32_t To, int32_t SourceStart,
                                   int32_t SourceExtent) {
  std::vector<TSampleTap> taps;
  taps.reserve(static_cast<size_t>(To - From));
  for (int32_t i = From; i < To; ++i) {
    const auto pos = static_cast<int64_t>(static_cast<__int128>(i) * (SourceExtent + 1) * 65536 / (DestExtent + 1));
    int32_t i0 = static_cast<int32_t>(pos >> 16);
    uint32_t f = static_cast<uint32_t>((pos >> 8) & 0xFF);
    if (i0 >= SourceExtent - 1) {
      i0 = SourceExtent - 1;
      f = 0;
    }
    const int32_t i1 = std::min(i0 + 1, SourceExtent - 1);
    taps.push_back({SourceStart + i0, SourceStart + i1, SourceStart + (f >= 128 ? i1 : i0), f});
  }
  return taps;
}

inline uint32_t Blend4(uint32_t p00, uint32_t p01, uint32_t p10, uint32_t p11, uint32_t fx, uint32_t fy) {
  const uint32_t w00 = (256 - fx) * (256 - fy), w01 = fx * (256 - fy), w10 = (256 - fx) * fy, w11 = fx * fy;
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t v = ((p00 >> shift) & 0xFF) * w00 + ((p01 >> shift) & 0xFF) * w01 +
                       ((p10 >> shift) & 0xFF) * w10 + ((p11 >> shift) & 0xFF) * w11;
    out |= ((v + 32768) >> 16) << shift;
  }
  return out;
}

}  // namespace

// Between rectangles of different sizes the source is resampled bilinearly
// on all four channels, with 8-bit weights, at the positions given by the
// scale factor (destination extent + 1) / (source extent + 1). With the
// transparent flag the nearest source pixel is taken instead, so that the
// transparent colour is matched exactly. The destination rectangle may reach
// outside the bitmap: the picture is placed as if it did not, and only the
// visible part is written.
void TKzMCustomBitmap::CopyRect(const TRect& DestRect, const TKzMCustomBitmap& Source, const TRect& SourceRect,
                                bool Transparent, uint32_t TransparentColor) {
  if (&Source == this) {
    const TKzMCustomBitmap copy(Source);
    CopyRect(DestRect, copy, SourceRect, Transparent, TransparentColor);
    return;
  }
  if (DestRect.IsEmpty() || SourceRect.IsEmpty() || Source.IsEmpty() || IsEmpty()) return;

  if (DestRect.Width() == SourceRect.Width() && DestRect.Height() == SourceRect.Height()) {
    if (!Transparent && DestRect == ClientRect() && SourceRect == Source.ClientRect()) {
      AssignKzMBitmap(Source);
      return;
    }
    // Clip both rectangles together so the picture keeps its place.
    const int32_t dx = DestRect.Left - SourceRect.Left, dy = DestRect.Top - SourceRect.Top;
    TRect s = IntersectRect(SourceRect, Source.ClientRect());
    s = IntersectRect(s, TRect(-dx, -dy, FWidth - dx, FHeight - dy));
    for (int32_t y = s.Top; y < s.Bottom; ++y) {
      const uint32_t* src = Source.ScanLine(y) + s.Left;
      uint32_t* dst = ScanLine(y + dy) + s.Left + dx;
      if (!Transparent) {
        memcpy(dst, src, static_cast<size_t>(s.Width()) * 4);
      } else {
        for (int32_t x = 0; x < s.Width(); ++x)
          if (src[x] != TransparentColor) dst[x] = src[x];
      }
    }
    if (!s.IsEmpty()) Changed();
    return;
  }

  const TRect s = IntersectRect(SourceRect, Source.ClientRect());
  const TRect d = IntersectRect(DestRect, ClientRect());
  if (s.IsEmpty() || d.IsEmpty()) return;
  const std::vector<TSampleTap> cols =
      SampleTaps(DestRect.Width(), d.Left - DestRect.Left, d.Right - DestRect.Left, s.Left, s.Width());
  const std::vector<TSampleTap> rows =
      SampleTaps(DestRect.Height(), d.Top - DestRect.Top, d.Bottom - DestRect.Top, s.Top, s.Height());
  for (int32_t y = d.Top; y < d.Bottom; ++y) {
    const TSampleTap& ry = rows[static_cast<size_t>(y - d.Top)];
    uint32_t* dst = ScanLine(y);
    if (Transparent) {
      const uint32_t* src = Source.ScanLine(ry.Nearest);
      for (int32_t x = d.Left; x < d.Right; ++x) {
        const uint32_t p = src[cols[static_cast<size_t>(x - d.Left)].Nearest];
        if (p != TransparentColor) dst[x] = p;
      }
      continue;
    }
    const uint32_t* r0 = Source.ScanLine(ry.I0);
    const uint32_t* r1 = Source.ScanLine(ry.I1);
    for (int32_t x = d.Left; x < d.Right; ++x) {
      const TSampleTap& cx = cols[static_cast<size_t>(x - d.Left)];
      if ((cx.F | ry.F) == 0) {
        dst[x] = r0[cx.I0];
      } else {
        dst[x] = Blend4(r0[cx.I0], r0[cx.I1], r1[cx.I0], r1[cx.I1], cx.F, ry.F);
      }
    }
  }
  Changed();
}

void TKzMCustomBitmap::Draw(int32_t X, int32_t Y, const TKzMCustomBitmap& Source, bool Transparent,
                            uint32_t TransparentColor) {
  CopyRect(TRect(X, Y, X + Source.Width(), Y + Source.Height()), Source, Source.ClientRect(), Transparent,
           TransparentColor);
}

void TKzMCustomBitmap::StretchDraw(const TRect& Rect, const TKzMCustomBitmap& Source, bool Transparent,
                                   uint32_t TransparentColor) {
  CopyRect(Rect, Source, Source.ClientRect(), Transparent, TransparentColor);
}

}  // namespace kz
