// MD5 digests (RFC 1321) of texts, buffers, streams and files.
// All functions: any thread, never block (MD5File reads the file).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "inet/fmxMKzHashBlocks.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

using TMD5Digest = std::array<uint8_t, 16>;

// Incremental digest, for data that arrives in pieces.
class TKzMD5 {
public:
  TKzMD5() { Reset(); }
  void Reset();
  void Update(const void* Data, size_t Length);
  TMD5Digest Final();

private:
  void Transform(const uint8_t* Block);
  uint32_t FState[4];
  TKzHashBlocks<TKzHashByteOrder::LittleEndian> FBlocks;
};

// The UTF-8 bytes of Text.
TMD5Digest MD5String(const std::string& Text);
TMD5Digest MD5Buffer(const void* Buffer, size_t Length);
// The whole stream from its start; the position is left at the end.
TMD5Digest MD5Stream(TStream& Stream);
// The file's bytes; the digest of nothing when the file cannot be read.
TMD5Digest MD5File(const std::string& FileName);
// 32 hexadecimal digits, upper case.
std::string MD5DigestToStr(const TMD5Digest& Digest);
// 32 hexadecimal digits, lower case.
std::string MD5Print(const TMD5Digest& Digest);
bool MD5DigestCompare(const TMD5Digest& A, const TMD5Digest& B);

}  // namespace kz
