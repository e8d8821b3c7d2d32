// Compression of stream payloads (zlib format, RFC 1950): one-shot helpers
// on streams, reusable deflate/inflate states for packet senders and
// readers, and compression blocks:
//
//   "mcBD", N (16-bit signed), |N| bytes, "mcED"
//
// N > 0: a zlib stream of N bytes; N <= 0: -N raw bytes. A block is valid
// only when "mcED" begins exactly |N| bytes after the length field.
// A sender writes raw bytes whenever compressing does not shrink the chunk.
//
// Any thread; an object belongs to one thread at a time. Nothing blocks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/fmxMKzPlatformStream.h"
#include "streaming/fmxMKzStreamTypes.h"

namespace kz {

// A deflate state kept between payloads (zlib's set-up is costly).
class TKzDeflater {
public:
  explicit TKzDeflater(int Level = 9);
  ~TKzDeflater();
  TKzDeflater(const TKzDeflater&) = delete;
  TKzDeflater& operator=(const TKzDeflater&) = delete;
  // The most bytes Compress may write for Size bytes of input.
  static size_t Bound(size_t Size);
  // Compresses Data into Out (room for Bound(Size) bytes); the bytes written, 0 on failure.
  size_t Compress(const uint8_t* Data, size_t Size, uint8_t* Out);

private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// An inflate state kept between blocks.
class TKzInflater {
public:
  TKzInflater();
  ~TKzInflater();
  TKzInflater(const TKzInflater&) = delete;
  TKzInflater& operator=(const TKzInflater&) = delete;
  // Inflates one whole zlib stream and appends the result to Out. False,
  // with Out as it was, when zlib reports an error, the stream is cut short
  // or the result would exceed Limit bytes (never allocated beyond Limit).
  bool Inflate(const uint8_t* Data, size_t Size, size_t Limit, std::vector<uint8_t>& Out);

private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// One-shot helpers on owned buffers (fresh zlib state each call).
bool KzDeflate(const uint8_t* Data, size_t Size, int Level, std::vector<uint8_t>& Out);
bool KzInflate(const uint8_t* Data, size_t Size, size_t Limit, std::vector<uint8_t>& Out);

// Replaces the stream's content by its zlib compression (default level) and rewinds it.
void PackStream(TMemoryStream& Stream);
// Inflates the Size bytes at position + Offset in place of them (bytes
// around the region stay) with at most KzInflateBound(Size) bytes out;
// NewSize is the inflated length; the stream is left just after them.
bool UnPackStream(TMemoryStream& Stream, int64_t Offset, int64_t Size, int64_t& NewSize);
// Inflates Size bytes at Source's position (which is kept) into at most
// KzInflateBound(Size) bytes and appends them to Dest when there is at least
// one. True without action when fewer than Size bytes remain.
bool UnPackStreamEx(TStream& Source, TStream& Dest, int64_t Size);

// ---- Compression blocks
// Appends one block of Size <= KZ_MAX_BLOCK_DATA bytes to Out: compressed by
// Deflater when that is smaller, raw otherwise. Returns the block's length.
size_t KzAppendBlock(std::vector<uint8_t>& Out, const uint8_t* Chunk, size_t Size, TKzDeflater& Deflater);

enum class TKzBlockResult : uint8_t { kzbrOk = 0, kzbrIncomplete = 1, kzbrMisplacedEnd = 2 };
// Reads the block at Data (which begins with "mcBD"). Ok: N is its length
// field, its data starts at Data + 6 and Used is the whole block.
TKzBlockResult KzParseBlock(const uint8_t* Data, size_t Size, int16_t& N, size_t& Used);
// Every valid block of Data in turn, raw or inflated (at most
// KzInflateBound of its size each), appended to Out; garbage, misplaced end
// markers and blocks that do not inflate are skipped. Returns the blocks dropped.
size_t KzReadAllBlocks(const uint8_t* Data, size_t Size, std::vector<uint8_t>& Out, TKzInflater& Inflater);

}  // namespace kz
