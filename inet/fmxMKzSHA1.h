// SHA-1 digests (RFC 3174), beside MD5: WS-Security password digests need
// them. All functions: any thread, never block.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kz {

using TSHA1Digest = std::array<uint8_t, 20>;

// Incremental digest, for data that arrives in pieces.
class TKzSHA1 {
public:
  TKzSHA1() { Reset(); }
  void Reset();
  void Update(const void* Data, size_t Length);
  TSHA1Digest Final();

private:
  void Transform(const uint8_t* Block);
  uint32_t FState[5];
  uint64_t FLength;  // bytes so far
  uint8_t FBlock[64];
};

TSHA1Digest SHA1String(const std::string& Text);
TSHA1Digest SHA1Buffer(const void* Buffer, size_t Length);
// 40 hexadecimal digits, lower case.
std::string SHA1Print(const TSHA1Digest& Digest);
// The 20 digest bytes as a string (for Base64 and the like).
std::string SHA1Bytes(const TSHA1Digest& Digest);

}  // namespace kz
