#include "video/Fmxmkzwavecodes.h"

#include <algorithm>

#include "foundation/fmxMKzByteOrder.h"

namespace kz {

namespace {

// ---- Bit packing, a machine word at a time.
// Writes into a buffer with room for everything put plus 8 bytes.
class TBitWriter {
 public:
  explicit TBitWriter(uint8_t* Out) : FOut(Out), FStart(Out) {}
  // Value must fit in Bits (at most 32) bits.
  void Put(uint32_t Value, int32_t Bits) {
    FAcc |= static_cast<uint64_t>(Value) << FCount;
    FCount += Bits;
    if (FCount >= 32) {
      KzPutLE<uint32_t>(FOut, static_cast<uint32_t>(FAcc));
      FOut += 4;
      FAcc >>= 32;
      FCount -= 32;
    }
  }
  // Bytes written, the last one padded with 0 bits.
  size_t Flush() {
    KzPutLE<uint64_t>(FOut, FAcc);
    return static_cast<size_t>(FOut - FStart) + static_cast<size_t>(FCount + 7) / 8;
  }

 private:
  uint8_t* FOut;
  uint8_t* FStart;
  uint64_t FAcc = 0;
  int32_t FCount = 0;
};

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

// How many of Q[0..Limit) are 0 before the first that is not (0 for a
// Limit below 1); four at a time while all four are.
int64_t ZerosFrom(const int32_t* Q, int64_t Limit) {
  int64_t k = 0;
  while (k + 4 <= Limit && (Q[k] | Q[k + 1] | Q[k + 2] | Q[k + 3]) == 0) k += 4;
  while (k < Limit && Q[k] == 0) ++k;
  return k;
}

}  // namespace

void KzHWLCodePlane(const int32_t* Q, int64_t N, int32_t Bits, THWLCodedPlane& Out) {
  // At most one code and one value (of at most 8 bits) a coefficient.
  const size_t room = static_cast<size_t>(N) + 16;
  if (Out.Codes.size() < room / 4 + 16) Out.Codes.resize(room / 4 + 16);
  if (Out.Values.size() < room) Out.Values.resize(room);
  TBitWriter codes(Out.Codes.data()), values(Out.Values.data());
  uint32_t codeCount = 0, valueCount = 0;
  const int64_t maxRun = int64_t{1} << (Bits + 2);
  const int64_t minRun = (Bits + 4) / 2;
  const uint32_t low = (1u << Bits) - 1;
  for (int64_t i = 0; i < N; ++i) {
    const int32_t q = Q[i];
    if (q != 0) {
      const uint32_t magnitude = q > 0 ? static_cast<uint32_t>(q) : 0u - static_cast<uint32_t>(q);
      codes.Put(q > 0 ? 2 : 3, 2);
      values.Put(magnitude & 0xFF & low, Bits);
      ++codeCount;
      ++valueCount;
      continue;
    }
    // Further zeros, no more than a run holds and never the last coefficient.
    const int64_t r = ZerosFrom(Q + i + 1, std::min(maxRun - 1, N - 2 - i));
    if (r > minRun) {
      codes.Put(1 | static_cast<uint32_t>(r >> Bits) << 2, 4);
      values.Put(static_cast<uint32_t>(r) & low, Bits);
      codeCount += 2;
      ++valueCount;
      i += r;
    } else {
      codes.Put(0, 2);
      ++codeCount;
    }
  }
  Out.CodeBytes = codes.Flush();
  Out.ValueBytes = values.Flush();
  Out.CodeCount = codeCount;
  Out.ValueCount = valueCount;
}

void KzHWLDecodePlane(const uint8_t* Codes, uint32_t CodeCount, const uint8_t* Values, size_t ValueBytes,
                 uint32_t ValueCount, int32_t Bits, int32_t* Q, int64_t N) {
  TBitReader values(Values, ValueBytes);
  auto code = [&](uint32_t j) { return (Codes[j >> 2] >> (2 * (j & 3))) & 3; };
  uint32_t ci = 0, vi = 0;
  int64_t oi = 0;
  const auto finish = [&] { std::fill(Q + oi, Q + N, 0); };
  while (ci < CodeCount && vi < ValueCount && oi < N) {
    switch (code(ci)) {
      case 0:
        Q[oi] = 0;
        break;
      case 2:
        Q[oi] = static_cast<int32_t>(values.Get(Bits));
        ++vi;
        break;
      case 3:
        Q[oi] = -static_cast<int32_t>(values.Get(Bits));
        ++vi;
        break;
      default: {
        if (++ci >= CodeCount) return finish();
        const int64_t r = (static_cast<int64_t>(code(ci)) << Bits) + values.Get(Bits);
        ++vi;
        if (oi + r + 1 >= N) return finish();
        std::fill_n(Q + oi, r + 1, 0);
        oi += r;
      }
    }
    ++ci;
    ++oi;
  }
  finish();
}

}  // namespace kz
