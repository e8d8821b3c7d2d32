// Drawing on the library bitmap: filled and outlined rectangles, and copying
// a rectangle of one bitmap into another, one for one or resampled.
#include <algorithm>
#include <cstring>

#include "foundation/fmxMKzBitmap.h"
#include "platform/fmxMKzPlatformResample.h"

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

// Between rectangles of different sizes the source is resampled bilinearly
// on all four channels, with 14-bit weights (TKzResampler), at the positions
// given by the scale factor (destination extent + 1) / (source extent + 1). With the
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
  if (s.IsEmpty()) return;
  // The transparent colour is matched on whole source pixels: take the nearest.
  TKzResampler resampler(KzPixelSurfaceOf(Source), s, DestRect, ClientRect(),
                         Transparent ? TKzStretchQuality::kzsqLow : TKzStretchQuality::kzsqNormal,
                         TKzSampleGrid::kzsgScaledEnds);
  const TRect d = resampler.Visible();
  if (d.IsEmpty()) return;
  if (!Transparent) {
    resampler.Run(KzPixelSurfaceOf(*this));
  } else {
    std::vector<uint32_t> row(static_cast<size_t>(d.Width()));
    for (int32_t y = d.Top; y < d.Bottom; ++y) {
      resampler.Row(y, row.data());
      uint32_t* dst = ScanLine(y) + d.Left;
      for (int32_t x = 0; x < d.Width(); ++x)
        if (row[static_cast<size_t>(x)] != TransparentColor) dst[x] = row[static_cast<size_t>(x)];
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
