#include "video/Fmxmkzyuvtorgb.h"

#include <cmath>
#include <vector>

namespace kz {

namespace {

enum class TKzYuvKind : uint8_t { Planar, SemiPlanar, Packed };

// Where the samples of one pair of pixels live.
struct TKzYuvLayout {
  TKzYuvKind Kind;
  bool VFirst;      // planar and semi-planar: V plane / V byte first
  bool Vertical2;   // 4:2:0: one chroma row per two pixel rows
  uint8_t Y0, U, Y1, V;  // packed: byte offsets inside the 4-byte group
};

// Indexed by TKzYuvFormat.
constexpr TKzYuvLayout Layouts[] = {
    {TKzYuvKind::Planar, false, true, 0, 0, 0, 0},      // I420
    {TKzYuvKind::Planar, true, true, 0, 0, 0, 0},       // YV12
    {TKzYuvKind::Planar, true, false, 0, 0, 0, 0},      // YV16
    {TKzYuvKind::SemiPlanar, false, true, 0, 0, 0, 0},  // NV12
    {TKzYuvKind::SemiPlanar, true, true, 0, 0, 0, 0},   // NV21
    {TKzYuvKind::SemiPlanar, false, false, 0, 0, 0, 0}, // NV16
    {TKzYuvKind::SemiPlanar, true, false, 0, 0, 0, 0},  // NV61
    {TKzYuvKind::Packed, false, false, 0, 1, 2, 3},     // YUY2
    {TKzYuvKind::Packed, false, false, 1, 0, 3, 2},     // UYVY
    {TKzYuvKind::Packed, false, false, 0, 3, 2, 1},     // YVYU
    {TKzYuvKind::Packed, false, false, 1, 2, 3, 0},     // VYUY
};

// The formula is separable except for rounding: Y is an integer, so
// round(Y + x) = Y + round(x) whenever x is not exactly halfway. For R and B
// no chroma value gives a half; for G eight (U, V) pairs do, and for those
// the green value is kept per Y, computed with the formula itself.
struct TKzYuvTables {
  int16_t ROff[256];
  int16_t BOff[256];
  int16_t GOff[65536];
  uint8_t GTie[65536];             // 0, or 1 + index into GTieValue
  std::vector<uint8_t> GTieValue;  // 256 greens per tie pair
  uint8_t Clamp[1024];             // index value + 384

  TKzYuvTables() {
    for (int c = 0; c < 256; ++c) {
      ROff[c] = static_cast<int16_t>(std::nearbyint(1.4075 * (c - 128)));
      BOff[c] = static_cast<int16_t>(std::nearbyint(1.779 * (c - 128)));
    }
    for (int u = 0; u < 256; ++u) {
      for (int v = 0; v < 256; ++v) {
        const int i = (u << 8) | v;
        GOff[i] = static_cast<int16_t>(std::nearbyint(-0.3455 * (u - 128) - 0.7169 * (v - 128)));
        GTie[i] = 0;
        // Exactly halfway: 3455 du + 7169 dv is an odd multiple of 5000.
        const int64_t s = 3455 * (u - 128) + 7169 * (v - 128);
        if (s % 10000 == 5000 || s % 10000 == -5000) {
          GTie[i] = static_cast<uint8_t>(1 + GTieValue.size() / 256);
          for (int y = 0; y < 256; ++y) {
            const double g = std::nearbyint(y - 0.3455 * (u - 128) - 0.7169 * (v - 128));
            GTieValue.push_back(static_cast<uint8_t>(g < 0 ? 0 : g > 255 ? 255 : g));
          }
        }
      }
    }
    for (int i = 0; i < 1024; ++i) Clamp[i] = static_cast<uint8_t>(i < 384 ? 0 : i > 384 + 255 ? 255 : i - 384);
  }
};

const TKzYuvTables& Tables() {
  static const TKzYuvTables t;
  return t;
}

inline int32_t ChromaWidth(int32_t Width) { return (Width + 1) / 2; }
inline int32_t ChromaHeight(const TKzYuvLayout& L, int32_t Height) { return L.Vertical2 ? (Height + 1) / 2 : Height; }

}  // namespace

size_t KzYuvFrameSize(TKzYuvFormat Format, int32_t Width, int32_t Height) {
  if (Width <= 0 || Height <= 0) return 0;
  const TKzYuvLayout& L = Layouts[static_cast<size_t>(Format)];
  const size_t cw = static_cast<size_t>(ChromaWidth(Width)), ch = static_cast<size_t>(ChromaHeight(L, Height));
  if (L.Kind == TKzYuvKind::Packed) return cw * 4 * static_cast<size_t>(Height);
  return static_cast<size_t>(Width) * static_cast<size_t>(Height) + 2 * cw * ch;
}

void KzYuvToRGB(TKzYuvFormat Format, const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height) {
  if (Source == nullptr || Dest == nullptr || Width <= 0 || Height <= 0) return;
  const TKzYuvTables& T = Tables();
  const TKzYuvLayout& L = Layouts[static_cast<size_t>(Format)];
  const int64_t cw = ChromaWidth(Width), ch = ChromaHeight(L, Height);
  const int64_t ySize = static_cast<int64_t>(Width) * Height;

  // Each layout reduces to: rows of Y with a step per pixel pair, and rows
  // of U and V with a step per pair.
  const uint8_t *yBase = Source, *uBase, *vBase;
  int64_t yStride, yStep, cStride, cStep;
  int y0Off = 0, y1Off = 1;
  switch (L.Kind) {
    case TKzYuvKind::Planar: {
      const uint8_t* first = Source + ySize;
      const uint8_t* second = first + cw * ch;
      uBase = L.VFirst ? second : first;
      vBase = L.VFirst ? first : second;
      yStride = Width, yStep = 2, cStride = cw, cStep = 1;
      break;
    }
    case TKzYuvKind::SemiPlanar:
      uBase = Source + ySize + (L.VFirst ? 1 : 0);
      vBase = Source + ySize + (L.VFirst ? 0 : 1);
      yStride = Width, yStep = 2, cStride = 2 * cw, cStep = 2;
      break;
    case TKzYuvKind::Packed:
    default:
      uBase = Source + L.U;
      vBase = Source + L.V;
      yStride = 4 * cw, yStep = 4, cStride = 4 * cw, cStep = 4;
      y0Off = L.Y0, y1Off = L.Y1;
      break;
  }

  const uint8_t* clamp = T.Clamp + 384;
  const int32_t pairs = Width / 2;
  for (int32_t y = 0; y < Height; ++y) {
    const int64_t cy = L.Vertical2 ? y / 2 : y;
    const uint8_t* yr = yBase + y * yStride;
    const uint8_t* ur = uBase + cy * cStride;
    const uint8_t* vr = vBase + cy * cStride;
    uint32_t* d = Dest + static_cast<int64_t>(y) * Width;
    auto pixel = [&](int yv, int r, int g, int b, const uint8_t* tie) -> uint32_t {
      const uint32_t G = tie != nullptr ? tie[yv] : clamp[yv + g];
      return 0xFF000000u | (static_cast<uint32_t>(clamp[yv + r]) << 16) | (G << 8) | clamp[yv + b];
    };
    for (int32_t k = 0; k <= pairs; ++k) {
      const int32_t x = 2 * k;
      if (x >= Width) break;
      const int u = ur[k * cStep], v = vr[k * cStep];
      const int idx = (u << 8) | v;
      const int r = T.ROff[v], g = T.GOff[idx], b = T.BOff[u];
      const uint8_t* tie = T.GTie[idx] ? T.GTieValue.data() + (T.GTie[idx] - 1) * 256 : nullptr;
      const uint8_t* yp = yr + k * yStep;
      d[x] = pixel(yp[y0Off], r, g, b, tie);
      if (x + 1 < Width) d[x + 1] = pixel(yp[y1Off], r, g, b, tie);
    }
  }
}

void I420ToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyI420, S, D, W, H); }
void YV12ToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyYV12, S, D, W, H); }
void YV16ToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyYV16, S, D, W, H); }
void NV12ToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyNV12, S, D, W, H); }
void NV21ToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyNV21, S, D, W, H); }
void NV16ToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyNV16, S, D, W, H); }
void NV61ToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyNV61, S, D, W, H); }
void YUY2ToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyYUY2, S, D, W, H); }
void UYVYToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyUYVY, S, D, W, H); }
void YVYUToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyYVYU, S, D, W, H); }
void VYUYToRGB(const uint8_t* S, uint32_t* D, int32_t W, int32_t H) { KzYuvToRGB(TKzYuvFormat::kzyVYUY, S, D, W, H); }

}  // namespace kz
