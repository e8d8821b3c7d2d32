// Row kernels of the YUV conversion (see the header).
#include "video/fmxMKzYuvRows.h"

#include <immintrin.h>

#include <atomic>
#include <cmath>

namespace kz {

namespace {

// The offsets of the formula per chroma value, and the green of the tie
// pairs per Y, each computed with the formula itself in double precision.
struct TKzYuvTables {
  int16_t ROff[256];
  int16_t BOff[256];
  int16_t GOff[65536];             // index U << 8 | V
  uint8_t GTie[65536];             // 0, or 1 + index into GTieValue
  std::vector<uint8_t> GTieValue;  // 256 greens per tie pair

  TKzYuvTables() {
    for (int c = 0; c < 256; ++c) {
      ROff[c] = static_cast<int16_t>(std::nearbyint(1.4075 * (c - 128)));
      BOff[c] = static_cast<int16_t>(std::nearbyint(1.779 * (c - 128)));
    }
    for (int u = 0; u < 256; ++u) {
      for (int v = 0; v < 256; ++v) {
        const int i = (u << 8) | v;
        GOff[i] = static_cast<int16_t>(std::nearbyint(-0.3455 * (u - 128) - 0.7169 * (v - 128)));
        GTie[i] = 0;
        // Exactly halfway: 3455 du + 7169 dv is an odd multiple of 5000.
        const int64_t s = 3455 * (u - 128) + 7169 * (v - 128);
        if (s % 10000 == 5000 || s % 10000 == -5000) {
          GTie[i] = static_cast<uint8_t>(1 + GTieValue.size() / 256);
          for (int y = 0; y < 256; ++y) {
            const double g = std::nearbyint(y - 0.3455 * (u - 128) - 0.7169 * (v - 128));
            GTieValue.push_back(static_cast<uint8_t>(g < 0 ? 0 : g > 255 ? 255 : g));
          }
        }
      }
    }
  }
};

const TKzYuvTables& Tables() {
  static const TKzYuvTables t;
  return t;
}

inline uint32_t Clamp255(int v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void ChromaOffsetsScalar(const uint8_t* U, const uint8_t* V, int32_t From, int32_t Count, TKzYuvOffsets& Out) {
  const TKzYuvTables& T = Tables();
  for (int32_t c = From; c < Count; ++c) {
    const int idx = (U[c] << 8) | V[c];
    const int16_t r = T.ROff[V[c]], g = T.GOff[idx], b = T.BOff[U[c]];
    Out.R[c] = r, Out.G[c] = g, Out.B[c] = b;
    if (T.GTie[idx] != 0) Out.Ties.push_back(c);
  }
}

void PixelsScalar(const uint8_t* Y, const TKzYuvOffsets& O, uint32_t* Dest, int32_t From, int32_t Width) {
  for (int32_t x = From; x < Width; ++x) {
    const int y = Y[x];
    const int32_t c = x / 2;
    Dest[x] = 0xFF000000u | (Clamp255(y + O.R[c]) << 16) | (Clamp255(y + O.G[c]) << 8) | Clamp255(y + O.B[c]);
  }
}

#if defined(__x86_64__) || defined(__i386__)
#define KZ_YUV_AVX2 1

// round(s / 10000) for the exact integer s = 10000 x, with halves rounded
// up (for green, whose offsets need both chroma values). s / 10000 + 0.5
// lies at least 1e-4 from an integer unless it is one (a half); the extra
// 5e-5 keeps halves above the integer while the float error (below 2e-5 for
// |x| < 256) cannot carry any other value across one.
__attribute__((target("avx2,fma"))) inline __m256 RoundedTenThousandths(__m256 S) {
  return _mm256_floor_ps(_mm256_fmadd_ps(S, _mm256_set1_ps(1e-4f), _mm256_set1_ps(0.50005f)));
}

// Samples 0-15 as 16 bits in natural order, stored in block order:
// 0-3, 8-11 | 4-7, 12-15 (see TKzYuvOffsets).
__attribute__((target("avx2,fma"))) inline void StoreBlock(__m256i Q, int16_t* Out) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out), _mm256_permute4x64_epi64(Q, 0xD8));
}

// Offsets of 16 chroma samples; false when one of them is a green tie.
__attribute__((target("avx2,fma"))) bool ChromaOffsets16(const uint8_t* U, const uint8_t* V, int16_t* R, int16_t* G,
                                                          int16_t* B) {
  const __m256i k128 = _mm256_set1_epi16(128);
  const __m256i du = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(U))), k128);
  const __m256i dv = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(V))), k128);
  // Red and blue in 16 bits: (2 d k + 2^14) >> 15 equals round(1.4075 dv)
  // and round(1.779 du) for every d in -128..127 with these two constants.
  StoreBlock(_mm256_mulhrs_epi16(_mm256_add_epi16(dv, dv), _mm256_set1_epi16(23058)), R);
  StoreBlock(_mm256_mulhrs_epi16(_mm256_add_epi16(du, du), _mm256_set1_epi16(29146)), B);
  // Green needs both: ten-thousandths summed exactly in 32 bits, pairs
  // (du, dv) of samples 0-3 | 8-11 and 4-7 | 12-15.
  const __m256i kG = _mm256_set1_epi32(static_cast<int32_t>(0xE3FFF281u));  // -7169 << 16 | (-3455 & 0xFFFF)
  const __m256 s0 = _mm256_cvtepi32_ps(_mm256_madd_epi16(_mm256_unpacklo_epi16(du, dv), kG));
  const __m256 s1 = _mm256_cvtepi32_ps(_mm256_madd_epi16(_mm256_unpackhi_epi16(du, dv), kG));
  const __m256 q0 = RoundedTenThousandths(s0), q1 = RoundedTenThousandths(s1);
  StoreBlock(_mm256_packs_epi32(_mm256_cvttps_epi32(q0), _mm256_cvttps_epi32(q1)), G);
  // A half: s = 10000 q - 5000 exactly.
  const __m256 k10000 = _mm256_set1_ps(10000.0f), half = _mm256_set1_ps(-5000.0f);
  const __m256 tie = _mm256_or_ps(_mm256_cmp_ps(_mm256_fnmadd_ps(q0, k10000, s0), half, _CMP_EQ_OQ),
                                  _mm256_cmp_ps(_mm256_fnmadd_ps(q1, k10000, s1), half, _CMP_EQ_OQ));
  return _mm256_testz_ps(tie, tie) != 0;
}

__attribute__((target("avx2,fma"))) int32_t ChromaOffsetsAvx2(const uint8_t* U, const uint8_t* V, int32_t Blocks,
                                                               TKzYuvOffsets& Out) {
  const TKzYuvTables& T = Tables();
  for (int32_t c = 0; c < 16 * Blocks; c += 16) {
    if (!ChromaOffsets16(U + c, V + c, Out.R.data() + c, Out.G.data() + c, Out.B.data() + c))
      for (int32_t i = c; i < c + 16; ++i)
        if (T.GTie[(U[i] << 8) | V[i]] != 0) Out.Ties.push_back(i);
  }
  return 16 * Blocks;
}

// One channel of 32 pixels: Y (pixels 0-15 and 16-31 as 16 bits) plus the
// offsets of their 16 samples, clamped to bytes in the order
// 0-7, 16-23 | 8-15, 24-31.
__attribute__((target("avx2,fma"))) inline __m256i Channel32(__m256i Y0, __m256i Y1, const int16_t* Off) {
  const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Off));
  const __m256i a = _mm256_add_epi16(Y0, _mm256_unpacklo_epi16(q, q));
  const __m256i b = _mm256_add_epi16(Y1, _mm256_unpackhi_epi16(q, q));
  return _mm256_packus_epi16(a, b);
}

__attribute__((target("avx2,fma"))) int32_t PixelsAvx2(const uint8_t* Y, const TKzYuvOffsets& O, uint32_t* Dest,
                                                        int32_t Blocks) {
  const __m256i alpha = _mm256_set1_epi8(static_cast<char>(0xFF));
  for (int32_t x = 0; x < 32 * Blocks; x += 32) {
    const __m256i y0 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Y + x)));
    const __m256i y1 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Y + x + 16)));
    const __m256i b = Channel32(y0, y1, O.B.data() + x / 2), g = Channel32(y0, y1, O.G.data() + x / 2);
    const __m256i r = Channel32(y0, y1, O.R.data() + x / 2);
    const __m256i bgLo = _mm256_unpacklo_epi8(b, g), bgHi = _mm256_unpackhi_epi8(b, g);  // 0-7 | 8-15; 16-23 | 24-31
    const __m256i raLo = _mm256_unpacklo_epi8(r, alpha), raHi = _mm256_unpackhi_epi8(r, alpha);
    // Pixels 0-3 | 8-11, 4-7 | 12-15, 16-19 | 24-27, 20-23 | 28-31.
    const __m256i p0 = _mm256_unpacklo_epi16(bgLo, raLo), p1 = _mm256_unpackhi_epi16(bgLo, raLo);
    const __m256i p2 = _mm256_unpacklo_epi16(bgHi, raHi), p3 = _mm256_unpackhi_epi16(bgHi, raHi);
    __m256i* d = reinterpret_cast<__m256i*>(Dest + x);
    _mm256_storeu_si256(d, _mm256_permute2x128_si256(p0, p1, 0x20));
    _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(p0, p1, 0x31));
    _mm256_storeu_si256(d + 2, _mm256_permute2x128_si256(p2, p3, 0x20));
    _mm256_storeu_si256(d + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
  }
  return 32 * Blocks;
}

bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
}
#endif

std::atomic<bool> UseSimd{true};

bool Simd() {
#ifdef KZ_YUV_AVX2
  return UseSimd.load(std::memory_order_relaxed) && CpuHasAvx2();
#else
  return false;
#endif
}

}  // namespace

TKzYuvOffsets::TKzYuvOffsets(int32_t Width) : Width(Width), Blocks(0) {
  const size_t n = static_cast<size_t>(Width + 1) / 2;
  R.resize(n), G.resize(n), B.resize(n);
  Ties.reserve(16);
}

void KzYuvChromaOffsets(const uint8_t* U, const uint8_t* V, TKzYuvOffsets& Out) {
  Out.Ties.clear();
  Out.Blocks = 0;
  int32_t done = 0;
#ifdef KZ_YUV_AVX2
  if (Simd()) {
    Out.Blocks = Out.Width / 32;
    done = ChromaOffsetsAvx2(U, V, Out.Blocks, Out);
  }
#endif
  ChromaOffsetsScalar(U, V, done, static_cast<int32_t>(Out.R.size()), Out);
}

void KzYuvPixels(const uint8_t* Y, const TKzYuvOffsets& Offsets, uint32_t* Dest) {
  int32_t done = 0;
#ifdef KZ_YUV_AVX2
  if (Offsets.Blocks > 0) done = PixelsAvx2(Y, Offsets, Dest, Offsets.Blocks);
#endif
  PixelsScalar(Y, Offsets, Dest, done, Offsets.Width);
}

void KzYuvFixTies(const uint8_t* Y, const uint8_t* U, const uint8_t* V, const TKzYuvOffsets& Offsets, uint32_t* Dest) {
  const int32_t Width = Offsets.Width;
  const TKzYuvTables& T = Tables();
  for (const int32_t c : Offsets.Ties) {
    const uint8_t* greens = T.GTieValue.data() + (T.GTie[(U[c] << 8) | V[c]] - 1) * 256;
    for (int32_t x = 2 * c; x < 2 * c + 2 && x < Width; ++x)
      Dest[x] = (Dest[x] & 0xFFFF00FFu) | (static_cast<uint32_t>(greens[Y[x]]) << 8);
  }
}

void KzYuvUseSimd(bool On) { UseSimd.store(On, std::memory_order_relaxed); }

}  // namespace kz
