// What a relay connection sends, recognised by content, not by how TCP cut
// the bytes. Wherever a request or a packet may begin the reader skips an
// HTTP request preamble (a pulling receiver sends one per request round)
// and "CON_NULL" fillers, takes a known five-letter request code as one
// whole 25-byte channel request, and "mdBD" as the start of a packet.
// Anything else there is garbage and skipped.
//
// A packet is cut by its header's lengths - LenPack payload bytes, or in
// block mode the compression blocks until they make LenPack bytes - never
// at the next "mdBD" (a payload may hold those bytes), and handed out as
// the exact bytes it came in, header included, as soon as it is complete.
//
// A reader belongs to one connection and one thread at a time; it is a
// pure function of the bytes and never blocks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "streaming/fmxMKzStreamPacket.h"
#include "streaming/fmxMKzStreamZip.h"

namespace kz {

struct TKzServerItem {
  enum class TKind : uint8_t { kzsiRequest, kzsiPacket };
  TKind Kind = TKind::kzsiPacket;
  TKzChannelRequest Request;   // kzsiRequest
  TKzPacketHeader Header;      // kzsiPacket
  std::vector<uint8_t> Bytes;  // kzsiPacket: the packet as received
  size_t HeaderSize = 0;       // kzsiPacket: its header's bytes
};

class TKzServerConnReader {
public:
  void Feed(const uint8_t* Data, size_t Size);
  // The next request or packet, oldest first; false when none is complete.
  bool Next(TKzServerItem& Item);
  // Bytes held for an unfinished request or packet.
  size_t Buffered() const { return FBuf.size() - FStart; }
  // Bytes skipped as garbage and packets abandoned, so far.
  uint64_t Skipped() const { return FSkipped; }
  uint64_t Dropped() const { return FDropped; }

private:
  enum class TState : uint8_t { Seek, Payload, Blocks };
  bool Step();
  bool SeekItem();
  bool TakePayload();
  bool TakeBlocks();
  void Emit();
  void Abandon();

  std::vector<uint8_t> FBuf;
  size_t FStart = 0;  // where the item under way begins
  size_t FPos = 0;    // read position
  TState FState = TState::Seek;
  TKzPacketHeader FHeader;
  size_t FHeaderSize = 0;
  int64_t FProduced = 0;  // payload bytes the blocks read so far make
  std::vector<uint8_t> FScratch;
  TKzInflater FInflater;
  std::deque<TKzServerItem> FOut;
  uint64_t FSkipped = 0, FDropped = 0;
};

// A datagram's packet as one stream-connection packet: the header at the
// datagram's first "mdBD" with the rest as its payload, inflated when
// compressed, written again uncompressed with LenPack the payload's length
// (datagram headers carry no usable length). False when it holds no valid header.
bool KzDatagramToStreamPacket(const uint8_t* Data, size_t Size, TKzPacketHeader& Header, std::vector<uint8_t>& Out,
                              TKzInflater& Inflater);

}  // namespace kz
