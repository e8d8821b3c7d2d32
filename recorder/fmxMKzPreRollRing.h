// The pre-roll: the last few seconds of a stream kept as compressed packets,
// always beginning with a key frame, so that a clip can start before the
// moment that triggered it without any decoding or encoding. Not locked:
// its owner serialises the calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>

#include "recorder/fmxMKzEventTypes.h"

namespace kz {

class TKzPreRollRing {
public:
  // Keeps at least SpanMs before the newest packet (from the last key frame
  // at or before that point); never more than MaxBytes, dropping whole
  // groups of pictures from the front when a stream would exceed it.
  explicit TKzPreRollRing(int64_t SpanMs = 5000, size_t MaxBytes = 64u << 20);

  void SetSpanMs(int64_t Value) { FSpanMs = Value < 0 ? 0 : Value; }
  int64_t SpanMs() const { return FSpanMs; }
  void SetMaxBytes(size_t Value) { FMaxBytes = Value; }
  size_t MaxBytes() const { return FMaxBytes; }

  // Adds a packet; packets before the first key frame are not kept.
  void Add(const TKzEventPacket& Packet);
  // Everything held, oldest first (a key frame first).
  const std::deque<TKzEventPacket>& Packets() const { return FPackets; }
  bool Empty() const { return FPackets.empty(); }
  // Time of the oldest packet held; -1 when empty.
  int64_t OldestMs() const { return FPackets.empty() ? -1 : FPackets.front().Dts; }
  void Clear();

  // Memory held now and the most it ever held (payload and bookkeeping).
  size_t MemoryBytes() const { return FBytes; }
  size_t PeakMemoryBytes() const { return FPeak; }

private:
  void DropFront();
  // Drops the group of pictures at the front (up to the next key frame).
  bool DropGroup();

  int64_t FSpanMs;
  size_t FMaxBytes;
  std::deque<TKzEventPacket> FPackets;
  size_t FBytes = 0, FPeak = 0;
};

}  // namespace kz
