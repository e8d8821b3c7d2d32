#include "inet/fmxMKzSHA1.h"

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
  FBlocks.Reset();
}

void TKzSHA1::Transform(const uint8_t* Block) {
  uint32_t w[80];
  FBlocks.LoadWords(Block, w, 16);
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
  FBlocks.Update(Data, Length, [this](const uint8_t* Block) { Transform(Block); });
}

TSHA1Digest TKzSHA1::Final() {
  FBlocks.Finish([this](const uint8_t* Block) { Transform(Block); });
  TSHA1Digest d;
  FBlocks.StoreWords(FState, d.data(), 5);
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
