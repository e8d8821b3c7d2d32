#include "video/Fmxmkzwavefuncs.h"

#include "video/Fmxmkzwavecodes.h"
#include "video/Fmxmkzwaveparts.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kz {

using namespace hwl;

namespace {

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
