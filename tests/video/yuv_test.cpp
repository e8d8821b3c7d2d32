// Every YUV converter against the conversion formula evaluated in double
// precision, over all 2^24 (Y, U, V) combinations, plus the sample layouts
// and odd frame sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <vector>

#include "video/Fmxmkzyuvtorgb.h"
#include "video/fmxMKzYuvRows.h"

using namespace kz;

namespace {

uint8_t Clamp(double v) {
  const double r = std::nearbyint(v);
  return static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
}

uint32_t Reference(int Y, int U, int V) {
  const uint8_t r = Clamp(Y + 1.4075 * (V - 128));
  const uint8_t g = Clamp(Y - 0.3455 * (U - 128) - 0.7169 * (V - 128));
  const uint8_t b = Clamp(Y + 1.779 * (U - 128));
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

using TConverter = void (*)(const uint8_t*, uint32_t*, int32_t, int32_t);

struct TFormatCase {
  const char* Name;
  TConverter Convert;
  TKzYuvFormat Format;
};

const TFormatCase Formats[] = {
    {"I420", I420ToRGB, TKzYuvFormat::kzyI420}, {"YV12", YV12ToRGB, TKzYuvFormat::kzyYV12},
    {"YV16", YV16ToRGB, TKzYuvFormat::kzyYV16}, {"NV12", NV12ToRGB, TKzYuvFormat::kzyNV12},
    {"NV21", NV21ToRGB, TKzYuvFormat::kzyNV21}, {"NV16", NV16ToRGB, TKzYuvFormat::kzyNV16},
    {"NV61", NV61ToRGB, TKzYuvFormat::kzyNV61}, {"YUY2", YUY2ToRGB, TKzYuvFormat::kzyYUY2},
    {"UYVY", UYVYToRGB, TKzYuvFormat::kzyUYVY}, {"YVYU", YVYUToRGB, TKzYuvFormat::kzyYVYU},
    {"VYUY", VYUYToRGB, TKzYuvFormat::kzyVYUY},
};

bool Is420(TKzYuvFormat F) {
  return F == TKzYuvFormat::kzyI420 || F == TKzYuvFormat::kzyYV12 || F == TKzYuvFormat::kzyNV12 ||
         F == TKzYuvFormat::kzyNV21;
}

// Builds a frame of Format from per-pixel Y and per-chroma-sample U, V
// given as functions, independently of the converter's own layout code.
template <typename FY, typename FU, typename FV>
std::vector<uint8_t> BuildFrame(TKzYuvFormat F, int W, int H, FY Yf, FU Uf, FV Vf) {
  std::vector<uint8_t> f(KzYuvFrameSize(F, W, H));
  const int cw = (W + 1) / 2, ch = Is420(F) ? (H + 1) / 2 : H;
  auto yAt = [&](int x, int y) -> uint8_t& {
    switch (F) {
      case TKzYuvFormat::kzyYUY2: case TKzYuvFormat::kzyYVYU: return f[y * cw * 4 + (x / 2) * 4 + (x & 1) * 2];
      case TKzYuvFormat::kzyUYVY: case TKzYuvFormat::kzyVYUY: return f[y * cw * 4 + (x / 2) * 4 + 1 + (x & 1) * 2];
      default: return f[y * W + x];
    }
  };
  auto chromaAt = [&](int cx, int cy, bool isU) -> uint8_t& {
    const size_t ys = static_cast<size_t>(W) * H, plane = static_cast<size_t>(cw) * ch;
    switch (F) {
      case TKzYuvFormat::kzyI420: return f[ys + (isU ? 0 : plane) + cy * cw + cx];
      case TKzYuvFormat::kzyYV12: case TKzYuvFormat::kzyYV16: return f[ys + (isU ? plane : 0) + cy * cw + cx];
      case TKzYuvFormat::kzyNV12: case TKzYuvFormat::kzyNV16: return f[ys + cy * cw * 2 + cx * 2 + (isU ? 0 : 1)];
      case TKzYuvFormat::kzyNV21: case TKzYuvFormat::kzyNV61: return f[ys + cy * cw * 2 + cx * 2 + (isU ? 1 : 0)];
      case TKzYuvFormat::kzyYUY2: return f[cy * cw * 4 + cx * 4 + (isU ? 1 : 3)];
      case TKzYuvFormat::kzyUYVY: return f[cy * cw * 4 + cx * 4 + (isU ? 0 : 2)];
      case TKzYuvFormat::kzyYVYU: return f[cy * cw * 4 + cx * 4 + (isU ? 3 : 1)];
      case TKzYuvFormat::kzyVYUY: default: return f[cy * cw * 4 + cx * 4 + (isU ? 2 : 0)];
    }
  };
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) yAt(x, y) = Yf(x, y);
  for (int cy = 0; cy < ch; ++cy)
    for (int cx = 0; cx < cw; ++cx) {
      chromaAt(cx, cy, true) = Uf(cx, cy);
      chromaAt(cx, cy, false) = Vf(cx, cy);
    }
  return f;
}

}  // namespace

// Restores the vector path when a test ends.
struct TSimdScope {
  explicit TSimdScope(bool On) { KzYuvUseSimd(On); }
  ~TSimdScope() { KzYuvUseSimd(true); }
};

TEST(Yuv, EveryConverterMatchesTheFormulaForAllYUVCombinations) {
  // 4096 x 4096 pixels; chroma sample i (row-major over the chroma plane)
  // carries (U, V) = (i / 256 % 256, i % 256), and the pixels it covers
  // carry the Y values that complete every combination exactly once.
  // Every layout through the vector path (where the CPU has one), then the
  // one-by-one path, which the layouts share, once.
  constexpr int W = 4096, H = 4096;
  std::vector<uint32_t> ref(size_t(1) << 24);
  for (int y = 0; y < 256; ++y)
    for (int u = 0; u < 256; ++u)
      for (int v = 0; v < 256; ++v) ref[(y << 16) | (u << 8) | v] = Reference(y, u, v);
  std::vector<uint32_t> out(static_cast<size_t>(W) * H);
  for (size_t run = 0; run <= std::size(Formats); ++run) {
    const TFormatCase& c = Formats[run % std::size(Formats)];
    TSimdScope simd(run < std::size(Formats));
    const bool v2 = Is420(c.Format);
    const int cw = W / 2;
    const int perSample = v2 ? 4 : 2;  // pixels per chroma sample
    auto chromaIndex = [&](int x, int y) { return static_cast<int64_t>(v2 ? y / 2 : y) * cw + x / 2; };
    auto yOf = [&](int x, int y) {
      const int64_t i = chromaIndex(x, y);
      const int within = v2 ? (y & 1) * 2 + (x & 1) : (x & 1);
      return static_cast<uint8_t>((i >> 16) * perSample + within);
    };
    const auto frame = BuildFrame(
        c.Format, W, H, yOf, [&](int cx, int cy) { return static_cast<uint8_t>((int64_t(cy) * cw + cx) >> 8); },
        [&](int cx, int cy) { return static_cast<uint8_t>(int64_t(cy) * cw + cx); });
    c.Convert(frame.data(), out.data(), W, H);
    int64_t mismatches = 0;
    std::vector<uint8_t> seen(size_t(1) << 24, 0);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const int64_t i = chromaIndex(x, y);
        const int key = (yOf(x, y) << 16) | static_cast<int>(i & 0xFFFF);
        seen[key] = 1;
        if (out[static_cast<size_t>(y) * W + x] != ref[key] && mismatches++ < 5)
          ADD_FAILURE() << c.Name << " Y=" << (key >> 16) << " U=" << ((key >> 8) & 255) << " V=" << (key & 255)
                        << std::hex << " got " << out[static_cast<size_t>(y) * W + x] << " want " << ref[key];
      }
    EXPECT_EQ(mismatches, 0) << c.Name;
    int64_t covered = 0;
    for (uint8_t s : seen) covered += s;
    EXPECT_EQ(covered, int64_t(1) << 24) << c.Name << " test frame must cover every combination";
  }
}

TEST(Yuv, KnownValuesAndOddSizes) {
  struct Case {
    int Y, U, V;
    uint32_t Pixel;
  } known[] = {
      {255, 128, 255, 0xFFFFA4FF},  // red clamped at 255
      {0, 0, 128, 0xFF002C00},      // blue clamped at 0
  };
  // Solid 2 x 2 frames through the format dispatcher of every layout (U and V
  // differ, so a swapped or misrouted layout shows).
  for (const TFormatCase& c : Formats)
    for (const Case& k : known) {
      const auto frame = BuildFrame(
          c.Format, 2, 2, [&](int, int) { return uint8_t(k.Y); }, [&](int, int) { return uint8_t(k.U); },
          [&](int, int) { return uint8_t(k.V); });
      uint32_t out[4] = {};
      KzYuvToRGB(c.Format, frame.data(), out, 2, 2);
      for (uint32_t p : out) EXPECT_EQ(p, k.Pixel) << c.Name << " " << k.Y << " " << k.U << " " << k.V;
    }

  // 5 x 3 and 67 x 3: chroma planes round up; the last column and row use
  // the last chroma sample; the vector path hands over to the one-by-one
  // path inside a row; nothing is read past the frame (ASan watches).
  const auto yf = [](int x, int y) { return static_cast<uint8_t>(40 * y + 7 * x); };
  const auto uf = [](int cx, int cy) { return static_cast<uint8_t>(60 + 50 * cx + 20 * cy); };
  const auto vf = [](int cx, int cy) { return static_cast<uint8_t>(200 - 45 * cx - 10 * cy); };
  for (const int W : {5, 67}) {
    for (const TFormatCase& c : Formats) {
      const int H = 3;
      const auto frame = BuildFrame(c.Format, W, H, yf, uf, vf);
      std::vector<uint8_t> exact(frame);  // heap block of exactly the frame size
      std::vector<uint32_t> out(W * H, 0);
      c.Convert(exact.data(), out.data(), W, H);
      const bool v2 = Is420(c.Format);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const int cx = x / 2, cy = v2 ? y / 2 : y;
          EXPECT_EQ(out[y * W + x], Reference(yf(x, y), uf(cx, cy), vf(cx, cy))) << c.Name << " at " << x << "," << y;
        }
    }
  }
}
