// The software canvas: exact pixels of fills, blending, outlines, lines,
// bitmaps, stretching, clip and translation; nothing outside the surface or
// the clip is ever written (every surface sits inside a guard border).
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/kztestneed.h"
#include "platform/fmxMKzPlatformBlend.h"
#include "platform/fmxMKzPlatformCanvas.h"
#include "platform/fmxMKzPlatformFonts.h"

using namespace kz;

namespace {

constexpr uint32_t Guard = 0x5A5A5A5Au;
constexpr int Border = 3;

// A surface of W x H pixels inside a guard border of Border pixels.
struct TGuarded {
  int W, H, Stride;
  std::vector<uint32_t> Buffer;
  TGuarded(int AW, int AH, uint32_t Fill = 0xFF000000u)
      : W(AW), H(AH), Stride(AW + 2 * Border), Buffer(static_cast<size_t>(Stride) * (AH + 2 * Border), Guard) {
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) At(x, y) = Fill;
  }
  uint32_t& At(int X, int Y) { return Buffer[static_cast<size_t>(Y + Border) * Stride + X + Border]; }
  TKzPixelSurface Surface() { return {&At(0, 0), W, H, Stride}; }
  bool GuardIntact() const {
    for (int y = 0; y < H + 2 * Border; ++y)
      for (int x = 0; x < Stride; ++x) {
        const bool inside = y >= Border && y < H + Border && x >= Border && x < W + Border;
        if (!inside && Buffer[static_cast<size_t>(y) * Stride + x] != Guard) return false;
      }
    return true;
  }
  // The picture as rows of characters: a colour's mark from Legend where
  // the pixel has that colour, Other elsewhere.
  std::vector<std::string> Map(const std::map<uint32_t, char>& Legend, char Other = '.') {
    std::vector<std::string> rows(H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) rows[y] += Legend.count(At(x, y)) ? Legend.at(At(x, y)) : Other;
    return rows;
  }
};

uint32_t Channel(uint32_t P, int I) { return (P >> (8 * I)) & 0xFF; }

// The blending rule written out channel by channel.
uint32_t ReferenceBlend(uint32_t Dst, uint32_t Src, uint32_t A) {
  uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    const uint32_t s = c == 3 ? 255 : Channel(Src, c);
    out |= ((s * A + Channel(Dst, c) * (255 - A) + 127) / 255) << (8 * c);
  }
  return out;
}

std::vector<uint32_t> RandomPixels(size_t N, uint32_t Seed) {
  std::mt19937 rng(Seed);
  std::vector<uint32_t> v(N);
  for (auto& p : v) p = rng();
  return v;
}

}  // namespace

TEST(CanvasFill, BlendsExactlyByTheRule) {
  // The packed arithmetic against the rule for every alpha and a spread of
  // colours, over opaque and over transparent pixels.
  const std::vector<uint32_t> colours = RandomPixels(64, 7);
  for (uint32_t a = 0; a < 256; ++a)
    for (size_t i = 0; i + 1 < colours.size(); i += 2) {
      const uint32_t dst = i % 4 == 0 ? colours[i] | 0xFF000000u : colours[i] & 0x00FFFFFFu;
      ASSERT_EQ(KzBlendPixel(dst, colours[i + 1], a), ReferenceBlend(dst, colours[i + 1], a)) << a;
    }

  struct Case {
    const char* Name;
    uint32_t Dst, Color, Expect;
  } cases[] = {
      {"opaque replaces", 0xFF102030, 0xFFA0B0C0, 0xFFA0B0C0},
      {"alpha 0 leaves", 0xFF102030, 0x00A0B0C0, 0xFF102030},
      {"half over black", 0xFF000000, 0x80FFFFFF, 0xFF808080},
      {"opaque surface stays opaque", 0xFF000000, 0x01FFFFFF, 0xFF010101},
      {"transparent surface takes alpha", 0x00000000, 0x40FF0000, 0x40400000},
  };
  for (const Case& c : cases) {
    TGuarded g(3, 2, c.Dst);
    TCanvas canvas(g.Surface());
    canvas.FillRect(TRect(-5, -5, 10, 10), c.Color);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(g.At(x, y), c.Expect) << c.Name;
    EXPECT_TRUE(g.GuardIntact()) << c.Name;
  }
}

TEST(CanvasShapes, OutlinesAndLinesLightExactlyTheirPixels) {
  constexpr uint32_t C = 0xFFFFFFFFu;
  struct Case {
    const char* Name;
    std::function<void(TCanvas&)> Draw;
    std::vector<std::string> Expect;
  } cases[] = {
      {"outline 1", [](TCanvas& c) { c.DrawRect(TRect(1, 1, 7, 6), C); },
       {"........", ".######.", ".#....#.", ".#....#.", ".#....#.", ".######.", "........"}},
      {"outline 2 inside the rectangle", [](TCanvas& c) { c.DrawRect(TRect(1, 1, 7, 7), C, 2); },
       {"........", ".######.", ".######.", ".##..##.", ".##..##.", ".######.", ".######."}},
      {"outline too thick fills", [](TCanvas& c) { c.DrawRect(TRect(2, 2, 5, 5), C, 2); },
       {"........", "........", "..###...", "..###...", "..###...", "........", "........"}},
      {"hairline both ends", [](TCanvas& c) { c.DrawLine({1, 1}, {5, 3}, C); },
       {"........", ".#......", "..##....", "....##..", "........", "........", "........"}},
      {"hairline reversed is the same", [](TCanvas& c) { c.DrawLine({5, 3}, {1, 1}, C); },
       {"........", ".#......", "..##....", "....##..", "........", "........", "........"}},
      {"steep hairline", [](TCanvas& c) { c.DrawLine({2, 0}, {3, 6}, C); },
       {"..#.....", "..#.....", "..#.....", "...#....", "...#....", "...#....", "...#...."}},
      {"thick 3 centred, square ends", [](TCanvas& c) { c.DrawLine({2, 3}, {5, 3}, C, 3.0f); },
       {"........", "........", ".######.", ".######.", ".######.", "........", "........"}},
      {"thick 2 vertical", [](TCanvas& c) { c.DrawLine({3, 2}, {3, 4}, C, 2.0f); },
       {"........", "..##....", "..##....", "..##....", "..##....", "........", "........"}},
      {"thick point is a square", [](TCanvas& c) { c.DrawLine({3, 3}, {3, 3}, C, 3.0f); },
       {"........", "........", "..###...", "..###...", "..###...", "........", "........"}},
      {"ellipse", [](TCanvas& c) { c.FillEllipse(TRect(1, 1, 7, 6), C); },
       {"........", "..####..", ".######.", ".######.", ".######.", "..####..", "........"}},
  };
  for (const Case& c : cases) {
    TGuarded g(8, 7);
    TCanvas canvas(g.Surface());
    c.Draw(canvas);
    EXPECT_EQ(g.Map({{C, '#'}}), c.Expect) << c.Name;
    EXPECT_TRUE(g.GuardIntact()) << c.Name;
  }
}

TEST(CanvasShapes, BlendedShapesTouchEachPixelOnce) {
  // Overlapping bands or segments would blend twice and show darker pixels.
  const uint32_t once = KzBlendPixel(0xFF000000u, 0xFFFFFFFFu, 0x80);
  const std::vector<std::function<void(TCanvas&)>> draws = {
      [](TCanvas& c) { c.DrawRect(TRect(0, 0, 20, 15), 0x80FFFFFF, 3); },
      [](TCanvas& c) { c.DrawLine({2, 2}, {17, 11}, 0x80FFFFFF, 4.5f); },
      [](TCanvas& c) { c.DrawLine({17, 1}, {3, 13}, 0x80FFFFFF); },
      [](TCanvas& c) { c.FillEllipse(TRect(1, 1, 19, 14), 0x80FFFFFF); },
  };
  for (size_t i = 0; i < draws.size(); ++i) {
    TGuarded g(20, 15);
    TCanvas canvas(g.Surface());
    draws[i](canvas);
    int lit = 0;
    for (int y = 0; y < 15; ++y)
      for (int x = 0; x < 20; ++x) {
        const uint32_t p = g.At(x, y);
        ASSERT_TRUE(p == 0xFF000000u || p == once) << i << " at " << x << "," << y;
        lit += p == once;
      }
    EXPECT_GT(lit, 10) << i;
  }
}

TEST(CanvasState, ClipAndTranslateNestAndRestore) {
  TGuarded g(10, 10);
  TCanvas canvas(g.Surface());
  canvas.SaveState();
  canvas.Translate(2, 3);
  canvas.IntersectClip(TRect(0, 0, 4, 4));
  EXPECT_EQ(canvas.ClipRect(), TRect(0, 0, 4, 4));
  canvas.SaveState();
  canvas.Translate(1, 1);
  canvas.IntersectClip(TRect(-5, -5, 2, 2));
  EXPECT_EQ(canvas.ClipRect(), TRect(-1, -1, 2, 2));
  canvas.FillRect(TRect(-100, -100, 100, 100), 0xFF0000FF);
  canvas.RestoreState();
  canvas.FillRect(TRect(3, 3, 100, 100), 0xFF00FF00);
  canvas.DrawLine({-50, 0}, {50, 0}, 0xFFFF0000);
  canvas.RestoreState();
  EXPECT_EQ(canvas.ClipRect(), TRect(0, 0, 10, 10));
  canvas.RestoreState();  // one too many: nothing happens
  canvas.FillRect(TRect(9, 9, 10, 10), 0xFFFFFFFF);
  const std::vector<std::string> expect = {"..........", "..........", "..........", "..RRRR....", "..BBB.....",
                                           "..BBB.....", ".....G....", "..........", "..........", ".........W"};
  EXPECT_EQ(g.Map({{0xFF000000u, '.'}, {0xFFFF0000u, 'R'}, {0xFF0000FFu, 'B'}, {0xFF00FF00u, 'G'}, {0xFFFFFFFFu, 'W'}}, '?'),
            expect);
  EXPECT_TRUE(g.GuardIntact());
}

TEST(CanvasState, NothingIsWrittenOutsideTheSurfaceOrClip) {
  const std::vector<uint32_t> pix = RandomPixels(16 * 9, 3);
  const TKzPixelSurface src{const_cast<uint32_t*>(pix.data()), 16, 9, 16};
  const std::vector<std::function<void(TCanvas&)>> draws = {
      [](TCanvas& c) { c.FillRect(TRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX), 0x80FF00FF); },
      [](TCanvas& c) { c.DrawRect(TRect(-3, -3, 40, 40), 0xFFFFFFFF, 5); },
      [](TCanvas& c) { c.DrawLine({INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, 0xFFFFFFFF); },
      [](TCanvas& c) { c.DrawLine({-1000000, 5}, {1000000, 6}, 0xFFFFFFFF, 7.0f); },
      [](TCanvas& c) { c.FillEllipse(TRect(-20, -20, 30, 30), 0xFFFFFFFF); },
      [&](TCanvas& c) { c.DrawBitmap(src, TRect(-5, -5, 30, 30), {-3, -6}, true, 0.7f); },
      [&](TCanvas& c) { c.StretchBitmap(src, TRect(0, 0, 16, 9), TRect(-7, -9, 31, 23), TKzStretchQuality::kzsqNormal); },
      [&](TCanvas& c) { c.StretchBitmap(src, TRect(0, 0, 16, 9), TRect(-7, -9, 31, 23), TKzStretchQuality::kzsqLow, true); },
  };
  for (size_t i = 0; i < draws.size(); ++i) {
    TGuarded g(12, 10);
    TCanvas canvas(g.Surface());
    canvas.Translate(1, 2);
    canvas.IntersectClip(TRect(1, 0, 8, 5));  // surface (2, 2)-(9, 7)
    draws[i](canvas);
    int inside = 0;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x) {
        const bool inClip = x >= 2 && x < 9 && y >= 2 && y < 7;
        if (!inClip) {
          ASSERT_EQ(g.At(x, y), 0xFF000000u) << i << " at " << x << "," << y;
        }
        inside += inClip && g.At(x, y) != 0xFF000000u;
      }
    EXPECT_GT(inside, 0) << i;
    EXPECT_TRUE(g.GuardIntact()) << i;
  }
}

TEST(CanvasBitmap, DrawsAtAnyOffsetAndBlendsWithOpacity) {
  std::vector<uint32_t> pix(4 * 3);
  for (int i = 0; i < 12; ++i) pix[i] = 0xFF000000u | static_cast<uint32_t>(i + 1);
  const TKzPixelSurface src{pix.data(), 4, 3, 4};
  std::map<uint32_t, char> digits = {{0xFF000000u, '.'}};
  for (int i = 0; i < 12; ++i) digits[pix[i]] = "123456789abc"[i];
  struct Case {
    const char* Name;
    TRect SourceRect;
    TPoint At;
    std::vector<std::string> Expect;  // digit d: source pixel d - 1 (hex)
  } cases[] = {
      {"inside", TRect(0, 0, 4, 3), {1, 1}, {"......", ".1234.", ".5678.", ".9abc.", "......"}},
      {"negative", TRect(0, 0, 4, 3), {-2, -1}, {"78....", "bc....", "......", "......", "......"}},
      {"past the far corner", TRect(0, 0, 4, 3), {4, 3}, {"......", "......", "......", "....12", "....56"}},
      {"source rect outside the source", TRect(-1, -1, 2, 2), {0, 0}, {"......", ".12...", ".56...", "......", "......"}},
      {"far outside", TRect(0, 0, 4, 3), {INT_MAX - 2, INT_MIN}, {"......", "......", "......", "......", "......"}},
  };
  for (const Case& c : cases) {
    TGuarded g(6, 5);
    TCanvas canvas(g.Surface());
    canvas.DrawBitmap(src, c.SourceRect, c.At);
    EXPECT_EQ(g.Map(digits, '?'), c.Expect) << c.Name;
    EXPECT_TRUE(g.GuardIntact()) << c.Name;
  }

  // The target as its own source: the picture as it was, moved.
  {
    TGuarded g(5, 4);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) g.At(x, y) = 0xFF000000u | (y * 16 + x);
    TGuarded before = g;
    TCanvas canvas(g.Surface());
    canvas.DrawBitmap(g.Surface(), TRect(0, 0, 5, 4), {1, 1});
    for (int y = 1; y < 4; ++y)
      for (int x = 1; x < 5; ++x) EXPECT_EQ(g.At(x, y), before.At(x - 1, y - 1)) << x << "," << y;
    canvas.StretchBitmap(g.Surface(), TRect(0, 0, 2, 2), TRect(0, 0, 4, 4), TKzStretchQuality::kzsqLow);
    EXPECT_EQ(g.At(3, 3), before.At(0, 0));  // was (1, 1): before (0, 0)
  }

  // Blending: the source's own alpha times the opacity.
  std::vector<uint32_t> half = {0x80FFFFFFu, 0xFF204060u, 0x00FFFFFFu};
  const TKzPixelSurface hs{half.data(), 3, 1, 3};
  TGuarded g(3, 1);
  TCanvas canvas(g.Surface());
  canvas.DrawBitmap(hs, TRect(0, 0, 3, 1), {0, 0}, true, 0.5f);
  const uint32_t a = (0x80 * 128 + 127) / 255;
  EXPECT_EQ(g.At(0, 0), ReferenceBlend(0xFF000000u, 0xFFFFFFFFu, a));
  EXPECT_EQ(g.At(1, 0), ReferenceBlend(0xFF000000u, 0xFF204060u, 128));
  EXPECT_EQ(g.At(2, 0), 0xFF000000u);
  // Without blending the pixels are copied as they are, alpha included.
  canvas.DrawBitmap(hs, TRect(0, 0, 3, 1), {0, 0});
  EXPECT_EQ(g.At(0, 0), 0x80FFFFFFu);
}

TEST(CanvasStretch, NearestAndBilinearMatchTheirReferences) {
  // Nearest: pixel centres meet, so a doubling repeats every pixel twice and
  // a halving takes the second of each pair.
  std::vector<uint32_t> pix = RandomPixels(4 * 4, 11);
  const TKzPixelSurface src{pix.data(), 4, 4, 4};
  {
    TGuarded g(8, 8);
    TCanvas(g.Surface()).StretchBitmap(src, TRect(0, 0, 4, 4), TRect(0, 0, 8, 8), TKzStretchQuality::kzsqLow);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(g.At(x, y), pix[(y / 2) * 4 + x / 2]) << x << "," << y;
    TGuarded h(2, 2);
    TCanvas(h.Surface()).StretchBitmap(src, TRect(0, 0, 4, 4), TRect(0, 0, 2, 2), TKzStretchQuality::kzsqLow);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) EXPECT_EQ(h.At(x, y), pix[(2 * y + 1) * 4 + 2 * x + 1]);
  }

  // Bilinear against the textbook formula in floating point: the fixed
  // point stays within half a step plus rounding of the weights. Sizes of
  // more than a few pixels go through the vector path and its tail.
  struct TSizes {
    int SW, SH, DW, DH;
  } sizes[] = {{5, 4, 13, 7}, {5, 4, 3, 2}, {5, 4, 5, 9}, {5, 4, 1, 1}, {67, 41, 29, 23}, {23, 9, 61, 30}};
  for (const auto& [SW, SH, DW, DH] : sizes) {
    std::vector<uint32_t> small = RandomPixels(SW * SH, 5);
    const TKzPixelSurface ss{small.data(), SW, SH, SW};
    TGuarded g(DW, DH);
    TCanvas(g.Surface()).StretchBitmap(ss, TRect(0, 0, SW, SH), TRect(0, 0, DW, DH), TKzStretchQuality::kzsqNormal);
    const auto coord = [](int I, int S, int D, int& I0, int& I1, double& F) {
      const double p = std::clamp((I + 0.5) * S / D - 0.5, 0.0, S - 1.0);
      I0 = static_cast<int>(p);
      I1 = std::min(I0 + 1, S - 1);
      F = p - I0;
    };
    for (int y = 0; y < DH; ++y)
      for (int x = 0; x < DW; ++x) {
        int x0, x1, y0, y1;
        double fx, fy;
        coord(x, SW, DW, x0, x1, fx);
        coord(y, SH, DH, y0, y1, fy);
        for (int c = 0; c < 4; ++c) {
          const double v = (1 - fy) * ((1 - fx) * Channel(small[y0 * SW + x0], c) + fx * Channel(small[y0 * SW + x1], c)) +
                           fy * ((1 - fx) * Channel(small[y1 * SW + x0], c) + fx * Channel(small[y1 * SW + x1], c));
          ASSERT_NEAR(Channel(g.At(x, y), c), v, 0.6) << DW << "x" << DH << " at " << x << "," << y << " ch " << c;
        }
      }
    EXPECT_TRUE(g.GuardIntact());
  }
}

TEST(CanvasStretch, OnlyTheVisiblePartIsComputedAndItMatchesTheWhole) {
  // A stretch reaching outside the surface shows exactly the matching part
  // of the same stretch drawn whole, for both qualities.
  std::vector<uint32_t> pix = RandomPixels(37 * 23, 9);
  const TKzPixelSurface src{pix.data(), 37, 23, 37};
  for (const TKzStretchQuality q : {TKzStretchQuality::kzsqLow, TKzStretchQuality::kzsqNormal}) {
    TGuarded whole(61, 50);
    TCanvas(whole.Surface()).StretchBitmap(src, TRect(0, 0, 37, 23), TRect(0, 0, 61, 50), q);
    TGuarded part(20, 16);
    TCanvas canvas(part.Surface());
    canvas.Translate(-5, 0);
    canvas.StretchBitmap(src, TRect(0, 0, 37, 23), TRect(-10, -30, 51, 20), q);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 20; ++x) ASSERT_EQ(part.At(x, y), whole.At(x + 15, y + 30)) << int(q) << " " << x << "," << y;
    EXPECT_TRUE(part.GuardIntact());
  }
}

// ---- Text

namespace {

struct TInk {
  int Count = 0, Left = INT_MAX, Top = INT_MAX, Right = INT_MIN, Bottom = INT_MIN;
};
// Where a picture differs from its background.
TInk InkOf(TGuarded& G, uint32_t Background) {
  TInk ink;
  for (int y = 0; y < G.H; ++y)
    for (int x = 0; x < G.W; ++x)
      if (G.At(x, y) != Background) {
        ++ink.Count;
        ink.Left = std::min(ink.Left, x);
        ink.Right = std::max(ink.Right, x + 1);
        ink.Top = std::min(ink.Top, y);
        ink.Bottom = std::max(ink.Bottom, y + 1);
      }
  return ink;
}

TKzFont Font(float Size, uint8_t Style = 0, uint32_t Color = 0xFF0000FFu, const char* Family = "DejaVu Sans") {
  TKzFont f;
  f.Family = Family;
  f.Size = Size;
  f.Style = Style;
  f.Color = Color;
  return f;
}

int Width(const std::string& Text, const TKzFont& F) { return TCanvas::MeasureText(Text, F).Width; }

}  // namespace

TEST(CanvasText, FamilyAndStylePickTheirFile) {
  struct Case {
    const char* Family;
    uint8_t Style;
    const char* File;
  } cases[] = {
      {"DejaVu Sans", 0, "DejaVuSans.ttf"},
      {"dejavu serif", kzfsBold | kzfsItalic, "DejaVuSerif-BoldItalic.ttf"},
      {" DejaVu Sans Mono ", kzfsItalic | kzfsUnderline, "DejaVuSansMono-Oblique.ttf"},
      {"No Such Family", kzfsBold, "DejaVuSans-Bold.ttf"},
      {"monospace", 0, "DejaVuSansMono.ttf"},
      {"", kzfsItalic, "DejaVuSans-Oblique.ttf"},
  };
  KZ_NEED(!KzFontFile("DejaVu Sans", 0).empty(), "DejaVu fonts are not installed");
  for (const Case& c : cases) {
    const std::string file = KzFontFile(c.Family, c.Style);
    EXPECT_EQ(file.substr(file.find_last_of('/') + 1), c.File) << c.Family;
  }
}

TEST(CanvasText, MeasurementFollowsLengthSizeAndStyle) {
  const TKzFont f12 = Font(12), f24 = Font(24);
  const TKzTextExtent empty = TCanvas::MeasureText("", f12);
  EXPECT_EQ(empty.Width, 0);
  EXPECT_GT(empty.Height, 10);
  EXPECT_GT(empty.Ascent, 0);
  EXPECT_LT(empty.Ascent, empty.Height);
  EXPECT_LT(Width("abc", f12), Width("abcdef", f12));
  const double ratio = double(Width("Hello World", f24)) / Width("Hello World", f12);
  EXPECT_GT(ratio, 1.7);
  EXPECT_LT(ratio, 2.3);
  EXPECT_GT(TCanvas::MeasureText("x", f24).Height, empty.Height);
  EXPECT_GT(Width("Hello World", Font(12, kzfsBold)), Width("Hello World", f12));
  // Monospaced: every character advances alike.
  const TKzFont mono = Font(14, 0, 0xFF000000u, "DejaVu Sans Mono");
  EXPECT_EQ(Width("iiii", mono), Width("WWWW", mono));
  EXPECT_LT(Width("iiii", f12), Width("WWWW", f12));
  // Control characters take no room; a size of 0 measures nothing.
  EXPECT_EQ(Width("a\tb\n", f12), Width("ab", f12));
  EXPECT_EQ(TCanvas::MeasureText("abc", Font(0)).Height, 0);
}

TEST(CanvasText, InvalidBytesMeasureAsReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    const char* Name;
    std::string Text, Same;
  } cases[] = {
      {"stray byte", "a\xFF" "b", "a" + fffd + "b"},
      {"truncated", "abc\xE2\x82", "abc" + fffd + fffd},
      {"overlong", "\xC0\xAF", fffd},
      {"surrogate", "\xED\xA0\x80", fffd},
      {"above U+10FFFF", "\xF4\x90\x80\x80", fffd},
      {"lone continuation", "\x80\x80", fffd + fffd},
  };
  const TKzFont f = Font(13);
  TGuarded g(40, 20);
  TCanvas canvas(g.Surface());
  for (const Case& c : cases) {
    EXPECT_EQ(Width(c.Text, f), Width(c.Same, f)) << c.Name;
    canvas.TextOut(-3, 2, c.Text, f);
  }
  EXPECT_TRUE(g.GuardIntact());
}

TEST(CanvasText, DrawnPixelsStayInTheExtentInTheFontColour) {
  struct Case {
    const char* Name;
    TKzFont Font;
  } cases[] = {
      {"regular", Font(16)},
      {"bold", Font(16, kzfsBold)},
      {"underline and strike-out", Font(16, kzfsUnderline | kzfsStrikeOut)},
  };
  const std::string text = "Hxg Ajy";
  for (const Case& c : cases) {
    const TKzTextExtent e = TCanvas::MeasureText(text, c.Font);
    TGuarded g(300, 80, 0xFFFFFFFFu);
    TCanvas canvas(g.Surface());
    canvas.TextOut(10, 5, text, c.Font);
    const TInk ink = InkOf(g, 0xFFFFFFFFu);
    ASSERT_GT(ink.Count, 20) << c.Name;
    EXPECT_GE(ink.Left, 10) << c.Name;
    EXPECT_LE(ink.Right, 10 + e.Width + 1) << c.Name;
    EXPECT_GE(ink.Top, 5) << c.Name;
    EXPECT_LE(ink.Bottom, 5 + e.Height) << c.Name;
    // Blue over white: every touched pixel lies between the two.
    int full = 0;
    for (int y = 0; y < g.H; ++y)
      for (int x = 0; x < g.W; ++x) {
        const uint32_t p = g.At(x, y);
        ASSERT_EQ(p & 0xFF0000FFu, 0xFF0000FFu) << c.Name;
        ASSERT_EQ(Channel(p, 1), Channel(p, 2)) << c.Name;
        full += p == 0xFF0000FFu;
      }
    EXPECT_GT(full, 0) << c.Name;
    if (c.Font.Style & kzfsUnderline) {
      // The underline runs the whole advance on one row.
      bool found = false;
      for (int y = 5 + e.Ascent; y < 5 + e.Height && !found; ++y) {
        bool row = true;
        for (int x = 10; x < 10 + e.Width; ++x) row = row && g.At(x, y) == 0xFF0000FFu;
        found = row;
      }
      EXPECT_TRUE(found) << c.Name;
    }
  }

  // A translucent colour blends: red at alpha 128 over black stays at 128.
  TGuarded g(100, 30);
  TCanvas(g.Surface()).TextOut(2, 2, "HHH", Font(18, 0, 0x80FF0000u));
  uint32_t maxRed = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 100; ++x) maxRed = std::max(maxRed, Channel(g.At(x, y), 2));
  EXPECT_EQ(maxRed, 128u);
}

TEST(CanvasText, DrawTextAlignsAndClipsToItsRectangle) {
  const TKzFont f = Font(14);
  const std::string text = "Aligned";
  const TKzTextExtent e = TCanvas::MeasureText(text, f);
  struct Case {
    TKzTextAlign H, V;
    double CentreX, CentreY;  // expected centre of the text box
  } cases[] = {
      {TKzTextAlign::kztaLeading, TKzTextAlign::kztaLeading, 20 + e.Width / 2.0, 10 + e.Height / 2.0},
      {TKzTextAlign::kztaCenter, TKzTextAlign::kztaCenter, 100, 40},
      {TKzTextAlign::kztaTrailing, TKzTextAlign::kztaTrailing, 180 - e.Width / 2.0, 70 - e.Height / 2.0},
  };
  for (const Case& c : cases) {
    TGuarded g(200, 80);
    TCanvas(g.Surface()).DrawText(TRect(20, 10, 180, 70), text, f, c.H, c.V);
    const TInk ink = InkOf(g, 0xFF000000u);
    ASSERT_GT(ink.Count, 0);
    EXPECT_NEAR((ink.Left + ink.Right) / 2.0, c.CentreX, 3.0) << int(c.H);
    EXPECT_NEAR((ink.Top + ink.Bottom) / 2.0, c.CentreY, e.Height / 3.0) << int(c.V);
  }
  // A rectangle too small for the text: nothing outside it.
  TGuarded g(100, 40);
  TCanvas(g.Surface()).DrawText(TRect(10, 10, 30, 20), "Wide text here", Font(20), TKzTextAlign::kztaCenter);
  const TInk ink = InkOf(g, 0xFF000000u);
  EXPECT_GT(ink.Count, 0);
  EXPECT_GE(ink.Left, 10);
  EXPECT_LE(ink.Right, 30);
  EXPECT_GE(ink.Top, 10);
  EXPECT_LE(ink.Bottom, 20);
}

TEST(CanvasText, ChineseFallsBackToTheCJKFont) {
  KZ_NEED(!KzFallbackFontFile().empty(), "no CJK font installed");
  const TKzFont f = Font(20);
  // Full-width glyphs advance about one em each (DejaVu's missing-glyph box is narrower).
  const int w = Width("无视频", f);
  EXPECT_GE(w, 3 * 18);
  EXPECT_LE(w, 3 * 22);
  TGuarded g(100, 40);
  TCanvas(g.Surface()).TextOut(5, 5, "無視頻", f);
  EXPECT_GT(InkOf(g, 0xFF000000u).Count, 50);
}

TEST(CanvasText, RendersAlikeFromManyThreadsAndAfterTheCacheIsRefilled) {
  const auto render = [](float Size) {
    TGuarded g(220, 60);
    TCanvas(g.Surface()).TextOut(3, 3, "Camera 12 - 正在访问", Font(Size));
    return g.Buffer;
  };
  const std::vector<uint32_t> reference = render(15);
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      std::string ascii;
      for (char c = 32; c < 127; ++c) ascii += c;
      for (int size = 6 + t; size < 60; size += 4) {
        TCanvas::MeasureText(ascii, Font(float(size)));  // churns the glyph cache
        mismatches[t] += render(15) != reference;
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(mismatches[t], 0) << t;
}
