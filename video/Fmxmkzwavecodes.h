// The code and value blocks of one quantised HWL plane: 2-bit codes four to
// a byte (the first in the low bits) and values of b bits, least
// significant bit first. Codes: 0 one zero; 1 a run (the next code slot
// holds the run's high part, the value its low part; r + 1 zeros); 2 +v;
// 3 -v. Packing and unpacking go a 32-bit word at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/fmxMKzByteOrder.h"

namespace kz {

struct THWLCodedPlane {
  std::vector<uint8_t> Codes;   // packed, CodeBytes of them used
  std::vector<uint8_t> Values;  // packed, ValueBytes of them used
  size_t CodeBytes = 0;
  size_t ValueBytes = 0;
  uint32_t CodeCount = 0;
  uint32_t ValueCount = 0;
};

// Bit packing, a machine word at a time.
// Writes into a buffer with room for everything put plus 8 bytes.
class TKzHWLBitWriter {
 public:
  explicit TKzHWLBitWriter(uint8_t* Out) : FOut(Out), FStart(Out) {}
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

// Codes the N values of one plane with Bits (1..8) bits a value into Out
// (whose buffers grow when needed and are reused), given a part at a time in
// order: Add the next Count values, Finish after the last.
class TKzHWLPlaneCoder {
 public:
  TKzHWLPlaneCoder(THWLCodedPlane& Out, int64_t N, int32_t Bits);
  void Add(const int32_t* Q, int64_t Count);
  void Finish();

  // What is kept between parts.
  struct TState {
    TKzHWLBitWriter Codes{nullptr}, Values{nullptr};
    int64_t At = 0;     // values given so far
    int64_t Zeros = 0;  // zeros counted, not yet written
    uint32_t CodeCount = 0, ValueCount = 0;
  };

 private:
  THWLCodedPlane& FOut;
  TState FState;
  const int64_t FN;
  const int32_t FBits;
};

// The whole plane in one part.
void KzHWLCodePlane(const int32_t* Q, int64_t N, int32_t Bits, THWLCodedPlane& Out);
// Walks codes and values into the N entries of Q; stops where the codes, the
// values or the plane end, or a run would reach the plane's end; what the
// walk does not reach is 0. Bits 1..16.
void KzHWLDecodePlane(const uint8_t* Codes, uint32_t CodeCount, const uint8_t* Values, size_t ValueBytes,
                      uint32_t ValueCount, int32_t Bits, int32_t* Q, int64_t N);

}  // namespace kz
