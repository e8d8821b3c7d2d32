#include "recorder/fmxMKzPreRollRing.h"

namespace kz {

TKzPreRollRing::TKzPreRollRing(int64_t SpanMs, size_t MaxBytes) : FSpanMs(SpanMs < 0 ? 0 : SpanMs), FMaxBytes(MaxBytes) {}

void TKzPreRollRing::Clear() {
  FPackets.clear();
  FBytes = 0;
}

void TKzPreRollRing::DropFront() {
  FBytes -= FPackets.front().MemoryBytes();
  FPackets.pop_front();
}

bool TKzPreRollRing::DropGroup() {
  if (FPackets.empty()) return false;
  DropFront();
  while (!FPackets.empty() && !FPackets.front().Key) DropFront();
  return true;
}

void TKzPreRollRing::Add(const TKzEventPacket& Packet) {
  if (FPackets.empty() && !Packet.Key) return;
  FPackets.push_back(Packet);
  FBytes += Packet.MemoryBytes();
  // The front moves to the newest key frame that still lies at or before
  // the start of the span.
  const int64_t cut = Packet.Dts - FSpanMs;
  for (;;) {
    size_t next = 1;
    while (next < FPackets.size() && !FPackets[next].Key) ++next;
    if (next >= FPackets.size() || FPackets[next].Dts > cut) break;
    while (next-- > 0) DropFront();
  }
  while (FBytes > FMaxBytes && FPackets.size() > 1 && DropGroup()) {
  }
  if (FBytes > FPeak) FPeak = FBytes;
}

}  // namespace kz
