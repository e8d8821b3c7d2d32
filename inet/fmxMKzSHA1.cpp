#include "inet/fmxMKzSHA1.h"

#include <algorithm>
#include <cstring>

namespace kz {

namespace {
constexpr uint32_t Rol(uint32_t X, int N) { return (X << N) | (X >> (32 - N)); }
}  // namespace

void TKzSHA1::Reset() {
  FState[0] = 0x67452301u;
  FState[1] = 0xEFCDAB89u;
  FState[2] = 0x98BADCFEu;
  FState[3] = 0x10325476u;
  FState[4] = 0xC3D2E1F0u;
  FLength = 0;
}

void TKzSHA1::Transform(const uint8_t* Block) {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t)
    w[t] = (uint32_t(Block[4 * t]) << 24) | (uint32_t(Block[4 * t + 1]) << 16) | (uint32_t(Block[4 * t + 2]) << 8) |
           uint32_t(Block[4 * t + 3]);
  for (int t = 16; t < 80; ++t) w[t] = Rol(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3], e = FState[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    const uint32_t temp = Rol(a, 5) + f + e + w[t] + k;
    e = d;
    d = c;
    c = Rol(b, 30);
    b = a;
    a = temp;
  }
  FState[0] += a;
  FState[1] += b;
  FState[2] += c;
  FState[3] += d;
  FState[4] += e;
}

void TKzSHA1::Update(const void* Data, size_t Length) {
  const auto* p = static_cast<const uint8_t*>(Data);
  size_t used = static_cast<size_t>(FLength % 64);
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

TSHA1Digest TKzSHA1::Final() {
  const uint64_t bits = FLength * 8;
  static const uint8_t pad[64] = {0x80};
  const size_t used = static_cast<size_t>(FLength % 64);
  Update(pad, used < 56 ? 56 - used : 120 - used);
  uint8_t len[8];
  for (int i = 0; i < 8; ++i) len[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Update(len, 8);
  TSHA1Digest d;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) d[static_cast<size_t>(4 * i + j)] = static_cast<uint8_t>(FState[i] >> (24 - 8 * j));
  Reset();
  return d;
}

TSHA1Digest SHA1Buffer(const void* Buffer, size_t Length) {
  TKzSHA1 s;
  s.Update(Buffer, Length);
  return s.Final();
}

TSHA1Digest SHA1String(const std::string& Text) { return SHA1Buffer(Text.data(), Text.size()); }

std::string SHA1Print(const TSHA1Digest& Digest) {
  static const char hex[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : Digest) {
    s += hex[b >> 4];
    s += hex[b & 15];
  }
  return s;
}

std::string SHA1Bytes(const TSHA1Digest& Digest) { return std::string(Digest.begin(), Digest.end()); }

}  // namespace kz
