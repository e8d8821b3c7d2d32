#include "inet/fmxMKzMD5.h"

namespace kz {

namespace {
constexpr uint32_t K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr uint8_t R[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                           5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                           4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                           6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

inline uint32_t Rotl(uint32_t x, uint32_t c) { return (x << c) | (x >> (32 - c)); }

std::string Hex(const TMD5Digest& D, const char* Digits) {
  std::string s(32, '0');
  for (size_t i = 0; i < 16; ++i) {
    s[2 * i] = Digits[D[i] >> 4];
    s[2 * i + 1] = Digits[D[i] & 15];
  }
  return s;
}
}  // namespace

void TKzMD5::Reset() {
  FState[0] = 0x67452301;
  FState[1] = 0xefcdab89;
  FState[2] = 0x98badcfe;
  FState[3] = 0x10325476;
  FBlocks.Reset();
}

void TKzMD5::Transform(const uint8_t* Block) {
  uint32_t M[16];
  FBlocks.LoadWords(Block, M, 16);
  uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3];
  for (uint32_t i = 0; i < 64; ++i) {
    uint32_t f, g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) & 15;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) & 15;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) & 15;
    }
    const uint32_t t = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + K[i] + M[g], R[i]);
    a = t;
  }
  FState[0] += a;
  FState[1] += b;
  FState[2] += c;
  FState[3] += d;
}

void TKzMD5::Update(const void* Data, size_t Length) {
  FBlocks.Update(Data, Length, [this](const uint8_t* Block) { Transform(Block); });
}

TMD5Digest TKzMD5::Final() {
  FBlocks.Finish([this](const uint8_t* Block) { Transform(Block); });
  TMD5Digest out;
  FBlocks.StoreWords(FState, out.data(), 4);
  Reset();
  return out;
}

TMD5Digest MD5Buffer(const void* Buffer, size_t Length) {
  TKzMD5 m;
  m.Update(Buffer, Length);
  return m.Final();
}

TMD5Digest MD5String(const std::string& Text) { return MD5Buffer(Text.data(), Text.size()); }

TMD5Digest MD5Stream(TStream& Stream) {
  TKzMD5 m;
  Stream.SetPosition(0);
  uint8_t buf[65536];
  for (;;) {
    const int64_t n = Stream.Read(buf, sizeof buf);
    if (n <= 0) break;
    m.Update(buf, static_cast<size_t>(n));
  }
  return m.Final();
}

TMD5Digest MD5File(const std::string& FileName) {
  TFileStream f(FileName, TFileMode::fmOpenRead);
  if (!f.Valid()) return MD5Buffer(nullptr, 0);
  return MD5Stream(f);
}

std::string MD5DigestToStr(const TMD5Digest& Digest) { return Hex(Digest, "0123456789ABCDEF"); }
std::string MD5Print(const TMD5Digest& Digest) { return Hex(Digest, "0123456789abcdef"); }
bool MD5DigestCompare(const TMD5Digest& A, const TMD5Digest& B) { return A == B; }

}  // namespace kz
