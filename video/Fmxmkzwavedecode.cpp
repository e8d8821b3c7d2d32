// The decoder's fused passes: the coarser levels back a 2 x 2 block at a
// time from the quantised detail, the finest level straight into pixels.
#include <algorithm>
#include <cstring>

#include "video/Fmxmkzwavefuncs.h"
#include "video/Fmxmkzwaveparts.h"

namespace kz {

using namespace hwl;

namespace {

// The inverse of one level, a 2 x 2 block of the result at a time, its
// detail dequantised as it is read: the column step, then the row step, with
// InverseLevel's arithmetic. At (I, J) of the level's quarters: L from the
// coarser levels' result, the details from Quant (rows Width long) times M.
struct TBlockBack {
  double X00, X01, X10, X11;
};
KZ_HWL_INLINE TBlockBack BlockBack(double L, const int32_t* Quant, double M, int32_t I, int32_t J, int32_t Hw,
                                   int32_t Hh, int32_t Width) {
  const int64_t top = static_cast<int64_t>(I) * Width, bottom = static_cast<int64_t>(Hh + I) * Width;
  const double h = Quant[bottom + J] * M, l2 = Quant[top + Hw + J] * M, h2 = Quant[bottom + Hw + J] * M;
  const double t0 = (L + h) * kS, t1 = (L - h) * kS, t0h = (l2 + h2) * kS, t1h = (l2 - h2) * kS;
  return {(t0 + t0h) * kS, (t0 - t0h) * kS, (t1 + t1h) * kS, (t1 - t1h) * kS};
}

// One coarser level into Dst's Wc x Hc region from Low's quarter (both rows
// Width long, distinct). An odd last column or row is 0, as InverseLevel
// leaves it.
KZ_HWL_INLINE void LevelBack(const double* Low, const int32_t* Quant, double M, double* Dst, int32_t Wc, int32_t Hc,
                             int32_t Width) {
  const int32_t hw = Wc / 2, hh = Hc / 2;
  for (int32_t i = 0; i < hh; ++i) {
    const double* low = Low + static_cast<int64_t>(i) * Width;
    double* x0 = Dst + static_cast<int64_t>(2 * i) * Width;
    double* x1 = x0 + Width;
    KZ_HWL_INDEPENDENT
    for (int32_t j = 0; j < hw; ++j) {
      const TBlockBack b = BlockBack(low[j], Quant, M, i, j, hw, hh, Width);
      x0[2 * j] = b.X00;
      x0[2 * j + 1] = b.X01;
      x1[2 * j] = b.X10;
      x1[2 * j + 1] = b.X11;
    }
    if (Wc & 1) x0[Wc - 1] = x1[Wc - 1] = 0;
  }
  if (Hc & 1) std::fill_n(Dst + static_cast<int64_t>(Hc - 1) * Width, Wc, 0.0);
}

// The coarser levels of one plane: the low-pass band dequantised, then
// levels Depth .. 1 back, taking turns between the top and the bottom half
// of Plane. Returns where the finest level's low quarter is (rows Width long).
KZ_HWL_INLINE const double* CoarserLevelsBack(const int32_t* Quant, const double* Factors, double* Plane,
                                              int32_t Width, int32_t Height, int32_t Depth) {
  double* halves[2] = {Plane, Plane + static_cast<int64_t>(Height / 2) * Width};
  DequantiseBands(Quant, halves[0], Width, Height, Depth, Factors, Depth + 1);
  int32_t at = 0;
  for (int32_t l = Depth; l >= 1; --l, at ^= 1)
    LevelBack(halves[at], Quant, Multiplier(Factors[l]), halves[at ^ 1], Width >> l, Height >> l, Width);
  return halves[at];
}

#if KZ_HWL_WIDE
#define KZ_HWL_AVX2 [[gnu::always_inline]] inline __attribute__((target("avx2")))

// The clamped byte of each lane in its low bits (lambdas do not take the
// target of the function they are in, so these helpers are functions).
KZ_HWL_AVX2 __m256i ByteAvx2(__m256d X) {
  const __m256d clamped = _mm256_min_pd(_mm256_max_pd(X, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
  return _mm256_castpd_si256(_mm256_add_pd(clamped, _mm256_set1_pd(6755399441055744.0)));
}

// Dequantised: four quantised values times M.
KZ_HWL_AVX2 __m256d DequantAvx2(const int32_t* Q, __m256d M) {
  return _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Q))), M);
}

// Eight pixels: Even and Odd interleaved.
KZ_HWL_AVX2 void StorePairsAvx2(uint32_t* At, __m128i Even, __m128i Odd) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(At), _mm_unpacklo_epi32(Even, Odd));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(At + 4), _mm_unpackhi_epi32(Even, Odd));
}

// Four pixels from four Y, U, V each, as KzHWLDecodeToPixels' colour step
// and KzHWLClampByte make them: the same operations in the same order, the
// clamp as maxpd and minpd (v > 0 ? v : 0, then v < 255 ? v : 255, exactly),
// the byte read from the low bits of the biased sum.
KZ_HWL_AVX2 __m128i PixelsAvx2(__m256d Y, __m256d U, __m256d V) {
  const __m256d red = _mm256_add_pd(Y, _mm256_mul_pd(_mm256_set1_pd(1.140251), V));
  const __m256d blue = _mm256_add_pd(Y, _mm256_mul_pd(_mm256_set1_pd(2.028398), U));
  const __m256d green = _mm256_mul_pd(
      _mm256_sub_pd(_mm256_sub_pd(Y, _mm256_mul_pd(_mm256_set1_pd(0.3), red)), _mm256_mul_pd(_mm256_set1_pd(0.11), blue)),
      _mm256_set1_pd(1.694915));
  __m256i p = _mm256_or_si256(_mm256_slli_epi64(ByteAvx2(red), 16), _mm256_slli_epi64(ByteAvx2(green), 8));
  p = _mm256_permutevar8x32_epi32(_mm256_or_si256(p, ByteAvx2(blue)), _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6));
  return _mm_or_si128(_mm256_castsi256_si128(p), _mm_set1_epi32(static_cast<int32_t>(0xFF000000u)));
}

// The four blocks from column J of plane quarters, as BlockBack makes them.
struct TBlocksAvx2 {
  __m256d X00, X01, X10, X11;
};
KZ_HWL_AVX2 TBlocksAvx2 BlocksBackAvx2(const double* Low, const int32_t* Quant, double M, int32_t I, int32_t J, int32_t Hw, int32_t Hh,
               int32_t Width) {
  const int64_t top = static_cast<int64_t>(I) * Width, bottom = static_cast<int64_t>(Hh + I) * Width;
  const __m256d m = _mm256_set1_pd(M), s = _mm256_set1_pd(kS);
  const __m256d l = _mm256_loadu_pd(Low + top + J), h = DequantAvx2(Quant + bottom + J, m);
  const __m256d l2 = DequantAvx2(Quant + top + Hw + J, m), h2 = DequantAvx2(Quant + bottom + Hw + J, m);
  const __m256d t0 = _mm256_mul_pd(_mm256_add_pd(l, h), s), t1 = _mm256_mul_pd(_mm256_sub_pd(l, h), s);
  const __m256d t0h = _mm256_mul_pd(_mm256_add_pd(l2, h2), s), t1h = _mm256_mul_pd(_mm256_sub_pd(l2, h2), s);
  return {_mm256_mul_pd(_mm256_add_pd(t0, t0h), s), _mm256_mul_pd(_mm256_sub_pd(t0, t0h), s),
          _mm256_mul_pd(_mm256_add_pd(t1, t1h), s), _mm256_mul_pd(_mm256_sub_pd(t1, t1h), s)};
}

// The colour pixels of row pair I for the first (Hw / 4) * 4 blocks; returns
// how many blocks it made.
__attribute__((target("avx2"))) int32_t ColourRowsAvx2(
    const double* const* Low, const int32_t* const* Quant, const double* M, int32_t I, int32_t Hw, int32_t Hh,
    int32_t Width, uint32_t* Out0, uint32_t* Out1) {
  int32_t j = 0;
  for (; j + 4 <= Hw; j += 4) {
    const TBlocksAvx2 y = BlocksBackAvx2(Low[0], Quant[0], M[0], I, j, Hw, Hh, Width);
    const TBlocksAvx2 u = BlocksBackAvx2(Low[1], Quant[1], M[1], I, j, Hw, Hh, Width);
    const TBlocksAvx2 v = BlocksBackAvx2(Low[2], Quant[2], M[2], I, j, Hw, Hh, Width);
    StorePairsAvx2(Out0 + 2 * j, PixelsAvx2(y.X00, u.X00, v.X00), PixelsAvx2(y.X01, u.X01, v.X01));
    StorePairsAvx2(Out1 + 2 * j, PixelsAvx2(y.X10, u.X10, v.X10), PixelsAvx2(y.X11, u.X11, v.X11));
  }
  return j;
}
#endif

// The body of KzHWLDecodeToPixels, inlined into a plain and a wide build.
template <bool Wide>
[[gnu::always_inline]] inline void DecodeToPixelsBody(const int32_t* const* Quant, const double* const* Factors, double* const* Planes,
                         int32_t Count, int32_t Width, int32_t Height, int32_t Depth, uint32_t* Pixels) {
  if (Width <= 0 || Height <= 0) return;
  const double* low[3] = {nullptr, nullptr, nullptr};
  for (int32_t p = 0; p < Count; ++p) low[p] = CoarserLevelsBack(Quant[p], Factors[p], Planes[p], Width, Height, Depth);
  // The finest level two picture rows at a time, a 2 x 2 block of pixels
  // per step: the four coefficients of each plane (the coarser levels' one
  // and the three details, dequantised as they are read) go back through the
  // column step, then the row step, as InverseLevel does, and straight into
  // the pixels.
  const int32_t hw = Width / 2, hh = Height / 2;
  double m[3] = {0, 0, 0};
  for (int32_t p = 0; p < Count; ++p) m[p] = Multiplier(Factors[p][0]);
  const auto block = [&](int32_t P, int32_t I, int32_t J, double& X00, double& X01, double& X10, double& X11) {
    const TBlockBack b = BlockBack(low[P][static_cast<int64_t>(I) * Width + J], Quant[P], m[P], I, J, hw, hh, Width);
    X00 = b.X00;
    X01 = b.X01;
    X10 = b.X10;
    X11 = b.X11;
  };
  const auto colour = [](double Y, double U, double V) {
    const double red = Y + 1.140251 * V;
    const double blue = Y + 2.028398 * U;
    const double green = (Y - 0.3 * red - 0.11 * blue) * 1.694915;
    return 0xFF000000u | static_cast<uint32_t>(KzHWLClampByte(red)) << 16 |
           static_cast<uint32_t>(KzHWLClampByte(green)) << 8 | KzHWLClampByte(blue);
  };
  const auto grey = [](double Y) {
    const uint32_t v = KzHWLClampByte(Y);
    return 0xFF000000u | v << 16 | v << 8 | v;
  };
  // An odd last column or row is 0 in every plane: black.
  constexpr uint32_t black = 0xFF000000u;
  for (int32_t i = 0; i < hh; ++i) {
    uint32_t* out0 = Pixels + static_cast<int64_t>(2 * i) * Width;
    uint32_t* out1 = out0 + Width;
    if (Count == 1) {
      KZ_HWL_INDEPENDENT
      for (int32_t j = 0; j < hw; ++j) {
        double y00, y01, y10, y11;
        block(0, i, j, y00, y01, y10, y11);
        out0[2 * j] = grey(y00);
        out0[2 * j + 1] = grey(y01);
        out1[2 * j] = grey(y10);
        out1[2 * j + 1] = grey(y11);
      }
    } else {
      int32_t j = 0;
#if KZ_HWL_WIDE
      if constexpr (Wide) j = ColourRowsAvx2(low, Quant, m, i, hw, hh, Width, out0, out1);
#endif
      KZ_HWL_INDEPENDENT
      for (; j < hw; ++j) {
        double y00, y01, y10, y11, u00, u01, u10, u11, v00, v01, v10, v11;
        block(0, i, j, y00, y01, y10, y11);
        block(1, i, j, u00, u01, u10, u11);
        block(2, i, j, v00, v01, v10, v11);
        out0[2 * j] = colour(y00, u00, v00);
        out0[2 * j + 1] = colour(y01, u01, v01);
        out1[2 * j] = colour(y10, u10, v10);
        out1[2 * j + 1] = colour(y11, u11, v11);
      }
    }
    if (Width & 1) out0[Width - 1] = out1[Width - 1] = black;
  }
  if (Height & 1) std::fill_n(Pixels + static_cast<int64_t>(Height - 1) * Width, Width, black);
}

void DecodeToPixelsPlain(const int32_t* const* Quant, const double* const* Factors, double* const* Planes,
                         int32_t Count, int32_t Width, int32_t Height, int32_t Depth, uint32_t* Pixels) {
  DecodeToPixelsBody<false>(Quant, Factors, Planes, Count, Width, Height, Depth, Pixels);
}

#if KZ_HWL_WIDE
// The same loops four doubles a step. Without contraction into fused
// multiply-adds every operation rounds as in the plain build.
__attribute__((target("avx2"))) void DecodeToPixelsAvx2(const int32_t* const* Quant, const double* const* Factors,
                                                        double* const* Planes, int32_t Count, int32_t Width,
                                                        int32_t Height, int32_t Depth, uint32_t* Pixels) {
  DecodeToPixelsBody<true>(Quant, Factors, Planes, Count, Width, Height, Depth, Pixels);
}
#endif

}  // namespace

bool KzHWLWideVectors() {
#if KZ_HWL_WIDE
  static const bool wide = __builtin_cpu_supports("avx2");
  return wide;
#else
  return false;
#endif
}

void KzHWLDecodeToPixels(const int32_t* const* Quant, const double* const* Factors, double* const* Planes,
                         int32_t Count, int32_t Width, int32_t Height, int32_t Depth, uint32_t* Pixels, bool Wide) {
#if KZ_HWL_WIDE
  if (Wide && KzHWLWideVectors()) return DecodeToPixelsAvx2(Quant, Factors, Planes, Count, Width, Height, Depth, Pixels);
#endif
  (void)Wide;
  DecodeToPixelsPlain(Quant, Factors, Planes, Count, Width, Height, Depth, Pixels);
}

}  // namespace kz
