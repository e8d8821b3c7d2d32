// Text on the software canvas: lines laid out by the font engine, glyph
// coverage blended in the font colour (coverage x colour alpha).
#include <algorithm>
#include <climits>

#include "platform/fmxMKzPlatformBlend.h"
#include "platform/fmxMKzPlatformCanvas.h"
#include "platform/fmxMKzPlatformFonts.h"

namespace kz {

TKzTextExtent TCanvas::MeasureText(const std::string& Text, const TKzFont& Font) {
  return KzLayoutText(Text, Font, false).Extent;
}

void TCanvas::TextOut(int32_t X, int32_t Y, const std::string& Text, const TKzFont& Font) {
  if ((Font.Color >> 24) == 0 || FClip.IsEmpty()) return;
  DrawTextLayout(X, Y, KzLayoutText(Text, Font, true), Font);
}

void TCanvas::DrawText(const TRect& Rect, const std::string& Text, const TKzFont& Font, TKzTextAlign HAlign,
                       TKzTextAlign VAlign) {
  if ((Font.Color >> 24) == 0 || Rect.IsEmpty()) return;
  const TKzTextLayout layout = KzLayoutText(Text, Font, true);
  const auto place = [](int64_t Start, int64_t End, int32_t Size, TKzTextAlign Align) {
    const int64_t free = End - Start - Size;
    const int64_t at = Align == TKzTextAlign::kztaLeading  ? Start
                       : Align == TKzTextAlign::kztaCenter ? Start + free / 2
                                                           : Start + free;
    return static_cast<int32_t>(std::clamp<int64_t>(at, INT32_MIN, INT32_MAX));
  };
  SaveState();
  IntersectClip(Rect);
  DrawTextLayout(place(Rect.Left, Rect.Right, layout.Extent.Width, HAlign),
                 place(Rect.Top, Rect.Bottom, layout.Extent.Height, VAlign), layout, Font);
  RestoreState();
}

void TCanvas::DrawTextLayout(int32_t X, int32_t Y, const TKzTextLayout& Layout, const TKzFont& Font) {
  const uint32_t alpha = Font.Color >> 24;
  const int64_t left = int64_t{X} + FOrigin.X, top = int64_t{Y} + FOrigin.Y;
  const int64_t baseline = top + Layout.Extent.Ascent;
  for (const TKzPlacedGlyph& g : Layout.Glyphs) {
    const TKzGlyphImage& img = *g.Image;
    const int64_t gx = left + g.X + img.Left, gy = baseline - img.Top;
    // The glyph's rows and columns that fall inside the clip.
    const int64_t x0 = std::max<int64_t>(gx, FClip.Left), x1 = std::min<int64_t>(gx + img.Width, FClip.Right);
    const int64_t y0 = std::max<int64_t>(gy, FClip.Top), y1 = std::min<int64_t>(gy + img.Height, FClip.Bottom);
    for (int64_t y = y0; y < y1; ++y) {
      const uint8_t* cov = img.Coverage.data() + (y - gy) * img.Width;
      uint32_t* row = FTarget.Row(static_cast<int32_t>(y));
      for (int64_t x = x0; x < x1; ++x) {
        const uint32_t a = KzMulAlpha(cov[x - gx], alpha);
        if (a != 0) row[x] = a == 255 ? Font.Color : KzBlendPixel(row[x], Font.Color, a);
      }
    }
  }
  const auto line = [&](int32_t Top) {
    FillSurfaceRect(left, top + Top, left + Layout.Extent.Width, top + Top + Layout.LineThickness, Font.Color);
  };
  if ((Font.Style & kzfsUnderline) != 0) line(Layout.UnderlineTop);
  if ((Font.Style & kzfsStrikeOut) != 0) line(Layout.StrikeOutTop);
}

}  // namespace kz
