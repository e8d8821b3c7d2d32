#include "video/Fmxmkzwavefuncs.h"

#include "video/Fmxmkzwavecodes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// A loop whose iterations the compiler may take as independent.
#if defined(__clang__)
#define KZ_HWL_INDEPENDENT _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define KZ_HWL_INDEPENDENT _Pragma("GCC ivdep")
#else
#define KZ_HWL_INDEPENDENT
#endif

// AVX2 builds of the coder's and the decoder's loops, chosen at run time.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KZ_HWL_WIDE 1
#include <immintrin.h>
#else
#define KZ_HWL_WIDE 0
#endif

// Inlined into both the plain and the AVX2 build of a loop's caller.
#define KZ_HWL_INLINE [[gnu::always_inline]] inline

namespace kz {

namespace {

const double kS = 1.0 / std::sqrt(2.0);

// Scratch rows of one transform level; each thread keeps its own.
std::vector<double>& Scratch(size_t Size) {
  thread_local std::vector<double> t;
  if (t.size() < Size) t.resize(Size);
  return t;
}

// One row of Wc values: low halves into Lo, high halves into Lo + Wc / 2; an
// odd last value becomes 0.
KZ_HWL_INLINE void RowForward(const double* X, double* Lo, int32_t Wc) {
  const int32_t hw = Wc / 2;
  double* hi = Lo + hw;
  for (int32_t j = 0; j < hw; ++j) {
    const double a = X[2 * j], b = X[2 * j + 1];
    Lo[j] = (a + b) * kS;
    hi[j] = (a - b) * kS;
  }
  if (Wc & 1) Lo[Wc - 1] = 0;
}

// One level on the Wc x Hc region of a plane with Stride-long rows: rows
// into the scratch (low halves left, high right), then columns into Dst. An
// odd last column or row becomes 0. Src may be Dst.
KZ_HWL_INLINE void ForwardLevel(const double* Src, double* Dst, int32_t Wc, int32_t Hc, int32_t Stride) {
  const int32_t hh = Hc / 2;
  double* t = Scratch(static_cast<size_t>(Wc) * Hc).data();
  for (int32_t r = 0; r < Hc; ++r)
    RowForward(Src + static_cast<int64_t>(r) * Stride, t + static_cast<int64_t>(r) * Wc, Wc);
  for (int32_t i = 0; i < hh; ++i) {
    const double* t0 = t + static_cast<int64_t>(2 * i) * Wc;
    const double* t1 = t0 + Wc;
    double* lo = Dst + static_cast<int64_t>(i) * Stride;
    double* hi = Dst + static_cast<int64_t>(hh + i) * Stride;
    for (int32_t c = 0; c < Wc; ++c) {
      const double a = t0[c], b = t1[c];
      lo[c] = (a + b) * kS;
      hi[c] = (a - b) * kS;
    }
  }
  if (Hc & 1) std::fill_n(Dst + static_cast<int64_t>(Hc - 1) * Stride, Wc, 0.0);
}

// The inverse of one level, in place: columns first, then rows.
KZ_HWL_INLINE void InverseLevel(double* P, int32_t Wc, int32_t Hc, int32_t Stride) {
  const int32_t hw = Wc / 2, hh = Hc / 2;
  double* t = Scratch(static_cast<size_t>(Wc) * Hc).data();
  for (int32_t i = 0; i < hh; ++i) {
    const double* lo = P + static_cast<int64_t>(i) * Stride;
    const double* hi = P + static_cast<int64_t>(hh + i) * Stride;
    double* t0 = t + static_cast<int64_t>(2 * i) * Wc;
    double* t1 = t0 + Wc;
    for (int32_t c = 0; c < Wc; ++c) {
      const double l = lo[c], h = hi[c];
      t0[c] = (l + h) * kS;
      t1[c] = (l - h) * kS;
    }
  }
  if (Hc & 1) std::fill_n(t + static_cast<int64_t>(Hc - 1) * Wc, Wc, 0.0);
  for (int32_t r = 0; r < Hc; ++r) {
    const double* lo = t + static_cast<int64_t>(r) * Wc;
    const double* hi = lo + hw;
    double* x = P + static_cast<int64_t>(r) * Stride;
    for (int32_t j = 0; j < hw; ++j) {
      const double l = lo[j], h = hi[j];
      x[2 * j] = (l + h) * kS;
      x[2 * j + 1] = (l - h) * kS;
    }
    if (Wc & 1) x[Wc - 1] = 0;
  }
}

// The first level straight from a row source into Planes destination planes
// (never the source): rows are made, transformed and combined two at a
// time, so the source is read once and no scratch plane is needed. The same
// arithmetic as ForwardLevel, element for element. Rows(r, Out) writes row r
// of every plane into Out[p] (Wc values each).
template <typename RowSource>
void FirstLevel(RowSource Rows, double* const* Dst, int32_t Planes, int32_t Wc, int32_t Hc, int32_t Stride) {
  const int32_t hh = Hc / 2;
  double* buf = Scratch(static_cast<size_t>(Planes) * 4 * Wc).data();
  for (int32_t i = 0; i < hh; ++i) {
    double* a[3];  // a source may point these at its own rows instead
    double* b[3];
    for (int32_t p = 0; p < Planes; ++p) {
      a[p] = buf + static_cast<int64_t>(p) * 4 * Wc;
      b[p] = a[p] + Wc;
    }
    Rows(2 * i, a);
    Rows(2 * i + 1, b);
    for (int32_t p = 0; p < Planes; ++p) {
      double* ta = buf + static_cast<int64_t>(p) * 4 * Wc + 2 * Wc;  // the row-transformed pair
      double* tb = ta + Wc;
      RowForward(a[p], ta, Wc);
      RowForward(b[p], tb, Wc);
      double* lo = Dst[p] + static_cast<int64_t>(i) * Stride;
      double* hi = Dst[p] + static_cast<int64_t>(hh + i) * Stride;
      for (int32_t c = 0; c < Wc; ++c) {
        const double x = ta[c], y = tb[c];
        lo[c] = (x + y) * kS;
        hi[c] = (x - y) * kS;
      }
    }
  }
  if (Hc & 1)
    for (int32_t p = 0; p < Planes; ++p) std::fill_n(Dst[p] + static_cast<int64_t>(Hc - 1) * Stride, Wc, 0.0);
}

void ToYUV(const double* R, const double* G, const double* B, double* Y, double* U, double* V, int32_t N) {
  for (int32_t i = 0; i < N; ++i) {
    const double y = 0.3 * R[i] + 0.59 * G[i] + 0.11 * B[i];
    Y[i] = y;
    U[i] = (B[i] - y) * 0.493;
    V[i] = (R[i] - y) * 0.877;
  }
}

void LaterLevels(double* const* Planes, int32_t Count, int32_t Width, int32_t Height, int32_t Stride, int32_t Depth) {
  for (int32_t p = 0; p < Count; ++p)
    for (int32_t l = 1; l <= Depth; ++l) ForwardLevel(Planes[p], Planes[p], Width >> l, Height >> l, Stride);
}

// The rectangles of a band: detail level L (two rectangles), or the final
// low-pass band (Band = Depth + 1, one).
struct TRect2 {
  int32_t Row0, Row1, Col0, Col1;
};
int32_t BandRects(int32_t W, int32_t H, int32_t Depth, int32_t Band, TRect2 Out[2]) {
  if (Band > Depth) {
    Out[0] = {0, H >> (Depth + 1), 0, W >> (Depth + 1)};
    return 1;
  }
  Out[0] = {0, H >> (Band + 1), W >> (Band + 1), W >> Band};
  Out[1] = {H >> (Band + 1), H >> Band, 0, W >> Band};
  return 2;
}

// Fn(Begin, End) for each row span of a band (flat indices, End excluded).
template <typename F>
KZ_HWL_INLINE void ForEachSpan(int32_t W, int32_t H, int32_t Depth, int32_t Band, F Fn) {
  TRect2 rects[2];
  const int32_t n = BandRects(W, H, Depth, Band, rects);
  for (int32_t k = 0; k < n; ++k)
    for (int32_t r = rects[k].Row0; r < rects[k].Row1; ++r) {
      const int64_t row = static_cast<int64_t>(r) * W;
      Fn(row + rects[k].Col0, row + rects[k].Col1);
    }
}

bool Finite(double V) { return std::isfinite(V); }

// What a band's quantised values are multiplied by: 1 / factor, or 0 for a
// factor of 0 or one that is not finite.
double Multiplier(double Factor) { return (Factor == 0 || !Finite(Factor)) ? 0.0 : 1.0 / Factor; }

// c = q * Multiplier(factor) in the bands from FirstBand to the low-pass one.
KZ_HWL_INLINE void DequantiseBands(const int32_t* Quant, double* Plane, int32_t Width, int32_t Height, int32_t Depth,
                     const double* Factors, int32_t FirstBand) {
  for (int32_t band = FirstBand; band <= Depth + 1; ++band) {
    const double m = Multiplier(Factors[band]);
    ForEachSpan(Width, Height, Depth, band, [&](int64_t Begin, int64_t End) {
      for (int64_t i = Begin; i < End; ++i) Plane[i] = Quant[i] * m;
    });
  }
}

}  // namespace

// ---- Transform

void WaveletGS(const double* Src, double* Dst, int32_t Width, int32_t Height, int32_t Stride, int32_t FullHeight,
               int32_t Depth) {
  (void)FullHeight;  // the scratch is sized per level
  if (Width <= 0 || Height <= 0) return;
  if (Src == Dst) {
    ForwardLevel(Src, Dst, Width, Height, Stride);
  } else {
    FirstLevel([&](int32_t r, double** Out) { Out[0] = const_cast<double*>(Src) + static_cast<int64_t>(r) * Stride; },
               &Dst, 1, Width, Height, Stride);
  }
  LaterLevels(&Dst, 1, Width, Height, Stride, Depth);
}

void DeWaveletGS(const double* Src, double* Dst, int32_t Width, int32_t Height, int32_t Stride, int32_t FullHeight,
                 int32_t Depth) {
  (void)FullHeight;
  if (Width <= 0 || Height <= 0) return;
  if (Src != Dst)
    for (int32_t r = 0; r < Height; ++r)
      std::copy_n(Src + static_cast<int64_t>(r) * Stride, Width, Dst + static_cast<int64_t>(r) * Stride);
  for (int32_t l = Depth; l >= 0; --l) InverseLevel(Dst, Width >> l, Height >> l, Stride);
}

void WaveletRGB(const double* R, const double* G, const double* B, double* Y, double* U, double* V, int32_t Width,
                int32_t Height, int32_t Stride, int32_t FullHeight, int32_t Depth) {
  (void)FullHeight;
  if (Width <= 0 || Height <= 0) return;
  double* yuv[3] = {Y, U, V};
  FirstLevel(
      [&](int32_t r, double** Out) {
        const int64_t at = static_cast<int64_t>(r) * Stride;
        ToYUV(R + at, G + at, B + at, Out[0], Out[1], Out[2], Width);
      },
      yuv, 3, Width, Height, Stride);
  LaterLevels(yuv, 3, Width, Height, Stride, Depth);
}

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

void DeWaveletRGB(double* R, double* G, double* B, double* Y, double* U, double* V, int32_t Width, int32_t Height,
                  int32_t Stride, int32_t FullHeight, int32_t Depth) {
  DeWaveletGS(Y, Y, Width, Height, Stride, FullHeight, Depth);
  DeWaveletGS(U, U, Width, Height, Stride, FullHeight, Depth);
  DeWaveletGS(V, V, Width, Height, Stride, FullHeight, Depth);
  for (int32_t r = 0; r < Height; ++r)
    for (int64_t i = static_cast<int64_t>(r) * Stride, e = i + Width; i < e; ++i) {
      const double red = Y[i] + 1.140251 * V[i];
      const double blue = Y[i] + 2.028398 * U[i];
      G[i] = (Y[i] - 0.3 * red - 0.11 * blue) * 1.694915;
      R[i] = red;
      B[i] = blue;
    }
}

// ---- Threshold and quantiser

int32_t WaveletZeroOutGS(double* Plane, double Eps, int32_t Bits, int32_t Width, int32_t Height, int32_t Depth) {
  (void)Bits;
  int32_t cleared = 0;
  for (int32_t band = 0; band <= Depth; ++band)
    ForEachSpan(Width, Height, Depth, band, [&](int64_t Begin, int64_t End) {
      for (int64_t i = Begin; i < End; ++i) {
        double& c = Plane[i];
        if (!Finite(c)) {
          c = 0;
        } else if (c != 0 && std::fabs(c) <= Eps) {
          c = 0;
          ++cleared;
        }
      }
    });
  return cleared;
}

void WaveletQuantGS(double* Plane, int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth, int32_t Bits,
                    double* Factors) {
  if (Width <= 0 || Height <= 0 || Width > HWL_MaxCoded || Height > HWL_MaxCoded) return;
  const double top = static_cast<double>((1u << Bits) - 1);
  // The bands cover the plane, so clearing what is not finite band by band
  // clears the whole plane before any factor is taken.
  for (int32_t band = 0; band <= Depth + 1; ++band) {
    double mn = 1e8, mx = -1e8;
    ForEachSpan(Width, Height, Depth, band, [&](int64_t Begin, int64_t End) {
      for (int64_t i = Begin; i < End; ++i) {
        if (!Finite(Plane[i])) Plane[i] = 0;
        mn = Plane[i] < mn ? Plane[i] : mn;
        mx = Plane[i] > mx ? Plane[i] : mx;
      }
    });
    double factor = 0;
    if (mn != 0 || mx != 0) factor = top / (std::fabs(mx) >= std::fabs(mn) ? std::fabs(mx) : std::fabs(mn));
    ForEachSpan(Width, Height, Depth, band, [&](int64_t Begin, int64_t End) {
      for (int64_t i = Begin; i < End; ++i) Quant[i] = static_cast<int32_t>(KzHWLRoundEven(Plane[i] * factor));
    });
    Factors[band] = factor;
  }
}

namespace {

// The magnitude of a coefficient that the threshold keeps: 0 for NaN,
// infinities and |c| <= Limit (-infinity keeps every finite one).
inline double KeptMagnitude(double C, double Limit) {
  const double a = std::fabs(C);
  return a <= std::numeric_limits<double>::max() && !(a <= Limit) ? a : 0.0;
}

// The largest kept magnitude of a span, no less than Start. Four running
// maxima, so that no comparison waits for the one before (the maximum of
// non-negative numbers does not depend on the order).
double KeptMaxScalar(const double* P, int64_t N, double Limit, double Start) {
  double m[4] = {Start, 0.0, 0.0, 0.0};
  int64_t i = 0;
  for (; i + 4 <= N; i += 4)
    for (int k = 0; k < 4; ++k) {
      const double a = KeptMagnitude(P[i + k], Limit);
      m[k] = a > m[k] ? a : m[k];
    }
  for (; i < N; ++i) {
    const double a = KeptMagnitude(P[i], Limit);
    m[0] = a > m[0] ? a : m[0];
  }
  const double x = m[0] > m[1] ? m[0] : m[1], y = m[2] > m[3] ? m[2] : m[3];
  return x > y ? x : y;
}

#if defined(__SSE2__)
// The same with two lanes a register and no branch (the compiler keeps the
// scalar maximum's branches). maxpd of two non-negative finite numbers is
// their maximum, exactly.
double KeptMaxSse2(const double* P, int64_t N, double Limit, double Start) {
  const __m128d sign = _mm_set1_pd(-0.0), largest = _mm_set1_pd(std::numeric_limits<double>::max());
  const __m128d limit = _mm_set1_pd(Limit);
  const auto kept = [&](const double* At) {
    const __m128d a = _mm_andnot_pd(sign, _mm_loadu_pd(At));
    return _mm_and_pd(a, _mm_andnot_pd(_mm_cmple_pd(a, limit), _mm_cmple_pd(a, largest)));
  };
  __m128d m0 = _mm_set_sd(Start), m1 = _mm_setzero_pd();
  int64_t i = 0;
  for (; i + 4 <= N; i += 4) {
    m0 = _mm_max_pd(m0, kept(P + i));
    m1 = _mm_max_pd(m1, kept(P + i + 2));
  }
  m0 = _mm_max_pd(m0, m1);
  double lanes[2];
  _mm_storeu_pd(lanes, m0);
  double m = lanes[0] > lanes[1] ? lanes[0] : lanes[1];
  for (; i < N; ++i) {
    const double a = KeptMagnitude(P[i], Limit);
    m = a > m ? a : m;
  }
  return m;
}
#endif

#if KZ_HWL_WIDE
// |A| where it is finite and above Limit, else 0, four lanes at a time.
[[gnu::always_inline]] inline __attribute__((target("avx2"))) __m256d KeptAvx2(const double* At, __m256d Limit) {
  const __m256d a = _mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_loadu_pd(At));
  const __m256d finite = _mm256_cmp_pd(a, _mm256_set1_pd(std::numeric_limits<double>::max()), _CMP_LE_OQ);
  return _mm256_and_pd(a, _mm256_andnot_pd(_mm256_cmp_pd(a, Limit, _CMP_LE_OQ), finite));
}

// Four lanes a register, as KeptMaxSse2 does with two.
__attribute__((target("avx2"))) double KeptMaxAvx2(const double* P, int64_t N, double Limit, double Start) {
  const __m256d limit = _mm256_set1_pd(Limit);
  __m256d m0 = _mm256_set_pd(0.0, 0.0, 0.0, Start), m1 = _mm256_setzero_pd();
  int64_t i = 0;
  for (; i + 8 <= N; i += 8) {
    m0 = _mm256_max_pd(m0, KeptAvx2(P + i, limit));
    m1 = _mm256_max_pd(m1, KeptAvx2(P + i + 4, limit));
  }
  m0 = _mm256_max_pd(m0, m1);
  double lanes[4];
  _mm256_storeu_pd(lanes, m0);
  double m = lanes[0];
  for (int k = 1; k < 4; ++k) m = lanes[k] > m ? lanes[k] : m;
  for (; i < N; ++i) {
    const double a = KeptMagnitude(P[i], Limit);
    m = a > m ? a : m;
  }
  return m;
}
#endif

// The kept maximum of the build a loop is in.
template <bool Wide>
KZ_HWL_INLINE double KeptMaxOf(const double* P, int64_t N, double Limit, double Start) {
#if KZ_HWL_WIDE
  if constexpr (Wide) return KeptMaxAvx2(P, N, Limit, Start);
#endif
#if defined(__SSE2__)
  return KeptMaxSse2(P, N, Limit, Start);
#else
  return KeptMaxScalar(P, N, Limit, Start);
#endif
}

}  // namespace

double KzHWLKeptMax(const double* P, int64_t N, double Limit, double Start, int32_t Vector) {
#if KZ_HWL_WIDE
  if (Vector >= 2 && KzHWLWideVectors()) return KeptMaxAvx2(P, N, Limit, Start);
#endif
#if defined(__SSE2__)
  if (Vector >= 1) return KeptMaxSse2(P, N, Limit, Start);
#endif
  return KeptMaxScalar(P, N, Limit, Start);
}

namespace {

// The threshold of a band: Eps for detail, none for the final low-pass band.
double BandLimit(int32_t Band, int32_t Depth, double Eps) {
  return Band <= Depth ? Eps : -std::numeric_limits<double>::infinity();
}

// The largest magnitude of a band that the threshold keeps, no less than
// Start; 1e8 for an empty band (the starting extremes of the quantiser).
template <bool Wide>
KZ_HWL_INLINE double BandLargest(const double* Plane, int32_t Width, int32_t Height, int32_t Depth, int32_t Band, double Limit,
                   double Start) {
  double largest = Start;
  int64_t count = 0;
  ForEachSpan(Width, Height, Depth, Band, [&](int64_t Begin, int64_t End) {
    largest = KeptMaxOf<Wide>(Plane + Begin, End - Begin, Limit, largest);
    count += End - Begin;
  });
  return count == 0 ? 1e8 : largest;
}

// A band's factor from its largest kept magnitude: (2^Bits - 1) / Largest,
// 0 for an all-zero band.
KZ_HWL_INLINE double BandFactor(double Largest, int32_t Bits) {
  const double top = static_cast<double>((1u << Bits) - 1);
  return Largest == 0 ? 0.0 : top / Largest;
}

// What the threshold and quantiser make of one coefficient.
KZ_HWL_INLINE int32_t QuantOf(double C, double Limit, double Factor) {
  const double c = KeptMagnitude(C, Limit) == 0 ? 0.0 : C;
  return static_cast<int32_t>(KzHWLRoundEven(c * Factor));
}

// Factors[Band] from the band's largest kept magnitude, then q = round(c
// factor) over the band, with what the threshold clears as 0.
KZ_HWL_INLINE void QuantiseBand(const double* Plane, int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth, int32_t Band,
                  double Limit, double Largest, int32_t Bits, double* Factors) {
  const double factor = BandFactor(Largest, Bits);
  ForEachSpan(Width, Height, Depth, Band, [&](int64_t Begin, int64_t End) {
    for (int64_t i = Begin; i < End; ++i) Quant[i] = QuantOf(Plane[i], Limit, factor);
  });
  Factors[Band] = factor;
}

// The threshold and quantiser of the bands from FirstBand on.
template <bool Wide>
KZ_HWL_INLINE void ThresholdQuantBands(const double* Plane, int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth, double Eps,
                         int32_t Bits, double* Factors, int32_t FirstBand) {
  for (int32_t band = FirstBand; band <= Depth + 1; ++band) {
    const double limit = BandLimit(band, Depth, Eps);
    QuantiseBand(Plane, Quant, Width, Height, Depth, band, limit,
                 BandLargest<Wide>(Plane, Width, Height, Depth, band, limit, 0.0), Bits, Factors);
  }
}

// The first level of a picture straight from its 32-bit pixels, two rows at
// a time, with the arithmetic of RowForward then the column step of
// ForwardLevel (the same operations in the same order, so the same numbers).
// Grey takes the blue byte; colour makes Y, U, V as ToYUV does. For each
// row pair i, Rows(i, p, Out) gives where plane p's row i of the four
// quarters goes (low-low, high-low, low-high, high-high; Width / 2 values
// each); Done(i) follows the row pair. An odd last column or row is not
// touched.
// ToYUV of one 32-bit pixel.
inline void ToYUVPixel(uint32_t P, double& Y, double& U, double& V) {
  const double r = (P >> 16) & 255, g = (P >> 8) & 255, b = P & 255;
  Y = 0.3 * r + 0.59 * g + 0.11 * b;
  U = (b - Y) * 0.493;
  V = (r - Y) * 0.877;
}

template <typename RowsOf, typename DoneWith>
KZ_HWL_INLINE void FirstLevelFromPixels(const uint32_t* Pixels, int32_t Width, int32_t Height, bool Grey, RowsOf Rows,
                          DoneWith Done) {
  const int32_t hw = Width / 2, hh = Height / 2;
  const auto haar = [](double A, double B, double C, double D, double* const* Out, int32_t J) {
    const double t0 = (A + B) * kS, t1 = (A - B) * kS, b0 = (C + D) * kS, b1 = (C - D) * kS;
    Out[0][J] = (t0 + b0) * kS;
    Out[1][J] = (t1 + b1) * kS;
    Out[2][J] = (t0 - b0) * kS;
    Out[3][J] = (t1 - b1) * kS;
  };
  for (int32_t i = 0; i < hh; ++i) {
    const uint32_t* p0 = Pixels + static_cast<int64_t>(2 * i) * Width;
    const uint32_t* p1 = p0 + Width;
    double* out[3][4];
    for (int32_t p = 0; p < (Grey ? 1 : 3); ++p) Rows(i, p, out[p]);
    if (Grey) {
      for (int32_t j = 0; j < hw; ++j)
        haar(p0[2 * j] & 255, p0[2 * j + 1] & 255, p1[2 * j] & 255, p1[2 * j + 1] & 255, out[0], j);
    } else {
      // The twelve rows written are distinct and none is read here.
      KZ_HWL_INDEPENDENT
      for (int32_t j = 0; j < hw; ++j) {
        double y0, u0, v0, y1, u1, v1, y2, u2, v2, y3, u3, v3;
        ToYUVPixel(p0[2 * j], y0, u0, v0);
        ToYUVPixel(p0[2 * j + 1], y1, u1, v1);
        ToYUVPixel(p1[2 * j], y2, u2, v2);
        ToYUVPixel(p1[2 * j + 1], y3, u3, v3);
        haar(y0, y1, y2, y3, out[0], j);
        haar(u0, u1, u2, u3, out[1], j);
        haar(v0, v1, v2, v3, out[2], j);
      }
    }
    Done(i);
  }
}

}  // namespace

void KzHWLThresholdQuant(const double* Plane, int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth, double Eps,
                         int32_t Bits, double* Factors) {
  if (Width <= 0 || Height <= 0 || Width > HWL_MaxCoded || Height > HWL_MaxCoded) return;
  ThresholdQuantBands<false>(Plane, Quant, Width, Height, Depth, Eps, Bits, Factors, 0);
}

namespace {

// Fn(Col0, Col1, Band) for the spans of row R that the bands cover: the
// finest level's right part (or the whole row below its top half), then the
// coarser levels' inside the rest, then the low-pass band.
template <typename F>
KZ_HWL_INLINE void ForEachRowSpan(int32_t W, int32_t H, int32_t Depth, int32_t R, F Fn) {
  for (int32_t l = 0; l <= Depth; ++l) {
    if (R >= (H >> (l + 1))) return Fn(0, W >> l, l);
    Fn(W >> (l + 1), W >> l, l);
  }
  Fn(0, W >> (Depth + 1), Depth + 1);
}

// The threshold and quantiser of a transformed plane (Finest: the finest
// detail's largest kept magnitude) a row at a time, each row given to Coder
// while it is in the cache.
template <bool Wide>
KZ_HWL_INLINE void QuantiseRows(const double* Plane, int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth,
                                double Eps, int32_t Bits, double Finest, double* Factors, TKzHWLPlaneCoder* Coder) {
  double limit[HWL_FactorRoom];
  limit[0] = Eps;
  Factors[0] = BandFactor(Finest, Bits);
  for (int32_t band = 1; band <= Depth + 1; ++band) {
    limit[band] = BandLimit(band, Depth, Eps);
    Factors[band] = BandFactor(BandLargest<Wide>(Plane, Width, Height, Depth, band, limit[band], 0.0), Bits);
  }
  for (int32_t r = 0; r < Height; ++r) {
    const double* c = Plane + static_cast<int64_t>(r) * Width;
    int32_t* q = Quant + static_cast<int64_t>(r) * Width;
    ForEachRowSpan(Width, Height, Depth, r, [&](int32_t Col0, int32_t Col1, int32_t Band) {
      const double lim = limit[Band], factor = Factors[Band];
      for (int32_t k = Col0; k < Col1; ++k) q[k] = QuantOf(c[k], lim, factor);
    });
    if (Coder) Coder->Add(q, Width);
  }
}

// The body of KzHWLEncodePixels, inlined into a plain and a wide build.
template <bool Wide>
KZ_HWL_INLINE void EncodePixelsBody(const uint32_t* Pixels, int32_t Width, int32_t Height, bool Grey, int32_t Depth,
                                    double Eps, const int32_t* Bits, double* const* Planes, int32_t* const* Quant,
                                    double* const* Factors, THWLCodedPlane* Coded) {
  const int32_t count = Grey ? 1 : 3, hw = Width / 2, hh = Height / 2;
  // The finest detail's largest kept magnitude is taken from each row pair
  // while it is still in the cache.
  double finest[3] = {0, 0, 0};
  FirstLevelFromPixels(
      Pixels, Width, Height, Grey,
      [&](int32_t i, int32_t p, double** Out) {
        double* lo = Planes[p] + static_cast<int64_t>(i) * Width;
        double* hi = Planes[p] + static_cast<int64_t>(hh + i) * Width;
        Out[0] = lo;
        Out[1] = lo + hw;
        Out[2] = hi;
        Out[3] = hi + hw;
      },
      [&](int32_t i) {
        for (int32_t p = 0; p < count; ++p) {
          const double* lo = Planes[p] + static_cast<int64_t>(i) * Width;
          const double* hi = Planes[p] + static_cast<int64_t>(hh + i) * Width;
          finest[p] = KeptMaxOf<Wide>(lo + hw, hw, Eps, finest[p]);
          finest[p] = KeptMaxOf<Wide>(hi, 2 * hw, Eps, finest[p]);
        }
      });
  for (int32_t p = 0; p < count; ++p) {
    if (Width & 1)
      for (int32_t r = 0; r < 2 * hh; ++r) Planes[p][static_cast<int64_t>(r) * Width + Width - 1] = 0;
    if (Height & 1) std::fill_n(Planes[p] + static_cast<int64_t>(Height - 1) * Width, Width, 0.0);
    for (int32_t l = 1; l <= Depth; ++l) ForwardLevel(Planes[p], Planes[p], Width >> l, Height >> l, Width);
    std::optional<TKzHWLPlaneCoder> coder;
    if (Coded) coder.emplace(Coded[p], static_cast<int64_t>(Width) * Height, Bits[p]);
    QuantiseRows<Wide>(Planes[p], Quant[p], Width, Height, Depth, Eps, Bits[p], finest[p], Factors[p],
                       coder ? &*coder : nullptr);
    if (coder) coder->Finish();
  }
}

void EncodePixelsPlain(const uint32_t* Pixels, int32_t Width, int32_t Height, bool Grey, int32_t Depth, double Eps,
                       const int32_t* Bits, double* const* Planes, int32_t* const* Quant, double* const* Factors,
                       THWLCodedPlane* Coded) {
  EncodePixelsBody<false>(Pixels, Width, Height, Grey, Depth, Eps, Bits, Planes, Quant, Factors, Coded);
}

#if KZ_HWL_WIDE
__attribute__((target("avx2"))) void EncodePixelsAvx2(const uint32_t* Pixels, int32_t Width, int32_t Height,
                                                      bool Grey, int32_t Depth, double Eps, const int32_t* Bits,
                                                      double* const* Planes, int32_t* const* Quant,
                                                      double* const* Factors, THWLCodedPlane* Coded) {
  EncodePixelsBody<true>(Pixels, Width, Height, Grey, Depth, Eps, Bits, Planes, Quant, Factors, Coded);
}
#endif

}  // namespace

void KzHWLEncodePixels(const uint32_t* Pixels, int32_t Width, int32_t Height, bool Grey, int32_t Depth, double Eps,
                       const int32_t* Bits, double* const* Planes, int32_t* const* Quant, double* const* Factors,
                       THWLCodedPlane* Coded, bool Wide) {
  if (Width < 2 || Height < 2 || Width > HWL_MaxCoded || Height > HWL_MaxCoded) return;
  if (Depth < 0 || Depth > HWL_MaxDepth) return;
#if KZ_HWL_WIDE
  if (Wide && KzHWLWideVectors())
    return EncodePixelsAvx2(Pixels, Width, Height, Grey, Depth, Eps, Bits, Planes, Quant, Factors, Coded);
#endif
  (void)Wide;
  EncodePixelsPlain(Pixels, Width, Height, Grey, Depth, Eps, Bits, Planes, Quant, Factors, Coded);
}

void WaveletQuantRGB(double* P1, double* P2, double* P3, int32_t* Q1, int32_t* Q2, int32_t* Q3, int32_t Width,
                     int32_t Height, int32_t Depth, int32_t BitsY, int32_t BitsU, int32_t BitsV, double* F1, double* F2,
                     double* F3) {
  WaveletQuantGS(P1, Q1, Width, Height, Depth, BitsY, F1);
  WaveletQuantGS(P2, Q2, Width, Height, Depth, BitsU, F2);
  WaveletQuantGS(P3, Q3, Width, Height, Depth, BitsV, F3);
}

void DeWaveletQuantGS(const int32_t* Quant, double* Plane, int32_t Width, int32_t Height, int32_t Depth,
                      const double* Factors) {
  DequantiseBands(Quant, Plane, Width, Height, Depth, Factors, 0);
}

void DeWaveletQuantRGB(const int32_t* Q1, const int32_t* Q2, const int32_t* Q3, double* P1, double* P2, double* P3,
                       int32_t Width, int32_t Height, int32_t Depth, const double* F1, const double* F2,
                       const double* F3) {
  DeWaveletQuantGS(Q1, P1, Width, Height, Depth, F1);
  DeWaveletQuantGS(Q2, P2, Width, Height, Depth, F2);
  DeWaveletQuantGS(Q3, P3, Width, Height, Depth, F3);
}

int32_t WaveletCountZerosGS(const int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth) {
  (void)Depth;
  return static_cast<int32_t>(std::count(Quant, Quant + static_cast<int64_t>(Width) * Height, 0));
}

}  // namespace kz
