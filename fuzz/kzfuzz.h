// Helpers shared by the fuzz targets: a failed check that stops the run (as
// a trap, which libFuzzer and the replay driver both report), the input as
// text or as a stream, and a reader that takes values off the input.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/fmxMKzPlatformStream.h"

namespace kzfuzz {

inline void Check(bool Ok) {
  if (!Ok) __builtin_trap();
}

inline std::string Text(const uint8_t* Data, size_t Size) { return std::string(reinterpret_cast<const char*>(Data), Size); }

// Writes the input into S and puts the position back at its start.
inline void Load(kz::TMemoryStream& S, const uint8_t* Data, size_t Size) {
  S.Write(Data, static_cast<int64_t>(Size));
  S.SetPosition(0);
}

// Values taken off the input in order; zeros once it runs out.
struct TReader {
  const uint8_t* P;
  size_t Left;
  template <class T>
  T Take() {
    T v{};
    const size_t n = Left < sizeof(T) ? Left : sizeof(T);
    if (n) memcpy(&v, P, n);
    P += n;
    Left -= n;
    return v;
  }
  uint8_t Byte() { return Take<uint8_t>(); }
  int32_t Int(int32_t Lo, int32_t Hi) { return Lo + static_cast<int32_t>(Take<uint16_t>() % (Hi - Lo + 1)); }
};

}  // namespace kzfuzz
