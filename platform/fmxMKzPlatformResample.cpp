// Row-by-row resampling with precomputed taps (see the header).
#include "platform/fmxMKzPlatformResample.h"

#include <immintrin.h>

#include <algorithm>

namespace kz {

namespace {

constexpr int32_t WeightBits = 14;
constexpr uint32_t WeightOne = 1u << WeightBits;
constexpr int VertShift = 7;                                   // fraction bits kept by the vertical pass
constexpr int HorzShift = 2 * WeightBits - VertShift;          // 21
constexpr int32_t VertRound = 1 << (VertShift - 1);
constexpr int32_t HorzRound = 1 << (HorzShift - 1);

// Position of destination index i in 16.16 fixed point, from the first
// source pixel; may be negative for the centre grid near the start.
int64_t SamplePosition(int64_t I, int64_t DestExtent, int64_t SourceExtent, TKzSampleGrid Grid) {
  if (Grid == TKzSampleGrid::kzsgScaledEnds)
    return static_cast<int64_t>(static_cast<__int128>(I) * (SourceExtent + 1) * 65536 / (DestExtent + 1));
  const __int128 num = static_cast<__int128>(2 * I + 1) * SourceExtent - DestExtent;
  const __int128 den = 2 * static_cast<__int128>(DestExtent);
  __int128 q = num * 65536 / den;
  if (num < 0 && q * den != num * 65536) --q;  // floor, not truncation
  return static_cast<int64_t>(q);
}

void VerticalScalar(const uint8_t* Top, const uint8_t* Bottom, int32_t W0, int32_t W1, int16_t* Out, int32_t From,
                    int32_t Count) {
  for (int32_t i = From; i < Count; ++i)
    Out[i] = static_cast<int16_t>((Top[i] * W0 + Bottom[i] * W1 + VertRound) >> VertShift);
}

void HorizontalScalar(const int16_t* V, const int32_t* Left, const uint32_t* Weights, uint32_t* Out, size_t From,
                      size_t Count) {
  for (size_t x = From; x < Count; ++x) {
    const int16_t* p = V + 4 * Left[x];
    const int32_t w0 = static_cast<int32_t>(Weights[4 * x] & 0xFFFF), w1 = static_cast<int32_t>(Weights[4 * x] >> 16);
    uint32_t px = 0;
    for (int c = 0; c < 4; ++c)
      px |= static_cast<uint32_t>((p[c] * w0 + p[4 + c] * w1 + HorzRound) >> HorzShift) << (8 * c);
    Out[x] = px;
  }
}

#if defined(__x86_64__) || defined(__i386__)
#define KZ_RESAMPLE_AVX2 1

// Sixteen channel values at a time; returns how many were done.
__attribute__((target("avx2"))) int32_t VerticalAvx2(const uint8_t* Top, const uint8_t* Bottom, int32_t W0, int32_t W1,
                                                      int16_t* Out, int32_t Count) {
  const __m256i w = _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(W1) << 16) | W0));
  const __m256i round = _mm256_set1_epi32(VertRound);
  int32_t i = 0;
  for (; i + 16 <= Count; i += 16) {
    const __m256i t = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Top + i)));
    const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Bottom + i)));
    // (top, bottom) pairs of values 0-3 | 8-11 and 4-7 | 12-15.
    const __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(t, b), w), round);
    const __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(t, b), w), round);
    const __m256i v = _mm256_packs_epi32(_mm256_srai_epi32(lo, VertShift), _mm256_srai_epi32(hi, VertShift));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), v);
  }
  return i;
}

// Two destination pixels: their left and right source values paired per
// channel, times their weights.
__attribute__((target("avx2"))) inline __m256i TwoPixels(const int16_t* V, const int32_t* Left, const uint32_t* Weights,
                                                          size_t X) {
  // Words l0 l1 l2 l3 r0 r1 r2 r3 -> l0 r0 l1 r1 l2 r2 l3 r3 in each half.
  const __m256i pairUp = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15,
                                          0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
  const __m256i taps = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(V + 4 * Left[X + 1]),
                                           reinterpret_cast<const __m128i*>(V + 4 * Left[X]));
  const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Weights + 4 * X));
  const __m256i sum = _mm256_madd_epi16(_mm256_shuffle_epi8(taps, pairUp), w);
  return _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(HorzRound)), HorzShift);
}

__attribute__((target("avx2"))) size_t HorizontalAvx2(const int16_t* V, const int32_t* Left, const uint32_t* Weights,
                                                       uint32_t* Out, size_t Count) {
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  size_t x = 0;
  for (; x + 8 <= Count; x += 8) {
    const __m256i p01 = TwoPixels(V, Left, Weights, x), p23 = TwoPixels(V, Left, Weights, x + 2);
    const __m256i p45 = TwoPixels(V, Left, Weights, x + 4), p67 = TwoPixels(V, Left, Weights, x + 6);
    // Pixels 0 2 4 6 | 1 3 5 7, then in order.
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(p01, p23), _mm256_packs_epi32(p45, p67));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + x), _mm256_permutevar8x32_epi32(bytes, order));
  }
  return x;
}

bool Avx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

TKzResampler::TKzResampler(const TKzPixelSurface& Source, const TRect& SourceRect, const TRect& DestRect,
                           const TRect& Visible, TKzStretchQuality Quality, TKzSampleGrid Grid)
    : FSource(Source), FVisible(IntersectRect(Visible, DestRect)), FQuality(Quality) {
  const auto taps = [&](int64_t DestStart, int64_t DestExtent, int32_t From, int32_t To, int32_t SourceStart,
                        int32_t SourceExtent, std::vector<TTap>& Taps, std::vector<int32_t>& Nearest) {
    Taps.reserve(static_cast<size_t>(std::max(0, To - From)));
    Nearest.reserve(Taps.capacity());
    for (int32_t d = From; d < To; ++d) {
      const int64_t pos = std::max<int64_t>(0, SamplePosition(d - DestStart, DestExtent, SourceExtent, Grid));
      int64_t i0 = pos >> 16;
      // 16 fraction bits rounded to the weight's 14.
      uint32_t w1 = static_cast<uint32_t>(((pos & 0xFFFF) + (1 << (15 - WeightBits))) >> (16 - WeightBits));
      if (i0 >= SourceExtent - 1) {
        i0 = SourceExtent - 1;
        w1 = 0;
      }
      const int32_t i1 = std::min<int32_t>(static_cast<int32_t>(i0) + 1, SourceExtent - 1);
      const int64_t nearest = std::min<int64_t>((pos + 32768) >> 16, SourceExtent - 1);
      Taps.push_back({SourceStart + static_cast<int32_t>(i0), SourceStart + i1, w1});
      Nearest.push_back(SourceStart + static_cast<int32_t>(nearest));
    }
  };
  if (FVisible.IsEmpty() || SourceRect.IsEmpty()) {
    FVisible = TRect();
    return;
  }
  taps(DestRect.Left, int64_t{DestRect.Right} - DestRect.Left, FVisible.Left, FVisible.Right, SourceRect.Left, SourceRect.Width(), FCols,
       FNearestCols);
  taps(DestRect.Top, int64_t{DestRect.Bottom} - DestRect.Top, FVisible.Top, FVisible.Bottom, SourceRect.Top, SourceRect.Height(), FRows,
       FNearestRows);
  if (FQuality == TKzStretchQuality::kzsqLow) return;
  // Taps ascend with the column.
  FFirstCol = FCols.front().I0;
  FLastCol = FCols.back().I1;
  FColLeft.reserve(FCols.size());
  FColWeights.reserve(FCols.size() * 4);
  for (const TTap& c : FCols) {
    FColLeft.push_back(c.I0 - FFirstCol);
    FColWeights.insert(FColWeights.end(), 4, (c.W1 << 16) | (WeightOne - c.W1));
  }
  FVert.assign(static_cast<size_t>(FLastCol - FFirstCol + 2) * 4, 0);
}

void TKzResampler::Vertical(const TTap& Row) {
  const uint8_t* top = reinterpret_cast<const uint8_t*>(FSource.Row(Row.I0) + FFirstCol);
  const uint8_t* bottom = reinterpret_cast<const uint8_t*>(FSource.Row(Row.I1) + FFirstCol);
  const int32_t w1 = static_cast<int32_t>(Row.W1), w0 = static_cast<int32_t>(WeightOne) - w1;
  const int32_t count = (FLastCol - FFirstCol + 1) * 4;
  int32_t done = 0;
#ifdef KZ_RESAMPLE_AVX2
  if (Avx2()) done = VerticalAvx2(top, bottom, w0, w1, FVert.data(), count);
#endif
  VerticalScalar(top, bottom, w0, w1, FVert.data(), done, count);
}

void TKzResampler::Horizontal(uint32_t* Out) const {
  size_t done = 0;
#ifdef KZ_RESAMPLE_AVX2
  if (Avx2()) done = HorizontalAvx2(FVert.data(), FColLeft.data(), FColWeights.data(), Out, FCols.size());
#endif
  HorizontalScalar(FVert.data(), FColLeft.data(), FColWeights.data(), Out, done, FCols.size());
}

void TKzResampler::Row(int32_t Y, uint32_t* Out) {
  const size_t row = static_cast<size_t>(Y - FVisible.Top);
  const size_t w = FCols.size();
  if (FQuality == TKzStretchQuality::kzsqLow) {
    const uint32_t* src = FSource.Row(FNearestRows[row]);
    const int32_t* cols = FNearestCols.data();
    for (size_t x = 0; x < w; ++x) Out[x] = src[cols[x]];
    return;
  }
  Vertical(FRows[row]);
  Horizontal(Out);
}

void TKzResampler::Run(const TKzPixelSurface& Dest) {
  for (int32_t y = FVisible.Top; y < FVisible.Bottom; ++y) Row(y, Dest.Row(y) + FVisible.Left);
}

}  // namespace kz
