// What the event recorder's parts pass between them: compressed video
// packets on the recorder's millisecond clock, the stream they belong to,
// and motion events with the regions seen in them.
#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/fmxMKzType.h"

namespace kz {

// The codec and set-up of a stream of packets (FFmpeg's codec number).
struct TKzEventStreamInfo {
  int32_t CodecId = 0;
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Extra;  // H.264/H.265 parameter sets, as the source gave them
  bool SameAs(const TKzEventStreamInfo& O) const {
    return CodecId == O.CodecId && Width == O.Width && Height == O.Height && Extra == O.Extra;
  }
};

// One compressed frame. Times are milliseconds on the recorder's clock;
// Pts may lie after Dts (reordered codecs).
struct TKzEventPacket {
  std::shared_ptr<const std::vector<uint8_t>> Data;
  std::shared_ptr<const TKzEventStreamInfo> Stream;
  int64_t Dts = 0, Pts = 0;
  bool Key = false;
  size_t Size() const { return Data ? Data->size() : 0; }
  // Bytes this packet holds in memory, its bookkeeping included.
  size_t MemoryBytes() const { return Size() + sizeof(TKzEventPacket) + 64; }
};

// A rectangle of the picture (full-frame pixels, right and bottom exclusive).
struct TKzEventRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int64_t Area() const { return int64_t(Right - Left) * int64_t(Bottom - Top); }
  bool Empty() const { return Right <= Left || Bottom <= Top; }
  void Unite(const TKzEventRect& R) {
    if (R.Empty()) return;
    if (Empty()) {
      *this = R;
      return;
    }
    Left = std::min(Left, R.Left);
    Top = std::min(Top, R.Top);
    Right = std::max(Right, R.Right);
    Bottom = std::max(Bottom, R.Bottom);
  }
};

// One motion event: motion seen from StartMs to EndMs (the times of the
// first and the last moving frame) inside Bounds.
struct TKzMotionEvent {
  int64_t StartMs = 0, EndMs = 0;
  TKzEventRect Bounds;
};

// What the recorder writes.
enum class TKzEventRecordMode : uint8_t {
  kzermMotionClips = 0,
  kzermContinuous = 1,
  kzermBoth = 2,
};

}  // namespace kz
