// The library bitmap: raw frame import, copying and resampling, fills,
// smoothing, rotation, brightness/contrast and BMP files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzBitmapFilters.h"
#include "platform/fmxMKzPlatformClock.h"
#include "tests/video/kzimagetestutil.h"
#include "video/Fmxmkzgraphicfuncs.h"

using namespace kz;

namespace {

TKzMBitmap Pattern(int32_t W, int32_t H) {
  TKzMBitmap b(W, H);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) b.ScanLine(y)[x] = 0xFF000000u | (x << 16) | (y << 8) | ((x * 7 + y) & 0xFF);
  return b;
}

}  // namespace

TEST(BitmapDIB, ImportsEveryDepthWithRowPaddingOrientationAndSwap) {
  // 3 x 2 pictures; rows padded to 4 bytes.
  const uint8_t rgb24[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE,  // row 0 + 3 fill bytes
                           10, 11, 12, 13, 14, 15, 16, 17, 18, 0xEE, 0xEE, 0xEE};
  const uint8_t bgra32[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  // 16-bit: full-scale red, green, blue fields; 2 fill bytes per row.
  const uint8_t rgb565[] = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0, 0x00, 0x00, 0xFF, 0xFF, 0x10, 0x84, 0, 0};
  const uint8_t rgb555[] = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0, 0, 0x00, 0x00, 0xFF, 0x7F, 0x10, 0x42, 0, 0};
  struct Case {
    const char* Name;
    int Bits;
    const uint8_t* Data;
    bool BottomUp, Swap;
    uint32_t Expect[6];
  } cases[] = {
      {"24 top-down", 24, rgb24, false, false,
       {0xFF030201, 0xFF060504, 0xFF090807, 0xFF0C0B0A, 0xFF0F0E0D, 0xFF121110}},
      {"24 bottom-up", 24, rgb24, true, false,
       {0xFF0C0B0A, 0xFF0F0E0D, 0xFF121110, 0xFF030201, 0xFF060504, 0xFF090807}},
      {"24 swapped", 24, rgb24, false, true,
       {0xFF010203, 0xFF040506, 0xFF070809, 0xFF0A0B0C, 0xFF0D0E0F, 0xFF101112}},
      {"32", 32, bgra32, false, false, {0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D, 0x14131211, 0x18171615}},
      {"32 swapped bottom-up", 32, bgra32, true, true,
       {0x100D0E0F, 0x14111213, 0x18151617, 0x04010203, 0x08050607, 0x0C090A0B}},
      {"16 as 5-6-5, widened", 16, rgb565, false, false,
       {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF000000, 0xFFFFFFFF, 0xFF848284}},
      {"15 as 5-5-5, widened", 15, rgb555, false, false,
       {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF000000, 0xFFFFFFFF, 0xFF848484}},
  };
  for (const Case& c : cases) {
    TKzMBitmap b;
    b.AssignFromDIB(c.Bits, 3, 2, c.Data, c.BottomUp, c.Swap);
    ASSERT_EQ(b.Width(), 3) << c.Name;
    for (int p = 0; p < 6; ++p) EXPECT_EQ(b.Data()[p], c.Expect[p]) << c.Name << " pixel " << p;
  }
  // Unsupported depth: resized, pixels untouched.
  TKzMBitmap b(1, 1);
  b.Data()[0] = 0x12345678;
  b.AssignFromDIB(8, 1, 1, rgb24, false, false);
  EXPECT_EQ(b.Data()[0], 0x12345678u);
}

TEST(BitmapCopy, SameSizeCopiesClipsAndHonoursTransparency) {
  const TKzMBitmap src = Pattern(4, 3);
  TKzMBitmap dst(5, 5);
  dst.FillData(0);
  // Partly outside on the left and bottom: the visible part keeps its place.
  dst.CopyRect(TRect(-1, 3, 3, 6), src, TRect(0, 0, 4, 3));
  EXPECT_EQ(dst.Pixel(0, 3), src.Pixel(1, 0));
  EXPECT_EQ(dst.Pixel(2, 4), src.Pixel(3, 1));
  EXPECT_EQ(dst.Pixel(3, 3), 0u);
  EXPECT_EQ(dst.Pixel(0, 2), 0u);

  TKzMBitmap over(2, 1);
  over.Data()[0] = 0xFF00FF00;
  over.Data()[1] = 0xFF123456;
  dst.FillData(0);
  dst.Draw(1, 1, over, true, 0xFF00FF00);
  EXPECT_EQ(dst.Pixel(1, 1), 0u);
  EXPECT_EQ(dst.Pixel(2, 1), 0xFF123456u);

  // Whole onto whole takes the source's size.
  TKzMBitmap whole(4, 3);
  whole.CopyRect(whole.ClientRect(), src, src.ClientRect());
  EXPECT_EQ(kztest::FirstDifference(whole, src), "");
}

TEST(BitmapCopy, ResamplesWithTheDocumentedBilinearFilter) {
  TKzMBitmap src(2, 1);
  src.Data()[0] = 0xFF000000;
  src.Data()[1] = 0xFFFFFFFF;
  TKzMBitmap dst(5, 1);
  dst.StretchDraw(dst.ClientRect(), src);
  // Source positions x * 3 / 6: 0, 0.5, 1, then held at the last pixel.
  const uint32_t expect[5] = {0xFF000000, 0xFF808080, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(dst.Data()[x], expect[x]) << x;

  // A flat picture stays flat at any scale; a gradient stays monotonic.
  TKzMBitmap flat(7, 5);
  flat.FillRect(flat.ClientRect(), 0xFF336699);
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{3, 2}, {16, 9}, {1, 1}, {40, 3}}) {
    TKzMBitmap out(w, h);
    out.StretchDraw(out.ClientRect(), flat);
    for (int64_t p = 0; p < out.GetLength(); ++p) ASSERT_EQ(out.Data()[p], 0xFF336699u) << w << "x" << h;
  }
  TKzMBitmap ramp(64, 1);
  for (int x = 0; x < 64; ++x) ramp.Data()[x] = 0xFF000000u | (x * 4);
  TKzMBitmap wide(200, 1);
  wide.StretchDraw(wide.ClientRect(), ramp);
  for (int x = 1; x < 200; ++x) EXPECT_GE(wide.Data()[x] & 0xFF, wide.Data()[x - 1] & 0xFF) << x;
}

TEST(BitmapFill, RectanglesAreClippedAndFillsRestartSmoothing) {
  TKzMBitmap b(4, 4);
  b.FillData(0);
  b.FillRect(TRect(-2, -2, 2, 1), 0xFFAA0000);
  b.Rectangle(1, 1, 10, 4, 0xFF00BB00);
  const char* expect[4] = {"RR..", ".GGG", ".G..", ".GGG"};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const uint32_t want = expect[y][x] == 'R' ? 0xFFAA0000 : expect[y][x] == 'G' ? 0xFF00BB00 : 0;
      EXPECT_EQ(b.Pixel(x, y), want) << x << "," << y;
    }
  b.FillCharEx(14, 100, 0x7F);  // clipped to the last two pixels
  EXPECT_EQ(b.Data()[13], 0xFF00BB00u);
  EXPECT_EQ(b.Data()[15], 0x7F7F7F7Fu);

  b.SetSmoothImage(true);
  b.AssignKzMBitmap(Pattern(4, 4));
  EXPECT_EQ(b.SmoothCount(), 1);
  b.Reset();
  EXPECT_EQ(b.SmoothCount(), 0);
  EXPECT_EQ(b.Data()[0], KzOpaqueWhite);
}

TEST(BitmapSmooth, APauseOfMoreThan100MsRestartsTheHistory) {
  TKzVirtualClockScope clock;
  TKzMBitmap frame(10, 10), other(10, 10), out;
  frame.FillRect(frame.ClientRect(), 0xFF646464);
  other.FillRect(other.ClientRect(), 0xFF6A6A6A);
  out.SetSmoothImage(true);
  out.AssignKzMBitmap(other);
  clock.Clock.Advance(40);
  out.AssignKzMBitmap(other);
  clock.Clock.Advance(150);
  out.AssignKzMBitmap(frame);  // within the window this would average to 0x686868
  EXPECT_EQ(out.SmoothCount(), 1);
  EXPECT_EQ(kztest::FirstDifference(out, frame), "");
}

// The smoothing rules one byte at a time, for frames inside the 100 ms window.
struct TSmoothModel {
  std::vector<std::vector<uint8_t>> History;  // oldest first
  std::vector<int> Sum;
  std::vector<uint8_t> Out;

  void Add(const std::vector<uint8_t>& F) {
    if (History.size() == 3) {
      for (size_t i = 0; i < F.size(); ++i) Sum[i] -= History[0][i];
      History.erase(History.begin());
    }
    Sum.resize(F.size(), 0);
    for (size_t i = 0; i < F.size(); ++i) Sum[i] += F[i];
    History.push_back(F);
    int64_t changed = 0;
    std::vector<uint8_t> avg(F.size());
    for (size_t p = 0; p < F.size(); p += 4) {
      bool far = false;
      for (size_t i = p; i < p + 4; ++i) {
        avg[i] = static_cast<uint8_t>(Sum[i] / static_cast<int>(History.size()));
        far |= History.size() > 1 && std::abs(avg[i] - Out[i]) >= 11;
      }
      changed += far;
    }
    Out = avg;
    if (changed > std::llround(F.size() / 4 * 0.1)) {
      History = {F};
      Sum.assign(F.begin(), F.end());
      Out = F;
    }
  }
};

TEST(BitmapSmooth, MatchesTheRulesByteForByteOnNoisyFrames) {
  // 61 x 37 (a tenth is 226 pixels), not a multiple of any block. Moving a
  // pixel's byte by 33 against a still history moves its average by exactly
  // 11, the smallest change that counts: 226 such pixels are averaged in,
  // 227 are a scene change, up or down. Then noisy still frames and a
  // large move.
  TKzVirtualClockScope clock;
  constexpr int W = 61, H = 37;
  uint32_t seed = 7;
  const auto rnd = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  std::vector<uint8_t> base(W * H * 4);
  for (uint8_t& b : base) b = static_cast<uint8_t>(40 + rnd() % 150);
  struct Step {
    int Noise;        // each byte moves by up to +-Noise
    int MovedPixels;  // the first MovedPixels pixels move by By
    int By;
  } steps[] = {{0, 0, 0},    {0, 0, 0},  {0, 0, 0}, {0, 226, 33}, {0, 227, 33}, {0, 227, 33}, {0, 227, 33},
               {0, 0, 0},    {9, 0, 0},  {12, 0, 0}, {6, 0, 0},   {30, 0, 0},   {2, 0, 0},    {5, 1000, 80},
               {5, 0, 0},    {5, 0, 0}};
  TKzMBitmap out;
  out.SetSmoothImage(true);
  TSmoothModel model;
  for (const Step& st : steps) {
    std::vector<uint8_t> f(base);
    for (size_t i = 0; i < f.size(); ++i) {
      int v = f[i] + static_cast<int>(rnd() % (2 * st.Noise + 1)) - st.Noise;
      if (static_cast<int>(i / 4) < st.MovedPixels) v += st.By;
      f[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
    TKzMBitmap frame(W, H);
    memcpy(frame.Data(), f.data(), f.size());
    out.AssignKzMBitmap(frame);
    model.Add(f);
    clock.Clock.Advance(40);
    ASSERT_EQ(memcmp(out.Data(), model.Out.data(), f.size()), 0)
        << "noise " << st.Noise << " moved " << st.MovedPixels << " by " << st.By;
    ASSERT_EQ(out.SmoothCount(), static_cast<int32_t>(model.History.size()));
  }
}

TEST(BitmapRotate, QuarterTurnsMoveColoursAndKeepAlphaInPlace) {
  // 4 x 2, pixel value = 0xAA000000 | (y << 8) | x with alpha per position.
  TKzMBitmap b(4, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) b.ScanLine(y)[x] = (static_cast<uint32_t>(0x10 * (y * 4 + x)) << 24) | (y << 8) | x;
  const TKzMBitmap original(b);

  RotateImg(b, TKzRotation::kzr90);
  ASSERT_EQ(b.Width(), 2);
  ASSERT_EQ(b.Height(), 4);
  EXPECT_EQ(b.Pixel(0, 0) & 0xFFFFFF, original.Pixel(0, 1) & 0xFFFFFF);  // old bottom-left
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(b.Pixel(x, y) & 0xFFFFFF, original.Pixel(y, 1 - x) & 0xFFFFFF);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(b.Data()[i] >> 24, original.Data()[i] >> 24);

  RotateImg(b, TKzRotation::kzr270);
  EXPECT_EQ(kztest::FirstDifference(b, original), "");
  RotateImg(b, TKzRotation::kzr180);
  EXPECT_EQ(b.Pixel(0, 0) & 0xFFFFFF, original.Pixel(3, 1) & 0xFFFFFF);
  RotateImg(b, TKzRotation::kzr180);
  RotateImg(b, TKzRotation::kzrNone);
  EXPECT_EQ(kztest::FirstDifference(b, original), "");

  // Larger than one tile, odd sizes: four turns are the identity.
  TKzMBitmap big = Pattern(67, 45);
  const TKzMBitmap bigOriginal(big);
  for (int i = 0; i < 4; ++i) RotateImg(big, TKzRotation::kzr90);
  EXPECT_EQ(kztest::FirstDifference(big, bigOriginal), "");
}

TEST(BitmapBrightnessContrast, TableFollowsTheFormula) {
  struct Case {
    int Brightness, Contrast;
    std::vector<std::pair<int, int>> InOut;
  } cases[] = {
      {255, 128, {{0, 253}, {1, 254}, {100, 255}}},  // offset 127 * 255 / 128 = 253
      {0, 128, {{0, 0}, {255, 0}}},                  // offset -255
      {129, 128, {{10, 11}}},                        // 255 / 128 = 1
      {127, 128, {{10, 9}}},                         // -255 / 128 truncates to -1
      {128, 0, {{0, 128}, {255, 128}}},              // c = -128 flattens everything
      {128, 64, {{0, 64}, {128, 128}, {255, 191}}},  // (i - 128) * 64 / 128 + 128
      {128, 192, {{64, 0}, {100, 72}, {128, 128}, {200, 255}}},  // (i - 128) * 128 / 64 + 128
      // Contrast 255: c = 127 gives (i - 128) * 128 + 128, so 128 stays 128.
      {128, 255, {{0, 0}, {127, 0}, {128, 128}, {129, 255}, {255, 255}}},
  };
  for (const Case& c : cases) {
    const auto t = KzBrightnessContrastTable(c.Brightness, c.Contrast);
    for (const auto& [in, out] : c.InOut) {
      EXPECT_EQ(t[in], out) << "b=" << c.Brightness << " c=" << c.Contrast << " i=" << in;
    }
  }
  TKzMBitmap b = Pattern(16, 16);
  for (int64_t p = 0; p < b.GetLength(); ++p) b.Data()[p] = (b.Data()[p] & 0xFFFFFF) | 0x40000000u;
  const TKzMBitmap original(b);
  BrightnessContrast(b, 128, 128);
  EXPECT_EQ(kztest::FirstDifference(b, original), "");
  BrightnessContrast(b, 128, 255);
  for (int64_t p = 0; p < b.GetLength(); ++p) {
    EXPECT_EQ(b.Data()[p] >> 24, 0x40u);
    for (int s = 0; s < 24; s += 8) {
      const uint32_t v = (b.Data()[p] >> s) & 0xFF;
      EXPECT_TRUE(v == 0 || v == 128 || v == 255) << v;
    }
  }
}

TEST(BitmapBMP, RoundTripsAndReadsOtherLayouts) {
  TKzMBitmap b(7, 3);  // 21 bytes per 24-bit row: 3 fill bytes
  kztest::FillNoise(b, 5);
  // The 24-bit layout is checked by ImageMagick reading ours (jpeg_test).
  for (const bool wide : {false, true}) {
    TMemoryStream s;
    wide ? b.SaveToStream32bit(s) : b.SaveToStream(s);
    s.SetPosition(0);
    TKzMBitmap back;
    ASSERT_TRUE(back.LoadFromStream(s));
    EXPECT_EQ(kztest::FirstDifference(back, b), "");
    EXPECT_EQ(s.Position(), s.Size());
  }

  // Top-down 8-bit palette picture with 2 colours.
  std::vector<uint8_t> pal = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,  // offset 14 + 40 + 8
                              40, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 1, 0, 8, 0, 0, 0, 0, 0,
                              0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,
                              0x10, 0x20, 0x30, 0, 0xA0, 0xB0, 0xC0, 0,  // palette
                              0, 1, 0, 0, 1, 1, 0, 0};                   // rows: 0 1, 1 1
  TMemoryStream ps;
  ps.Write(pal.data(), static_cast<int64_t>(pal.size()));
  ps.SetPosition(0);
  TKzMBitmap p;
  ASSERT_TRUE(p.LoadFromStream(ps));
  EXPECT_EQ(p.Pixel(0, 0), 0xFF302010u);
  EXPECT_EQ(p.Pixel(1, 0), 0xFFC0B0A0u);
  EXPECT_EQ(p.Pixel(0, 1), 0xFFC0B0A0u);

  // Truncations and nonsense headers are refused and leave the bitmap alone.
  TMemoryStream good;
  b.SaveToStream(good);
  for (const int64_t cut : {int64_t(0), int64_t(10), int64_t(53), good.Size() - 1}) {
    TMemoryStream t;
    t.Write(good.Memory(), cut);
    t.SetPosition(0);
    TKzMBitmap keep = Pattern(2, 2);
    EXPECT_FALSE(keep.LoadFromStream(t)) << cut;
    EXPECT_EQ(keep.Width(), 2);
  }
}

TEST(BitmapMisc, DIB24AndGrayscale) {
  TKzMBitmap b(2, 1);
  b.Data()[0] = 0x11030201;
  b.Data()[1] = 0x22FF0000;
  const std::vector<uint8_t> dib = b.GetDIB24();
  EXPECT_EQ(dib, (std::vector<uint8_t>{1, 2, 3, 0, 0, 0xFF}));
  TKzMBitmap c(2, 1);
  c.SetDIB24(dib.data());
  EXPECT_EQ(c.Data()[0], 0xFF030201u);
  b.Grayscale();
  EXPECT_EQ(b.Data()[0], 0x11020202u);
  EXPECT_EQ(b.Data()[1], 0x22555555u);
}

TEST(BitmapTransforms, GeometricHelpersAgreeWithTheExactOperations) {
  const TKzMBitmap original = Pattern(5, 5);
  TKzMBitmap turned(original);
  RotateBitmap(turned, 90);
  TKzMBitmap quarter(original);
  RotateImg(quarter, TKzRotation::kzr90);
  EXPECT_EQ(kztest::FirstDifference(turned, quarter), "");

  TKzMBitmap same(original);
  CorrectDistortion(same, 0.0);
  EXPECT_EQ(kztest::FirstDifference(same, original), "");
  TransformBitmap(original, same, TKzAffine{});
  EXPECT_EQ(kztest::FirstDifference(same, original), "");
  TKzAffine shift;
  shift.C = 100;  // everything samples outside the source
  TransformBitmap(original, same, shift, 0xFF010203);
  EXPECT_EQ(same.Pixel(2, 2), 0xFF010203u);

  TKzMBitmap copy;
  AssignImageToImage(original, copy);
  EXPECT_EQ(kztest::FirstDifference(copy, original), "");
  TKzMBitmap small(2, 2);
  AssignImageToImage(original, small);
  EXPECT_EQ(small.Width(), 2);
  EXPECT_EQ(small.Pixel(0, 0), original.Pixel(0, 0));

  const std::vector<uint8_t> dib = ConvertBitmapTo24Bit(original);
  EXPECT_EQ(dib.size(), 16u * 5);  // 15 bytes of pixels + 1 fill byte per row
  TKzMBitmap back;
  ConvertBitmapTo32Bit(dib, 5, 5, back);
  EXPECT_EQ(kztest::FirstDifference(back, original), "");
}
