// What MD5 and SHA-1 share: input gathered into 64-byte blocks, the final
// padding (0x80, zeros, the message length in bits) and the conversion of
// 32-bit words. The two differ only in byte order: MD5 is little-endian,
// SHA-1 big-endian. Any thread, never blocks.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kz {

enum class TKzHashByteOrder { LittleEndian, BigEndian };

template <TKzHashByteOrder Order>
class TKzHashBlocks {
public:
  void Reset() { FLength = 0; }

  // Calls Transform(const uint8_t* Block) for every block completed by Data.
  template <class TTransform>
  void Update(const void* Data, size_t Length, TTransform&& Transform) {
    const auto* p = static_cast<const uint8_t*>(Data);
    const size_t used = static_cast<size_t>(FLength % 64);
    FLength += Length;
    if (used) {
      const size_t take = std::min(Length, 64 - used);
      std::memcpy(FBlock + used, p, take);
      p += take;
      Length -= take;
      if (used + take < 64) return;
      Transform(FBlock);
    }
    for (; Length >= 64; p += 64, Length -= 64) Transform(p);
    if (Length) std::memcpy(FBlock, p, Length);
  }

  // Pads the message so that its last block ends with its length in bits.
  template <class TTransform>
  void Finish(TTransform&& Transform) {
    const uint64_t bits = FLength * 8;
    static const uint8_t pad[64] = {0x80};
    const size_t used = static_cast<size_t>(FLength % 64);
    Update(pad, used < 56 ? 56 - used : 120 - used, Transform);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i) len[i] = static_cast<uint8_t>(bits >> Shift(i, 8));
    Update(len, 8, Transform);
  }

  // Count words from bytes, and back.
  static void LoadWords(const uint8_t* Bytes, uint32_t* Words, int Count) {
    for (int w = 0; w < Count; ++w) {
      Words[w] = 0;
      for (int i = 0; i < 4; ++i) Words[w] |= uint32_t(Bytes[4 * w + i]) << Shift(i, 4);
    }
  }
  static void StoreWords(const uint32_t* Words, uint8_t* Bytes, int Count) {
    for (int w = 0; w < Count; ++w)
      for (int i = 0; i < 4; ++i) Bytes[4 * w + i] = static_cast<uint8_t>(Words[w] >> Shift(i, 4));
  }

private:
  // The bit shift of byte I of an N-byte number.
  static constexpr int Shift(int I, int N) { return 8 * (Order == TKzHashByteOrder::BigEndian ? N - 1 - I : I); }

  uint64_t FLength = 0;  // bytes so far
  uint8_t FBlock[64];
};

}  // namespace kz
