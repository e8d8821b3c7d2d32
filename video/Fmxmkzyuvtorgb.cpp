#include "video/Fmxmkzyuvtorgb.h"

#include <libyuv/planar_functions.h>

#include <vector>

#include "video/fmxMKzYuvRows.h"

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
  const TKzYuvLayout& L = Layouts[static_cast<size_t>(Format)];
  const int32_t cw = ChromaWidth(Width), ch = ChromaHeight(L, Height);
  const int64_t ySize = static_cast<int64_t>(Width) * Height;

  // Interleaved rows are split into planar rows first (exact byte moves,
  // done by libyuv); then every layout is planar rows of Y, U and V.
  const int32_t splitBytes = L.Kind == TKzYuvKind::Packed ? 4 * cw : L.Kind == TKzYuvKind::SemiPlanar ? 2 * cw : 0;
  std::vector<uint8_t> split(static_cast<size_t>(splitBytes));
  uint8_t* splitY = split.data();
  uint8_t* splitU = L.Kind == TKzYuvKind::Packed ? split.data() + 2 * cw : split.data();
  uint8_t* splitV = splitU + cw;
  // For packed layouts with V before U the split's U and V change places.
  const bool packedVU = L.Kind == TKzYuvKind::Packed && L.V < L.U;
  const bool packedYFirst = L.Kind == TKzYuvKind::Packed && L.Y0 == 0;
  const int64_t packedStride = int64_t{4} * cw;

  TKzYuvOffsets offsets(Width);
  const uint8_t *u = nullptr, *v = nullptr;
  int32_t chromaRow = -1;
  for (int32_t y = 0; y < Height; ++y) {
    const int32_t cy = L.Vertical2 ? y / 2 : y;
    const uint8_t* yr = Source + static_cast<int64_t>(y) * Width;
    if (L.Kind == TKzYuvKind::Packed) {
      const uint8_t* row = Source + y * packedStride;
      uint8_t* du = packedVU ? splitV : splitU;
      uint8_t* dv = packedVU ? splitU : splitV;
      if (packedYFirst)
        libyuv::YUY2ToI422(row, 0, splitY, 0, du, 0, dv, 0, 2 * cw, 1);
      else
        libyuv::UYVYToI422(row, 0, splitY, 0, du, 0, dv, 0, 2 * cw, 1);
      yr = splitY;
    }
    if (cy != chromaRow || L.Kind == TKzYuvKind::Packed) {
      chromaRow = cy;
      if (L.Kind == TKzYuvKind::Planar) {
        const uint8_t* first = Source + ySize + static_cast<int64_t>(cy) * cw;
        const uint8_t* second = first + static_cast<int64_t>(cw) * ch;
        u = L.VFirst ? second : first;
        v = L.VFirst ? first : second;
      } else if (L.Kind == TKzYuvKind::SemiPlanar) {
        const uint8_t* pairs = Source + ySize + static_cast<int64_t>(cy) * 2 * cw;
        libyuv::SplitUVPlane(pairs, 0, L.VFirst ? splitV : splitU, 0, L.VFirst ? splitU : splitV, 0, cw, 1);
        u = splitU, v = splitV;
      } else {
        u = splitU, v = splitV;
      }
      KzYuvChromaOffsets(u, v, offsets);
    }
    uint32_t* d = Dest + static_cast<int64_t>(y) * Width;
    KzYuvPixels(yr, offsets, d);
    if (!offsets.Ties.empty()) KzYuvFixTies(yr, u, v, offsets, d);
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
