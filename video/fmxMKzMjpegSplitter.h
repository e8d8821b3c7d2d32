// Cutting a Motion-JPEG byte stream (multipart parts, bare JPEGs) into its
// JPEG frames, once, on the thread that receives it: each frame is copied
// once into a buffer that its takers share read-only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kz {

// A whole frame's bytes, shared read-only by everybody who keeps it.
using TKzSharedBytes = std::shared_ptr<const std::vector<uint8_t>>;

// Frame buffers handed round: shared bytes come back here when their last
// holder lets go (on any thread), so a steady stream reuses a few buffers
// instead of allocating and faulting in a fresh one per frame.
class TKzFrameBytesPool {
public:
  static constexpr size_t MaxKept = 8;
  static constexpr size_t MaxKeptBytes = 1u << 20;  // a larger buffer is freed
  // An empty buffer, with the room of one given back when there is one. Any thread.
  std::vector<uint8_t> Take();
  // Bytes shared read-only, to come back when no longer held. Any thread.
  TKzSharedBytes Share(std::vector<uint8_t>&& Bytes);

private:
  struct TFree {
    std::mutex Lock;
    std::vector<std::vector<uint8_t>> Buffers;
  };
  std::shared_ptr<TFree> FFree = std::make_shared<TFree>();
};

// A frame runs from the start marker FF D8 nearest before an end marker
// FF D9 through that end marker; bytes between frames (part headers,
// garbage, a truncated frame) are skipped. Pieces of any size give the same
// frames as the whole stream. Not locked: one feeding thread.
class TKzMjpegSplitter {
public:
  // A stream that never closes a frame keeps at most this much.
  static constexpr size_t MaxPendingBytes = 8u << 20;
  // Appends Size bytes; each frame they complete is added to Frames.
  void Add(const uint8_t* Data, size_t Size, std::vector<TKzSharedBytes>& Frames);
  void Clear() {
    FPending.clear();
    FLastStart = -1;
  }
  // The bytes kept for the next piece: a frame begun (from its start
  // marker), or a last byte FF that may begin a marker.
  const std::vector<uint8_t>& Pending() const { return FPending; }
  TKzFrameBytesPool& Pool() { return FPool; }

private:
  // Cuts the frames of D[0, Size) whose end marker starts at From or later;
  // returns how many leading bytes they used up. Start is the last start
  // marker known before From (-1: none) and becomes the last one after
  // the bytes used up.
  size_t Cut(const uint8_t* D, size_t Size, size_t From, int64_t& Start, std::vector<TKzSharedBytes>& Frames);
  // Keeps what of D[0, Size) may still become a frame: from its first start
  // marker (LastStart is its last one, -1 when there is none), else a last
  // byte FF.
  void Keep(const uint8_t* D, size_t Size, int64_t LastStart);
  std::vector<uint8_t> FPending;
  int64_t FLastStart = -1;  // the last start marker in FPending
  TKzFrameBytesPool FPool;
};

}  // namespace kz
