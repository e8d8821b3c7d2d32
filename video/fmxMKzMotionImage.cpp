#include "video/fmxMKzMotionImage.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kz {

void KzMMotionWorkingSize(int32_t Width, int32_t Height, int32_t& WorkWidth, int32_t& WorkHeight) {
  WorkWidth = std::max(Width, 0);
  WorkHeight = std::max(Height, 0);
  const int32_t longer = std::max(WorkWidth, WorkHeight);
  if (longer <= KzMotionMaxWorkingSide) return;
  int32_t reduced = longer;
  while (reduced > KzMotionMaxWorkingSide) reduced /= 2;
  const auto follow = [&](int32_t Side) {
    return std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(Side) * reduced / longer));
  };
  if (WorkWidth >= WorkHeight) {
    WorkHeight = follow(WorkHeight);
    WorkWidth = reduced;
  } else {
    WorkWidth = follow(WorkWidth);
    WorkHeight = reduced;
  }
}

namespace {

// Column sums are 16-bit: at most this many rows fit before they could overflow.
constexpr int32_t kMaxRowsPerPass = 65535 / 255;

// Sums[i] (+)= Row[i] for Count bytes.
void AddRowBytes(uint16_t* Sums, const uint8_t* Row, int64_t Count, bool First) {
  int64_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= Count; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Row + i));
    __m128i lo = _mm_unpacklo_epi8(v, zero);
    __m128i hi = _mm_unpackhi_epi8(v, zero);
    if (!First) {
      lo = _mm_add_epi16(lo, _mm_loadu_si128(reinterpret_cast<const __m128i*>(Sums + i)));
      hi = _mm_add_epi16(hi, _mm_loadu_si128(reinterpret_cast<const __m128i*>(Sums + i + 8)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Sums + i), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Sums + i + 8), hi);
  }
#endif
  if (First) {
    for (; i < Count; ++i) Sums[i] = Row[i];
  } else {
    for (; i < Count; ++i) Sums[i] = static_cast<uint16_t>(Sums[i] + Row[i]);
  }
}

}  // namespace

void KzMReduceBitmap(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest, int32_t Width, int32_t Height) {
  const int32_t sw = Source.Width(), sh = Source.Height();
  if (Source.IsEmpty() || Width <= 0 || Height <= 0) {
    Dest.SetSize(0, 0);
    return;
  }
  Dest.SetSize(Width, Height);
  if (Width == sw && Height == sh) {
    memcpy(Dest.Data(), Source.Data(), static_cast<size_t>(Source.GetSize()));
    return;
  }
  // Block edges: output column x covers source columns [xs[x], xe[x]).
  std::vector<int32_t> xs(Width), xe(Width);
  std::vector<float> invW(Width);
  for (int32_t x = 0; x < Width; ++x) {
    xs[x] = static_cast<int32_t>(static_cast<int64_t>(x) * sw / Width);
    xe[x] = std::max(xs[x] + 1, static_cast<int32_t>(static_cast<int64_t>(x + 1) * sw / Width));
    invW[x] = 1.0f / static_cast<float>(xe[x] - xs[x]);
  }
  const int64_t rowBytes = static_cast<int64_t>(sw) * 4;
  std::vector<uint16_t> columnSums(static_cast<size_t>(rowBytes));
  std::vector<uint32_t> blockSums(static_cast<size_t>(Width) * 4);

  for (int32_t y = 0; y < Height; ++y) {
    const int32_t y0 = static_cast<int32_t>(static_cast<int64_t>(y) * sh / Height);
    const int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(static_cast<int64_t>(y + 1) * sh / Height));
    std::fill(blockSums.begin(), blockSums.end(), 0u);
    for (int32_t from = y0; from < y1; from += kMaxRowsPerPass) {
      const int32_t to = std::min(y1, from + kMaxRowsPerPass);
      for (int32_t r = from; r < to; ++r)
        AddRowBytes(columnSums.data(), reinterpret_cast<const uint8_t*>(Source.ScanLine(r)), rowBytes, r == from);
      for (int32_t x = 0; x < Width; ++x) {
        uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (const uint16_t* p = columnSums.data() + xs[x] * 4, *e = columnSums.data() + xe[x] * 4; p < e; p += 4) {
          s0 += p[0];
          s1 += p[1];
          s2 += p[2];
          s3 += p[3];
        }
        uint32_t* b = blockSums.data() + x * 4;
        b[0] += s0;
        b[1] += s1;
        b[2] += s2;
        b[3] += s3;
      }
    }
    const float invH = 1.0f / static_cast<float>(y1 - y0);
    uint8_t* out = reinterpret_cast<uint8_t*>(Dest.ScanLine(y));
    for (int32_t x = 0; x < Width; ++x) {
      const float inv = invW[x] * invH;
      for (int c = 0; c < 4; ++c)
        out[x * 4 + c] = static_cast<uint8_t>(static_cast<float>(blockSums[x * 4 + c]) * inv + 0.5f);
    }
  }
}

}  // namespace kz
