// De-chunking: never writes past the input, and gives the same bytes however
// the body is split across reads (the first input byte picks the split).
#include <cstdint>
#include <cstring>
#include <string>

#include "inet/fmxMKzInetReply.h"

static std::string DeChunk(const std::string& Wire, size_t Piece, kz::TKzChunkState& S) {
  S.ResetChunks(true);
  std::string out;
  for (size_t i = 0; i < Wire.size(); i += Piece) {
    std::string part = Wire.substr(i, Piece);
    const size_t n = kz::KzDeChunk(S, reinterpret_cast<uint8_t*>(part.data()), part.size());
    if (n > part.size()) __builtin_trap();
    out.append(part.data(), n);
  }
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  const size_t piece = 1 + Data[0] % 16;
  const std::string wire(reinterpret_cast<const char*>(Data + 1), Size - 1);
  kz::TKzChunkState a, b;
  const std::string whole = DeChunk(wire, wire.size() + 1, a);
  const std::string split = DeChunk(wire, piece, b);
  if (whole != split || a.ChunkEnded != b.ChunkEnded || a.Chunked != b.Chunked) __builtin_trap();
  return 0;
}
