// Decoding and encoding of UTF-8 text one code point at a time. Pure, any thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kz {

constexpr uint32_t KzReplacementChar = 0xFFFD;

// The code point of Text at I, I advanced past it. A malformed sequence
// (bad lead or continuation byte, truncated, overlong, a surrogate, above
// U+10FFFF) gives U+FFFD and skips one byte. I must be below Text.size().
inline uint32_t KzNextCodePoint(std::string_view Text, size_t& I) {
  const auto b = [&](size_t k) { return static_cast<uint8_t>(Text[k]); };
  const uint8_t c = b(I);
  const size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
  if (n == 0) return b(I++);
  uint32_t cp = c & (0x3F >> n);
  for (size_t k = 1; k <= n && n < 4; ++k) {
    if (I + k >= Text.size() || (b(I + k) & 0xC0) != 0x80) break;
    cp = (cp << 6) | (b(I + k) & 0x3F);
    if (k == n) {
      I += n + 1;
      static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
      if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return KzReplacementChar;
      return cp;
    }
  }
  ++I;
  return KzReplacementChar;
}

// Appends code point C to Out as UTF-8 (C at most U+10FFFF).
inline void KzAppendUTF8(std::string& Out, uint32_t C) {
  if (C < 0x80) {
    Out += static_cast<char>(C);
  } else if (C < 0x800) {
    Out += static_cast<char>(0xC0 | (C >> 6));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Out += static_cast<char>(0xE0 | (C >> 12));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (C >> 18));
    Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  }
}

}  // namespace kz
