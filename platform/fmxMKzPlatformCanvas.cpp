// The software canvas: state, shapes and bitmaps (text is in
// fmxMKzPlatformCanvasText.cpp). Everything is clipped to FClip (surface
// coordinates) before a pixel is touched. Blending follows
// fmxMKzPlatformBlend.h: over an opaque surface the alpha stays 255.
#include <algorithm>
#include <cmath>
#include <climits>
#include <cstring>

#include "platform/fmxMKzPlatformBlend.h"
#include "platform/fmxMKzPlatformCanvas.h"
#include "platform/fmxMKzPlatformResample.h"

namespace kz {

namespace {

int32_t Saturate(int64_t V) { return static_cast<int32_t>(std::clamp<int64_t>(V, INT32_MIN, INT32_MAX)); }

TRect MakeRect(int64_t Left, int64_t Top, int64_t Right, int64_t Bottom) {
  return TRect(Saturate(Left), Saturate(Top), Saturate(Right), Saturate(Bottom));
}

// R moved by By; coordinates saturate instead of wrapping.
TRect Offset(const TRect& R, TPoint By) {
  return MakeRect(int64_t{R.Left} + By.X, int64_t{R.Top} + By.Y, int64_t{R.Right} + By.X, int64_t{R.Bottom} + By.Y);
}

// Opacity 0..1 as 0..255.
uint32_t OpacityByte(float Opacity) {
  if (!(Opacity > 0.0f)) return 0;  // also NaN
  return Opacity >= 1.0f ? 255u : static_cast<uint32_t>(std::lround(Opacity * 255.0f));
}

// Source pixels over Dst, each by its own alpha times Opacity (0..255).
void BlendRow(uint32_t* Dst, const uint32_t* Src, int32_t Count, uint32_t Opacity) {
  for (int32_t x = 0; x < Count; ++x) {
    const uint32_t p = Src[x];
    const uint32_t a = Opacity == 255 ? p >> 24 : KzMulAlpha(p >> 24, Opacity);
    if (a == 255) {
      Dst[x] = p | 0xFF000000u;
    } else if (a != 0) {
      Dst[x] = KzBlendPixel(Dst[x], p, a);
    }
  }
}

}  // namespace

TCanvas::TCanvas(const TKzPixelSurface& Target)
    : FTarget(Target), FClip(Target.IsEmpty() ? TRect() : TRect(0, 0, Target.Width, Target.Height)) {}

// ---- State

void TCanvas::SaveState() { FStack.push_back({FOrigin, FClip}); }

void TCanvas::RestoreState() {
  if (FStack.empty()) return;
  FOrigin = FStack.back().Origin;
  FClip = FStack.back().Clip;
  FStack.pop_back();
}

void TCanvas::Translate(int32_t DX, int32_t DY) {
  FOrigin.X += DX;
  FOrigin.Y += DY;
}

void TCanvas::IntersectClip(const TRect& Rect) { FClip = IntersectRect(FClip, Offset(Rect, FOrigin)); }

TRect TCanvas::ClipRect() const { return Offset(FClip, TPoint{-FOrigin.X, -FOrigin.Y}); }

// ---- Shapes

// Surface coordinates, clipped here.
void TCanvas::FillSurfaceRect(int64_t Left, int64_t Top, int64_t Right, int64_t Bottom, TAlphaColor Color) {
  const uint32_t a = Color >> 24;
  const TRect r = IntersectRect(MakeRect(Left, Top, Right, Bottom), FClip);
  if (a == 0 || r.IsEmpty()) return;
  if (a == 255) {
    for (int32_t y = r.Top; y < r.Bottom; ++y) std::fill_n(FTarget.Row(y) + r.Left, r.Width(), Color);
    return;
  }
  const TKzBlendSource s = KzBlendSource(Color, a);
  for (int32_t y = r.Top; y < r.Bottom; ++y) {
    uint32_t* row = FTarget.Row(y) + r.Left;
    for (int32_t x = 0; x < r.Width(); ++x) row[x] = KzBlendPrepared(s, row[x]);
  }
}

void TCanvas::FillRect(const TRect& Rect, TAlphaColor Color) {
  FillSurfaceRect(int64_t{Rect.Left} + FOrigin.X, int64_t{Rect.Top} + FOrigin.Y, int64_t{Rect.Right} + FOrigin.X,
                  int64_t{Rect.Bottom} + FOrigin.Y, Color);
}

void TCanvas::DrawRect(const TRect& Rect, TAlphaColor Color, int32_t Thickness) {
  if (Rect.IsEmpty() || Thickness <= 0) return;
  const int64_t l = int64_t{Rect.Left} + FOrigin.X, t = int64_t{Rect.Top} + FOrigin.Y;
  const int64_t r = int64_t{Rect.Right} + FOrigin.X, b = int64_t{Rect.Bottom} + FOrigin.Y, n = Thickness;
  if (2 * n >= std::min(r - l, b - t)) {
    FillSurfaceRect(l, t, r, b, Color);
    return;
  }
  // Four bands that do not overlap, so that a blended outline is even.
  FillSurfaceRect(l, t, r, t + n, Color);
  FillSurfaceRect(l, b - n, r, b, Color);
  FillSurfaceRect(l, t + n, l + n, b - n, Color);
  FillSurfaceRect(r - n, t + n, r, b - n, Color);
}

void TCanvas::PlotSurfacePixel(int32_t X, int32_t Y, TAlphaColor Color) {
  if (X < FClip.Left || X >= FClip.Right || Y < FClip.Top || Y >= FClip.Bottom) return;
  uint32_t& p = FTarget.Row(Y)[X];
  const uint32_t a = Color >> 24;
  p = a == 255 ? Color : KzBlendPixel(p, Color, a);
}

// A one-pixel line steps along its longer axis, the other coordinate
// rounded half up (only the steps inside the clip are walked). A thicker
// one fills the pixels whose centres lie in the rectangle around the
// segment, Thickness / 2 to either side and beyond either end; a centre
// exactly on its edge counts when the edge lies up or left of it, so that
// a width of N covers N pixels across and the direction does not matter.
void TCanvas::DrawLine(TPoint A, TPoint B, TAlphaColor Color, float Thickness) {
  if ((Color >> 24) == 0 || FClip.IsEmpty() || !(Thickness > 0.0f)) return;
  const int64_t ax = int64_t{A.X} + FOrigin.X, ay = int64_t{A.Y} + FOrigin.Y;
  const int64_t bx = int64_t{B.X} + FOrigin.X, by = int64_t{B.Y} + FOrigin.Y;
  if (Thickness <= 1.0f) {
    DrawHairline(ax, ay, bx, by, Color);
    return;
  }
  const double half = Thickness / 2.0;
  const double len = std::hypot(double(bx - ax), double(by - ay));
  // Unit vector along the line; a zero-length line is a square.
  const double ux = len > 0 ? (bx - ax) / len : 1.0, uy = len > 0 ? (by - ay) / len : 0.0;
  // The centre line moved a hair up and left decides the ties.
  constexpr double tie = 1e-6;
  const double cx = (ax + bx) / 2.0 + 0.5 - tie, cy = (ay + by) / 2.0 + 0.5 - tie;
  const double reach = half * std::sqrt(2.0) + 1.0;
  const TRect box = MakeRect(std::max<double>(FClip.Left, std::floor(std::min(ax, bx) - reach)),
                             std::max<double>(FClip.Top, std::floor(std::min(ay, by) - reach)),
                             std::min<double>(FClip.Right, std::ceil(std::max(ax, bx) + reach + 1)),
                             std::min<double>(FClip.Bottom, std::ceil(std::max(ay, by) + reach + 1)));
  for (int32_t y = box.Top; y < box.Bottom; ++y)
    for (int32_t x = box.Left; x < box.Right; ++x) {
      const double px = x + 0.5 - cx, py = y + 0.5 - cy;
      const double along = px * ux + py * uy, across = py * ux - px * uy;
      if (std::abs(along) <= len / 2 + half && std::abs(across) <= half) PlotSurfacePixel(x, y, Color);
    }
}

void TCanvas::DrawHairline(int64_t AX, int64_t AY, int64_t BX, int64_t BY, TAlphaColor Color) {
  const bool xMajor = std::abs(BX - AX) >= std::abs(BY - AY);
  // Always from the lower end of the longer axis, so that A-B and B-A
  // light the same pixels.
  if ((xMajor && BX < AX) || (!xMajor && BY < AY)) {
    std::swap(AX, BX);
    std::swap(AY, BY);
  }
  // (u, v): u along the longer axis, v across; Lo/Hi: the clip on u.
  const int64_t u0 = xMajor ? AX : AY, v0 = xMajor ? AY : AX;
  const int64_t du = (xMajor ? BX : BY) - u0, dv = (xMajor ? BY : BX) - v0;
  const int64_t lo = xMajor ? FClip.Left : FClip.Top, hi = xMajor ? FClip.Right : FClip.Bottom;
  const int64_t n = std::abs(du), su = du < 0 ? -1 : 1;
  const int64_t first = std::max<int64_t>(0, su > 0 ? lo - u0 : u0 - (hi - 1));
  const int64_t last = std::min<int64_t>(n, su > 0 ? hi - 1 - u0 : u0 - lo);
  for (int64_t i = first; i <= last; ++i) {
    const int64_t u = u0 + su * i;
    const auto step = static_cast<int64_t>((static_cast<__int128>(2 * i) * std::abs(dv) + n) / (2 * n));
    const int64_t v = n == 0 ? v0 : v0 + (dv >= 0 ? step : -step);
    const int64_t x = xMajor ? u : v, y = xMajor ? v : u;
    if (y >= FClip.Top && y < FClip.Bottom && x >= FClip.Left && x < FClip.Right)
      PlotSurfacePixel(static_cast<int32_t>(x), static_cast<int32_t>(y), Color);
  }
}

// The pixels whose centres lie inside the ellipse inscribed in Rect.
void TCanvas::FillEllipse(const TRect& Rect, TAlphaColor Color) {
  if (Rect.IsEmpty() || (Color >> 24) == 0) return;
  const TRect r = Offset(Rect, FOrigin);
  const double rx = (double(r.Right) - r.Left) / 2.0, ry = (double(r.Bottom) - r.Top) / 2.0;
  const double cx = r.Left + rx, cy = r.Top + ry;
  const int32_t top = std::max(r.Top, FClip.Top), bottom = std::min(r.Bottom, FClip.Bottom);
  for (int32_t y = top; y < bottom; ++y) {
    const double dy = (y + 0.5 - cy) / ry;
    const double q = 1.0 - dy * dy;
    if (q < 0) continue;
    const double half = rx * std::sqrt(q);
    // Centres x + 0.5 within [cx - half, cx + half].
    FillSurfaceRect(static_cast<int64_t>(std::max<double>(FClip.Left, std::ceil(cx - half - 0.5))), y,
                    static_cast<int64_t>(std::min<double>(FClip.Right, std::floor(cx + half - 0.5) + 1)), y + 1,
                    Color);
  }
}

// ---- Bitmaps

void TCanvas::DrawBitmap(const TKzPixelSurface& Source, const TRect& SourceRect, TPoint At, bool Blend,
                         float Opacity) {
  const uint32_t opacity = Blend ? OpacityByte(Opacity) : 255;
  if (Source.IsEmpty() || opacity == 0) return;
  // Clip source and destination together so the picture keeps its place.
  const int64_t dx = int64_t{At.X} + FOrigin.X - SourceRect.Left, dy = int64_t{At.Y} + FOrigin.Y - SourceRect.Top;
  TRect s = IntersectRect(SourceRect, TRect(0, 0, Source.Width, Source.Height));
  s = IntersectRect(s, MakeRect(FClip.Left - dx, FClip.Top - dy, FClip.Right - dx, FClip.Bottom - dy));
  for (int32_t y = s.Top; y < s.Bottom; ++y) {
    const uint32_t* src = Source.Row(y) + s.Left;
    uint32_t* dst = FTarget.Row(y + dy) + s.Left + dx;
    if (Blend) {
      BlendRow(dst, src, s.Width(), opacity);
    } else {
      memmove(dst, src, static_cast<size_t>(s.Width()) * 4);
    }
  }
}

void TCanvas::StretchBitmap(const TKzPixelSurface& Source, const TRect& SourceRect, const TRect& DestRect,
                            TKzStretchQuality Quality, bool Blend, float Opacity) {
  const uint32_t opacity = Blend ? OpacityByte(Opacity) : 255;
  if (Source.IsEmpty() || opacity == 0 || DestRect.IsEmpty()) return;
  const TRect s = IntersectRect(SourceRect, TRect(0, 0, Source.Width, Source.Height));
  if (s.IsEmpty()) return;
  const TRect d = Offset(DestRect, FOrigin);
  if (int64_t{d.Right} - d.Left == s.Width() && int64_t{d.Bottom} - d.Top == s.Height()) {
    DrawBitmap(Source, s, TPoint{DestRect.Left, DestRect.Top}, Blend, Opacity);
    return;
  }
  TKzResampler resampler(Source, s, d, FClip, Quality, TKzSampleGrid::kzsgCentres);
  const TRect v = resampler.Visible();
  if (v.IsEmpty()) return;
  if (!Blend) {
    resampler.Run(FTarget);
    return;
  }
  std::vector<uint32_t> row(static_cast<size_t>(v.Width()));
  for (int32_t y = v.Top; y < v.Bottom; ++y) {
    resampler.Row(y, row.data());
    BlendRow(FTarget.Row(y) + v.Left, row.data(), v.Width(), opacity);
  }
}

}  // namespace kz
