// Temporal smoothing of the library bitmap: a running average of the last
// three frames of a static scene that snaps to the live picture as soon as
// more than a tenth of it moves. Per-channel running sums (16 bits each)
// make every frame cost one pass over the pixels.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzType.h"

namespace kz {

namespace {
constexpr int32_t MaxHistory = 3;
constexpr int64_t RestartAfterMs = 100;
constexpr int ChangeThreshold = 11;  // a channel this far from the last output marks a changed pixel
// sum div Count without a division (exact for every sum of three bytes).
template <int Count>
inline uint32_t Average(uint32_t Sum) {
  if constexpr (Count == 3) return (Sum * 43691u) >> 17;
  return Sum >> 1;
}

// One pass of the running average over pixels [First, n) with Count frames
// summed. Oldest, when given, is the frame leaving the sum; it is
// overwritten with the new one. Changed counts the pixels whose average
// moved ChangeThreshold or more from the last output; true as soon as it
// exceeds Limit (a scene change). The pixels go in blocks so that the
// per-byte work vectorises; a block that crosses the limit is abandoned
// whole, which changes nothing visible because a scene change replaces
// sums, output and history.
template <int Count>
bool SmoothPassScalar(const uint8_t* In, uint8_t* Oldest, uint16_t* Sum, uint8_t* Out, size_t First, size_t n,
                      int64_t& Changed, int64_t Limit) {
  constexpr size_t Block = 1024;  // pixels
  uint8_t avg[Block * 4];
  uint8_t far[Block * 4];
  for (size_t first = First; first < n; first += Block) {
    const size_t bytes = std::min(Block, n - first) * 4;
    const uint8_t* in = In + first * 4;
    uint16_t* sum = Sum + first * 4;
    uint8_t* out = Out + first * 4;
    if (Oldest != nullptr) {
      uint8_t* old = Oldest + first * 4;
      for (size_t i = 0; i < bytes; ++i) {
        sum[i] = static_cast<uint16_t>(sum[i] + in[i] - old[i]);
        old[i] = in[i];
      }
    } else {
      for (size_t i = 0; i < bytes; ++i) sum[i] = static_cast<uint16_t>(sum[i] + in[i]);
    }
    for (size_t i = 0; i < bytes; ++i) {
      avg[i] = static_cast<uint8_t>(Average<Count>(sum[i]));
      const int d = static_cast<int>(avg[i]) - static_cast<int>(out[i]);
      far[i] = static_cast<uint8_t>(d >= ChangeThreshold || d <= -ChangeThreshold);
    }
    for (size_t p = 0; p < bytes; p += 4) Changed += (far[p] | far[p + 1] | far[p + 2] | far[p + 3]);
    if (Changed > Limit) return true;
    memcpy(out, avg, bytes);
  }
  return false;
}

#if defined(__x86_64__) || defined(__i386__)
#define KZ_SMOOTH_AVX2 1

// The same, eight pixels at a time; returns the pixels done (a multiple of
// eight, or fewer than n on a scene change). Out is written as it goes: on a
// scene change it is replaced whole anyway.
template <int Count>
__attribute__((target("avx2"))) size_t SmoothPassAvx2(const uint8_t* In, uint8_t* Oldest, uint16_t* Sum, uint8_t* Out,
                                                       size_t n, int64_t& Changed, int64_t Limit, bool& Scene) {
  constexpr size_t CheckEvery = 1024;  // pixels between looks at the limit
  const __m256i threshold = _mm256_set1_epi8(ChangeThreshold - 1);
  const __m256i third = _mm256_set1_epi16(static_cast<short>(43691));
  const __m256i zero = _mm256_setzero_si256();
  size_t p = 0;
  for (; p + 8 <= n; p += 8) {
    const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(In + 4 * p));
    __m256i* sumAt = reinterpret_cast<__m256i*>(Sum + 4 * p);
    // Sums of bytes 0-15 and 16-31.
    __m256i s0 = _mm256_add_epi16(_mm256_loadu_si256(sumAt), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(in)));
    __m256i s1 = _mm256_add_epi16(_mm256_loadu_si256(sumAt + 1), _mm256_cvtepu8_epi16(_mm256_extracti128_si256(in, 1)));
    if (Oldest != nullptr) {
      __m256i* oldAt = reinterpret_cast<__m256i*>(Oldest + 4 * p);
      const __m256i old = _mm256_loadu_si256(oldAt);
      s0 = _mm256_sub_epi16(s0, _mm256_cvtepu8_epi16(_mm256_castsi256_si128(old)));
      s1 = _mm256_sub_epi16(s1, _mm256_cvtepu8_epi16(_mm256_extracti128_si256(old, 1)));
      _mm256_storeu_si256(oldAt, in);
    }
    _mm256_storeu_si256(sumAt, s0);
    _mm256_storeu_si256(sumAt + 1, s1);
    __m256i a0, a1;
    if constexpr (Count == 3) {
      a0 = _mm256_srli_epi16(_mm256_mulhi_epu16(s0, third), 1);
      a1 = _mm256_srli_epi16(_mm256_mulhi_epu16(s1, third), 1);
    } else {
      a0 = _mm256_srli_epi16(s0, 1);
      a1 = _mm256_srli_epi16(s1, 1);
    }
    const __m256i avg = _mm256_permute4x64_epi64(_mm256_packus_epi16(a0, a1), 0xD8);
    __m256i* outAt = reinterpret_cast<__m256i*>(Out + 4 * p);
    const __m256i out = _mm256_loadu_si256(outAt);
    const __m256i diff = _mm256_or_si256(_mm256_subs_epu8(avg, out), _mm256_subs_epu8(out, avg));
    // Pixels whose four channels all stay within the threshold.
    const __m256i still = _mm256_cmpeq_epi32(_mm256_subs_epu8(diff, threshold), zero);
    Changed += 8 - __builtin_popcount(static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(still))));
    _mm256_storeu_si256(outAt, avg);
    if ((p + 8) % CheckEvery == 0 && Changed > Limit) {
      Scene = true;
      return p + 8;
    }
  }
  return p;
}

bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

template <int Count>
bool SmoothPass(const uint8_t* In, uint8_t* Oldest, uint16_t* Sum, uint8_t* Out, size_t n, int64_t Limit) {
  int64_t changed = 0;
  size_t done = 0;
#ifdef KZ_SMOOTH_AVX2
  if (CpuHasAvx2()) {
    bool scene = false;
    done = SmoothPassAvx2<Count>(In, Oldest, Sum, Out, n, changed, Limit, scene);
    if (scene || changed > Limit) return true;
  }
#endif
  return SmoothPassScalar<Count>(In, Oldest, Sum, Out, done, n, changed, Limit);
}

}  // namespace

void TKzMCustomBitmap::SetSmoothImage(bool On) {
  if (On == FSmoothImage) return;
  FSmoothImage = On;
  ListImg.clear();
  ListImg.shrink_to_fit();
  SumData.clear();
  SumData.shrink_to_fit();
  FSmoothCount = 0;
  if (On) RestartSmoothing();
}

void TKzMCustomBitmap::RestartSmoothing() {
  FSmoothCount = 0;
  if (!FSmoothImage) return;
  SumData.assign(static_cast<size_t>(GetLength()) * 4, 0);
}

void TKzMCustomBitmap::SmoothUpdate(const TKzMCustomBitmap& Frame) {
  const int64_t now = static_cast<int64_t>(KzMGetTickCount());
  if (now - UpdateTime > RestartAfterMs) RestartSmoothing();
  UpdateTime = now;

  const size_t n = static_cast<size_t>(GetLength());
  if (SumData.size() != n * 4) SumData.assign(n * 4, 0);
  if (n == 0) return;

  // History: oldest first. With three frames summed the oldest slot moves to
  // the end and is overwritten pixel by pixel with the new frame below.
  const bool full = FSmoothCount >= MaxHistory;
  if (!full) {
    if (static_cast<int32_t>(ListImg.size()) <= FSmoothCount) ListImg.push_back(std::make_unique<TKzMCustomBitmap>());
    ListImg[FSmoothCount]->CopyPixels(Frame);
    ++FSmoothCount;
  } else {
    std::rotate(ListImg.begin(), ListImg.begin() + 1, ListImg.begin() + MaxHistory);
  }

  const uint8_t* in = reinterpret_cast<const uint8_t*>(Frame.Data());
  uint8_t* out = reinterpret_cast<uint8_t*>(FData.data());
  uint16_t* sum = SumData.data();

  if (FSmoothCount == 1) {
    for (size_t i = 0; i < n * 4; ++i) sum[i] = in[i];
    memcpy(out, in, n * 4);
    return;
  }

  uint8_t* oldest = full ? reinterpret_cast<uint8_t*>(ListImg[MaxHistory - 1]->Data()) : nullptr;
  const int64_t limit = std::llround(static_cast<double>(n) * 0.1);
  const bool sceneChange = FSmoothCount == 3 ? SmoothPass<3>(in, oldest, sum, out, n, limit)
                                             : SmoothPass<2>(in, nullptr, sum, out, n, limit);
  if (!sceneChange) return;

  // Scene change: start again from the new frame alone.
  for (size_t i = 0; i < n * 4; ++i) sum[i] = in[i];
  memcpy(out, in, n * 4);
  if (full) {
    ListImg[0]->CopyPixels(Frame);
  } else {
    std::rotate(ListImg.begin(), ListImg.begin() + FSmoothCount - 1, ListImg.begin() + FSmoothCount);
  }
  FSmoothCount = 1;
}

}  // namespace kz
