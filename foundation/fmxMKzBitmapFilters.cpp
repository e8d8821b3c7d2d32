#include "foundation/fmxMKzBitmapFilters.h"

#include <algorithm>
#include <vector>

namespace kz {

namespace {

constexpr uint32_t ColourMask = 0x00FFFFFFu;
constexpr int32_t Tile = 32;  // square tiles keep both the read and the write side in cache

// Quarter turn by 90 (Clockwise) or 270 degrees into a new pixel array.
void RotateQuarter(TKzMCustomBitmap& Bitmap, bool Clockwise) {
  const int32_t w = Bitmap.Width(), h = Bitmap.Height();
  if (Bitmap.IsEmpty()) return;
  const uint32_t* src = Bitmap.Data();
  thread_local std::vector<uint32_t> out;  // reused: a fresh frame-sized block per call costs page faults
  out.resize(static_cast<size_t>(w) * h);
  // New picture: h wide, w high.
  for (int32_t ty = 0; ty < w; ty += Tile) {
    for (int32_t tx = 0; tx < h; tx += Tile) {
      const int32_t yEnd = std::min(ty + Tile, w), xEnd = std::min(tx + Tile, h);
      for (int32_t y = ty; y < yEnd; ++y) {
        uint32_t* d = out.data() + static_cast<int64_t>(y) * h;
        if (Clockwise) {
          for (int32_t x = tx; x < xEnd; ++x) d[x] = src[static_cast<int64_t>(h - 1 - x) * w + y];
        } else {
          for (int32_t x = tx; x < xEnd; ++x) d[x] = src[static_cast<int64_t>(x) * w + (w - 1 - y)];
        }
      }
    }
  }
  // Alpha stays where it was in memory.
  const size_t n = out.size();
  for (size_t i = 0; i < n; ++i) out[i] = (out[i] & ColourMask) | (src[i] & ~ColourMask);
  const int32_t sourceWidth = Bitmap.SourceWidth(), sourceHeight = Bitmap.SourceHeight();
  Bitmap.SetSize(h, w);
  Bitmap.SetSourceSize(sourceHeight, sourceWidth);
  std::copy(out.begin(), out.end(), Bitmap.Data());
  Bitmap.Modified = Bitmap.ModifiedData = true;
}

}  // namespace

void Rotate90A(TKzMCustomBitmap& Bitmap) { RotateQuarter(Bitmap, true); }
void Rotate270A(TKzMCustomBitmap& Bitmap) { RotateQuarter(Bitmap, false); }

void Rotate180A(TKzMCustomBitmap& Bitmap) {
  uint32_t* p = Bitmap.Data();
  const int64_t n = Bitmap.GetLength();
  for (int64_t i = 0, j = n - 1; i < j; ++i, --j) {
    const uint32_t a = p[i], b = p[j];
    p[i] = (a & ~ColourMask) | (b & ColourMask);
    p[j] = (b & ~ColourMask) | (a & ColourMask);
  }
  Bitmap.Modified = Bitmap.ModifiedData = true;
}

void RotateImg(TKzMCustomBitmap& Bitmap, TKzRotation Rotation) {
  switch (Rotation) {
    case TKzRotation::kzr90: Rotate90A(Bitmap); break;
    case TKzRotation::kzr180: Rotate180A(Bitmap); break;
    case TKzRotation::kzr270: Rotate270A(Bitmap); break;
    case TKzRotation::kzrNone: break;
  }
}

std::array<uint8_t, 256> KzBrightnessContrastTable(int32_t Brightness, int32_t Contrast) {
  const int32_t b = std::clamp(Brightness, 0, 255) - 128;
  const int32_t c = std::clamp(Contrast, 0, 255) - 128;
  const int32_t offset = b * 255 / 128;  // C++ division truncates toward zero
  std::array<uint8_t, 256> table{};
  for (int32_t i = 0; i < 256; ++i) {
    int32_t t;
    if (c >= 128) {
      t = i < 128 ? 0 : 255;
    } else if (c <= 0) {
      t = (i - 128) * (c + 128) / 128 + 128;
    } else {
      t = std::clamp((i - 128) * 128 / (128 - c) + 128, 0, 255);
    }
    table[static_cast<size_t>(i)] = static_cast<uint8_t>(std::clamp(t + offset, 0, 255));
  }
  return table;
}

void BrightnessContrast(TKzMCustomBitmap& Bitmap, int32_t Brightness, int32_t Contrast) {
  const std::array<uint8_t, 256> t = KzBrightnessContrastTable(Brightness, Contrast);
  auto* p = reinterpret_cast<uint8_t*>(Bitmap.Data());
  const int64_t n = Bitmap.GetLength();
  for (int64_t i = 0; i < n; ++i, p += 4) {
    p[0] = t[p[0]];
    p[1] = t[p[1]];
    p[2] = t[p[2]];
  }
  Bitmap.Modified = Bitmap.ModifiedData = true;
}

}  // namespace kz
