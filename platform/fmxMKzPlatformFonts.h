// Fonts of the software canvas: choosing a font file for a family and
// style, laying out one line of UTF-8 text with FreeType, and a bounded
// cache of rendered (antialiased) glyphs.
//
// The DejaVu families are looked up in the system's DejaVu folder; an
// unknown family falls back to DejaVu Sans. Characters the chosen font
// lacks are taken from a CJK font when one is installed.
//
// All functions may be called on any thread: one lock guards FreeType and
// the cache and is held only while glyphs are looked up or rendered.
// Nothing else blocks.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformCanvas.h"

namespace kz {

// One rendered glyph: 8-bit coverage, Width x Height, rows top-down; Left
// and Top place its top-left corner relative to the pen on the baseline
// (Top counts upward).
struct TKzGlyphImage {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint8_t> Coverage;
};

struct TKzPlacedGlyph {
  int32_t X = 0;  // pen position from the line's left edge
  std::shared_ptr<const TKzGlyphImage> Image;
};

// One line of text, laid out. Lines (underline, strike-out) are given by
// their top from the line's top and their thickness.
struct TKzTextLayout {
  TKzTextExtent Extent;
  std::vector<TKzPlacedGlyph> Glyphs;
  int32_t UnderlineTop = 0;
  int32_t StrikeOutTop = 0;
  int32_t LineThickness = 1;
};

// The font file for Family and Style (bold and italic flags); empty when
// not even DejaVu Sans is installed.
std::string KzFontFile(const std::string& Family, uint8_t Style);
// The CJK fallback font in use, empty when none is installed.
std::string KzFallbackFontFile();

// Lays out Text in Font. Without glyphs only the extent and the lines are
// worked out (the cache still serves the advances).
TKzTextLayout KzLayoutText(const std::string& Text, const TKzFont& Font, bool WithGlyphs);

}  // namespace kz
