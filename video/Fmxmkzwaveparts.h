// The pieces the HWL transform, coder and decoder units share: the Haar
// steps of one level, the bands' rectangles, dequantisation, and the macros
// that pick and shape the vectorised builds. Internal to those units, which
// are all built with the same floating-point options.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "video/Fmxmkzwavefuncs.h"

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

namespace kz::hwl {

inline const double kS = 1.0 / std::sqrt(2.0);

// Scratch rows of one transform level; each thread keeps its own.
inline std::vector<double>& Scratch(size_t Size) {
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

// The rectangles of a band: detail level L (two rectangles), or the final
// low-pass band (Band = Depth + 1, one).
struct TRect2 {
  int32_t Row0, Row1, Col0, Col1;
};
inline int32_t BandRects(int32_t W, int32_t H, int32_t Depth, int32_t Band, TRect2 Out[2]) {
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

inline bool Finite(double V) { return std::isfinite(V); }

// What a band's quantised values are multiplied by: 1 / factor, or 0 for a
// factor of 0 or one that is not finite.
inline double Multiplier(double Factor) { return (Factor == 0 || !Finite(Factor)) ? 0.0 : 1.0 / Factor; }

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


}  // namespace kz::hwl
