#include "video/fmxMKzSmooth3x3.h"

#include <algorithm>
#include <vector>

namespace kz {

void KzSmooth3x3(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest) {
  const int32_t w = Source.Width(), h = Source.Height();
  Dest.SetSize(w, h);
  if (w == 0 || h == 0) return;
  // Horizontal sums of three, per row, then three rows at a time.
  std::vector<uint16_t> sums(static_cast<size_t>(w) * h * 3);
  for (int32_t y = 0; y < h; ++y) {
    const auto* s = reinterpret_cast<const uint8_t*>(Source.ScanLine(y));
    uint16_t* o = sums.data() + static_cast<size_t>(y) * w * 3;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t l = std::max(x - 1, 0) * 4, c = x * 4, r = std::min(x + 1, w - 1) * 4;
      for (int k = 0; k < 3; ++k) o[x * 3 + k] = static_cast<uint16_t>(s[l + k] + s[c + k] + s[r + k]);
    }
  }
  for (int32_t y = 0; y < h; ++y) {
    const uint16_t* a = sums.data() + static_cast<size_t>(std::max(y - 1, 0)) * w * 3;
    const uint16_t* b = sums.data() + static_cast<size_t>(y) * w * 3;
    const uint16_t* c = sums.data() + static_cast<size_t>(std::min(y + 1, h - 1)) * w * 3;
    const auto* s = reinterpret_cast<const uint8_t*>(Source.ScanLine(y));
    auto* d = reinterpret_cast<uint8_t*>(Dest.ScanLine(y));
    for (int32_t x = 0; x < w; ++x) {
      for (int k = 0; k < 3; ++k) d[x * 4 + k] = static_cast<uint8_t>((a[x * 3 + k] + b[x * 3 + k] + c[x * 3 + k] + 4) / 9);
      d[x * 4 + 3] = s[x * 4 + 3];
    }
  }
}

}  // namespace kz
