#include "video/Fmxmkzwavecodes.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "foundation/fmxMKzByteOrder.h"

namespace kz {

namespace {

// ---- Bit reading, a machine word at a time.
class TBitReader {
 public:
  TBitReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  // Bits at most 32; past the end the bits are 0.
  uint32_t Get(int32_t Bits) {
    if (FCount < Bits) Refill();
    const uint32_t v = static_cast<uint32_t>(FAcc & ((uint64_t{1} << Bits) - 1));
    FAcc >>= Bits;
    FCount -= Bits;
    return v;
  }

 private:
  void Refill() {
    if (FPos + 4 <= FSize) {
      FAcc |= static_cast<uint64_t>(KzGetLE<uint32_t>(FData + FPos)) << FCount;
      FPos += 4;
      FCount += 32;
      return;
    }
    while (FCount <= 56) {  // the last bytes, then zeros
      const uint64_t byte = FPos < FSize ? FData[FPos] : 0;
      ++FPos;
      FAcc |= byte << FCount;
      FCount += 8;
    }
  }

  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
  uint64_t FAcc = 0;
  int32_t FCount = 0;
};

// Bit k set where Q[k] is not 0, for the 64 entries from Q.
uint64_t NonzeroMask64(const int32_t* Q) {
  uint64_t zeros = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (int k = 0; k < 64; k += 4) {
    const __m128i equal = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Q + k)), zero);
    zeros |= static_cast<uint64_t>(_mm_movemask_ps(_mm_castsi128_ps(equal))) << k;
  }
#else
  for (int k = 0; k < 64; ++k) zeros |= static_cast<uint64_t>(Q[k] == 0) << k;
#endif
  return ~zeros;
}

// Zeros are counted and go out before the next nonzero coefficient (or at
// the plane's end): runs of 2^(b+2) while that many are left, then one run
// of the rest if more than (b+4)/2 + 1 are left, else single zeros. Works
// on its own copy of the state, so that the compiler keeps it in registers
// while bytes are written.
class TCoding {
 public:
  TCoding(const TKzHWLPlaneCoder::TState& S, int32_t Bits)
      : S(S), FBits(Bits), FLow((1u << Bits) - 1), FMaxRun(int64_t{1} << (Bits + 2)), FMinRun((Bits + 4) / 2) {}
  void Value(int32_t Q) {
    FlushZeros();
    const uint32_t magnitude = Q > 0 ? static_cast<uint32_t>(Q) : 0u - static_cast<uint32_t>(Q);
    S.Codes.Put(Q > 0 ? 2 : 3, 2);
    S.Values.Put(magnitude & 0xFF & FLow, FBits);
    ++S.CodeCount;
    ++S.ValueCount;
  }
  void FlushZeros() {
    if (S.Zeros == 0) return;
    for (; S.Zeros >= FMaxRun; S.Zeros -= FMaxRun) Run(FMaxRun - 1);
    if (S.Zeros > FMinRun + 1) {
      Run(S.Zeros - 1);
    } else if (S.Zeros > 0) {
      S.Codes.Put(0, static_cast<int32_t>(2 * S.Zeros));
      S.CodeCount += static_cast<uint32_t>(S.Zeros);
    }
    S.Zeros = 0;
  }

  TKzHWLPlaneCoder::TState S;

 private:
  // r + 1 zeros: code 1, the high part of r as the next code, the low part
  // as a value.
  void Run(int64_t R) {
    S.Codes.Put(1 | static_cast<uint32_t>(R >> FBits) << 2, 4);
    S.Values.Put(static_cast<uint32_t>(R) & FLow, FBits);
    S.CodeCount += 2;
    ++S.ValueCount;
  }

  const int32_t FBits;
  const uint32_t FLow;
  const int64_t FMaxRun, FMinRun;
};

}  // namespace

TKzHWLPlaneCoder::TKzHWLPlaneCoder(THWLCodedPlane& Out, int64_t N, int32_t Bits) : FOut(Out), FN(N), FBits(Bits) {
  // At most one code and one value (of at most 8 bits) a coefficient.
  const size_t room = static_cast<size_t>(N) + 16;
  if (Out.Codes.size() < room / 4 + 16) Out.Codes.resize(room / 4 + 16);
  if (Out.Values.size() < room) Out.Values.resize(room);
  FState.Codes = TKzHWLBitWriter(Out.Codes.data());
  FState.Values = TKzHWLBitWriter(Out.Values.data());
}

void TKzHWLPlaneCoder::Add(const int32_t* Q, int64_t Count) {
  TCoding c(FState, FBits);
  // The last coefficient is never inside a run: it goes alone, after the
  // zeros before it.
  const int64_t body = std::min(Count, FN - 1 - c.S.At);
  int64_t i = 0;
  for (; i + 64 <= body; i += 64) {
    int64_t at = i;  // the first not yet counted
    for (uint64_t nonzero = NonzeroMask64(Q + i); nonzero != 0; nonzero &= nonzero - 1) {
      const int64_t k = i + std::countr_zero(nonzero);
      c.S.Zeros += k - at;
      c.Value(Q[k]);
      at = k + 1;
    }
    c.S.Zeros += i + 64 - at;
  }
  for (; i < body; ++i) {
    if (Q[i] == 0)
      ++c.S.Zeros;
    else
      c.Value(Q[i]);
  }
  c.S.At += body;
  if (body < Count && c.S.At == FN - 1) {
    c.FlushZeros();
    if (Q[body] == 0)
      c.S.Zeros = 1;  // alone, so a code 0
    else
      c.Value(Q[body]);
    c.FlushZeros();
    ++c.S.At;
  }
  FState = c.S;
}

void TKzHWLPlaneCoder::Finish() {
  TCoding c(FState, FBits);
  c.FlushZeros();
  FOut.CodeBytes = c.S.Codes.Flush();
  FOut.ValueBytes = c.S.Values.Flush();
  FOut.CodeCount = c.S.CodeCount;
  FOut.ValueCount = c.S.ValueCount;
  FState = c.S;
}

void KzHWLCodePlane(const int32_t* Q, int64_t N, int32_t Bits, THWLCodedPlane& Out) {
  TKzHWLPlaneCoder coder(Out, N, Bits);
  coder.Add(Q, N);
  coder.Finish();
}

void KzHWLDecodePlane(const uint8_t* Codes, uint32_t CodeCount, const uint8_t* Values, size_t ValueBytes,
                 uint32_t ValueCount, int32_t Bits, int32_t* Q, int64_t N) {
  TBitReader values(Values, ValueBytes);
  auto code = [&](uint32_t j) { return static_cast<uint32_t>(Codes[j >> 2] >> (2 * (j & 3))) & 3; };
  uint32_t ci = 0, vi = 0;
  int64_t oi = 0;
  const auto finish = [&] { std::fill(Q + oi, Q + N, 0); };
  while (ci < CodeCount && vi < ValueCount && oi < N) {
    const uint32_t c = code(ci);
    if (c != 1) {
      // 0, +v or -v without a branch: codes 2 and 3 take a value, 3 negates it.
      const uint32_t take = c >> 1, negate = 0u - (c & 1);
      const uint32_t v = values.Get(Bits * static_cast<int32_t>(take));
      Q[oi] = static_cast<int32_t>((v ^ negate) - negate);
      vi += take;
      ++ci;
      ++oi;
      continue;
    }
    if (++ci >= CodeCount) return finish();
    const int64_t r = (static_cast<int64_t>(code(ci)) << Bits) + values.Get(Bits);
    ++vi;
    if (oi + r + 1 >= N) return finish();
    std::fill_n(Q + oi, r + 1, 0);
    oi += r + 1;
    ++ci;
  }
  finish();
}

}  // namespace kz
