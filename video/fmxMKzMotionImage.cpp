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

namespace {

// ReducePart for a source exactly twice Dest's size: each output byte is
// (a + b + c + d + 2) / 4 of its 2 x 2 block, the value the general path gives.
void ReduceHalfPart(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest, int32_t X0, int32_t Y0, int32_t X1,
                    int32_t Y1) {
  for (int32_t y = Y0; y < Y1; ++y) {
    const uint8_t* r0 = reinterpret_cast<const uint8_t*>(Source.ScanLine(2 * y) + 2 * X0);
    const uint8_t* r1 = reinterpret_cast<const uint8_t*>(Source.ScanLine(2 * y + 1) + 2 * X0);
    uint8_t* out = reinterpret_cast<uint8_t*>(Dest.ScanLine(y) + X0);
    int32_t x = X0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    for (; x + 2 <= X1; x += 2, r0 += 16, r1 += 16, out += 8) {  // 4 source pixels -> 2
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1));
      const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));  // pixels 0, 1
      const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));  // pixels 2, 3
      __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(lo, hi), _mm_unpackhi_epi64(lo, hi));
      sum = _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(sum, zero));
    }
#endif
    for (; x < X1; ++x, r0 += 8, r1 += 8, out += 4)
      for (int c = 0; c < 4; ++c) out[c] = static_cast<uint8_t>((r0[c] + r0[c + 4] + r1[c] + r1[c + 4] + 2) >> 2);
  }
}

// Output pixels [X0, X1) x [Y0, Y1) of the reduction of Source into Dest
// (already Dest's size): each the rounded mean of its source block.
void ReducePart(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest, int32_t X0, int32_t Y0, int32_t X1,
                int32_t Y1) {
  const int32_t sw = Source.Width(), sh = Source.Height(), Width = Dest.Width(), Height = Dest.Height();
  if (sw == 2 * Width && sh == 2 * Height) return ReduceHalfPart(Source, Dest, X0, Y0, X1, Y1);
  // Block edges: output column x covers source columns [xs[x], xe[x]).
  const int32_t n = X1 - X0;
  std::vector<int32_t> xs(n), xe(n);
  std::vector<float> invW(n);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t x = X0 + i;
    xs[i] = static_cast<int32_t>(static_cast<int64_t>(x) * sw / Width);
    xe[i] = std::max(xs[i] + 1, static_cast<int32_t>(static_cast<int64_t>(x + 1) * sw / Width));
    invW[i] = 1.0f / static_cast<float>(xe[i] - xs[i]);
  }
  const int32_t c0 = xs[0];  // the source columns summed: [c0, xe[n - 1])
  const int64_t rowBytes = static_cast<int64_t>(xe[n - 1] - c0) * 4;
  std::vector<uint16_t> columnSums(static_cast<size_t>(rowBytes));
  std::vector<uint32_t> blockSums(static_cast<size_t>(n) * 4);

  for (int32_t y = Y0; y < Y1; ++y) {
    const int32_t y0 = static_cast<int32_t>(static_cast<int64_t>(y) * sh / Height);
    const int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(static_cast<int64_t>(y + 1) * sh / Height));
    std::fill(blockSums.begin(), blockSums.end(), 0u);
    for (int32_t from = y0; from < y1; from += kMaxRowsPerPass) {
      const int32_t to = std::min(y1, from + kMaxRowsPerPass);
      for (int32_t r = from; r < to; ++r)
        AddRowBytes(columnSums.data(), reinterpret_cast<const uint8_t*>(Source.ScanLine(r) + c0), rowBytes, r == from);
      for (int32_t i = 0; i < n; ++i) {
        uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (const uint16_t *p = columnSums.data() + (xs[i] - c0) * 4, *e = columnSums.data() + (xe[i] - c0) * 4;
             p < e; p += 4) {
          s0 += p[0];
          s1 += p[1];
          s2 += p[2];
          s3 += p[3];
        }
        uint32_t* b = blockSums.data() + i * 4;
        b[0] += s0;
        b[1] += s1;
        b[2] += s2;
        b[3] += s3;
      }
    }
    const float invH = 1.0f / static_cast<float>(y1 - y0);
    uint8_t* out = reinterpret_cast<uint8_t*>(Dest.ScanLine(y) + X0);
    for (int32_t i = 0; i < n; ++i) {
      const float inv = invW[i] * invH;
      for (int c = 0; c < 4; ++c)
        out[i * 4 + c] = static_cast<uint8_t>(static_cast<float>(blockSums[i * 4 + c]) * inv + 0.5f);
    }
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
  ReducePart(Source, Dest, 0, 0, Width, Height);
}

void KzMReduceBitmapArea(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest, const TRect& Area) {
  const int32_t sw = Source.Width(), sh = Source.Height(), w = Dest.Width(), h = Dest.Height();
  if (Source.IsEmpty() || Dest.IsEmpty()) return;
  // The output pixels whose blocks reach into Area.
  const int32_t x0 = std::clamp(static_cast<int32_t>(static_cast<int64_t>(Area.Left) * w / sw) - 1, 0, w);
  const int32_t y0 = std::clamp(static_cast<int32_t>(static_cast<int64_t>(Area.Top) * h / sh) - 1, 0, h);
  const int32_t x1 = std::clamp(static_cast<int32_t>((static_cast<int64_t>(Area.Right) * w + sw - 1) / sw) + 1, 0, w);
  const int32_t y1 = std::clamp(static_cast<int32_t>((static_cast<int64_t>(Area.Bottom) * h + sh - 1) / sh) + 1, 0, h);
  if (x0 >= x1 || y0 >= y1) return;
  if (w == sw && h == sh) {
    Dest.CopyRect(TRect(x0, y0, x1, y1), Source, TRect(x0, y0, x1, y1));
    return;
  }
  ReducePart(Source, Dest, x0, y0, x1, y1);
}

}  // namespace kz
