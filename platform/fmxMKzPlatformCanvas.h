// The canvas controls paint with: solid and alpha-blended fills, lines and
// outlines, bitmaps drawn at any offset or stretched, a clip and a
// translation, and UTF-8 text in a font family, size, style and colour.
// This is a software canvas: it draws into a 32-bit pixel surface (bytes
// B, G, R, A per pixel, rows top-down: the layout of the library bitmap).
//
// Colours are 32-bit ARGB (0xAARRGGBB). A colour with alpha below 255 is
// blended over what is there; alpha 0 draws nothing. Drawing never writes
// outside the surface or the current clip. A canvas is used by one thread
// at a time (controls paint on the main thread).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformTypes.h"

namespace kz {

using TAlphaColor = uint32_t;

// A view of 32-bit pixels that someone else owns. Stride is in pixels.
struct TKzPixelSurface {
  uint32_t* Pixels = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Stride = 0;
  bool IsEmpty() const { return Pixels == nullptr || Width <= 0 || Height <= 0; }
  uint32_t* Row(int32_t Y) const { return Pixels + static_cast<int64_t>(Y) * Stride; }
};

// Resampling of stretched bitmaps: nearest pixel, or bilinear.
enum class TKzStretchQuality : uint8_t { kzsqLow = 0, kzsqNormal = 1 };

// Font styles, combined as flags.
enum TKzFontStyle : uint8_t { kzfsBold = 1, kzfsItalic = 2, kzfsUnderline = 4, kzfsStrikeOut = 8 };

struct TKzFont {
  std::string Family = "DejaVu Sans";  // falls back to DejaVu Sans when not installed
  float Size = 12.0f;                  // pixel height of the em square
  uint8_t Style = 0;                   // TKzFontStyle flags
  TAlphaColor Color = 0xFF000000u;
  bool operator==(const TKzFont&) const = default;
};

enum class TKzTextAlign : uint8_t { kztaLeading = 0, kztaCenter = 1, kztaTrailing = 2 };

// Size of a text line as drawn: Width is the advance, Height the line height
// of the font (ascent + descent), Ascent the baseline's distance from the top.
struct TKzTextExtent {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Ascent = 0;
};

struct TKzTextLayout;  // fmxMKzPlatformFonts.h

class TCanvas {
public:
  // Draws into Target; the clip starts as the whole surface, no translation.
  explicit TCanvas(const TKzPixelSurface& Target);
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  const TKzPixelSurface& Surface() const { return FTarget; }

  // ---- State. Save pushes clip and translation; Restore pops them.
  void SaveState();
  void RestoreState();
  // Moves the origin by (DX, DY) in the current coordinates.
  void Translate(int32_t DX, int32_t DY);
  // Narrows the clip to Rect (current coordinates).
  void IntersectClip(const TRect& Rect);
  // The clip in current coordinates.
  TRect ClipRect() const;
  TPoint Origin() const { return FOrigin; }

  // ---- Shapes (current coordinates; rectangles exclude right and bottom)
  void FillRect(const TRect& Rect, TAlphaColor Color);
  // An outline Thickness pixels wide, inside Rect.
  void DrawRect(const TRect& Rect, TAlphaColor Color, int32_t Thickness = 1);
  // A line from A to B, both ends included; thicker lines are centred on it
  // with square ends.
  void DrawLine(TPoint A, TPoint B, TAlphaColor Color, float Thickness = 1.0f);
  void FillEllipse(const TRect& Rect, TAlphaColor Color);

  // ---- Bitmaps. Source pixels are blended by their own alpha times Opacity
  // (0..1) when Blend is set, copied as they are otherwise.
  // SourceRect of Source drawn unscaled with its top-left corner at At
  // (which may be negative or outside the surface).
  void DrawBitmap(const TKzPixelSurface& Source, const TRect& SourceRect, TPoint At, bool Blend = false,
                  float Opacity = 1.0f);
  // SourceRect of Source stretched to fill DestRect (DestRect may extend
  // beyond the surface; only the visible part is computed).
  void StretchBitmap(const TKzPixelSurface& Source, const TRect& SourceRect, const TRect& DestRect,
                     TKzStretchQuality Quality, bool Blend = false, float Opacity = 1.0f);

  // ---- Text (UTF-8; invalid bytes draw as U+FFFD)
  static TKzTextExtent MeasureText(const std::string& Text, const TKzFont& Font);
  // One line with its top-left corner at (X, Y).
  void TextOut(int32_t X, int32_t Y, const std::string& Text, const TKzFont& Font);
  // One line aligned inside Rect (vertically centred with kztaCenter),
  // clipped to Rect.
  void DrawText(const TRect& Rect, const std::string& Text, const TKzFont& Font, TKzTextAlign HAlign,
                TKzTextAlign VAlign = TKzTextAlign::kztaCenter);

private:
  struct TState {
    TPoint Origin;
    TRect Clip;  // surface coordinates
  };
  // Surface coordinates, clipped inside.
  void FillSurfaceRect(int64_t Left, int64_t Top, int64_t Right, int64_t Bottom, TAlphaColor Color);
  void PlotSurfacePixel(int32_t X, int32_t Y, TAlphaColor Color);
  void DrawHairline(int64_t AX, int64_t AY, int64_t BX, int64_t BY, TAlphaColor Color);
  void DrawTextLayout(int32_t X, int32_t Y, const TKzTextLayout& Layout, const TKzFont& Font);

  TKzPixelSurface FTarget;
  TPoint FOrigin;
  TRect FClip;  // surface coordinates
  std::vector<TState> FStack;
};

}  // namespace kz
