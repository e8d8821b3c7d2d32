// The code and value blocks of one quantised HWL plane: 2-bit codes four to
// a byte (the first in the low bits) and values of b bits, least
// significant bit first. Codes: 0 one zero; 1 a run (the next code slot
// holds the run's high part, the value its low part; r + 1 zeros); 2 +v;
// 3 -v. Packing and unpacking go a 32-bit word at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kz {

struct THWLCodedPlane {
  std::vector<uint8_t> Codes;   // packed, CodeBytes of them used
  std::vector<uint8_t> Values;  // packed, ValueBytes of them used
  size_t CodeBytes = 0;
  size_t ValueBytes = 0;
  uint32_t CodeCount = 0;
  uint32_t ValueCount = 0;
};

// Codes the N values of Q with Bits (1..8) bits a value into Out, whose
// buffers grow when needed and are reused.
void KzHWLCodePlane(const int32_t* Q, int64_t N, int32_t Bits, THWLCodedPlane& Out);
// Walks codes and values into the N entries of Q; stops where the codes, the
// values or the plane end, or a run would reach the plane's end; what the
// walk does not reach is 0. Bits 1..16.
void KzHWLDecodePlane(const uint8_t* Codes, uint32_t CodeCount, const uint8_t* Values, size_t ValueBytes,
                      uint32_t ValueCount, int32_t Bits, int32_t* Q, int64_t N);

}  // namespace kz
