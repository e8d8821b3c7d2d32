// Reading packets from received bytes. The stream reader is a pure function
// of the bytes: fed any split of a byte stream it yields the same packets,
// in the same order, as fed the whole. It skips whatever stands before a
// packet header (keep-alive fillers, an HTTP preamble, garbage), keeps a
// header or block cut by a read until the rest arrives, and never holds
// more than one payload (a file payload not even that: it is handed on in
// parts of KZ_FILE_PART bytes).
//
// Payloads by the header's compression bits:
//   none   - the next LenPack bytes;
//   fully  - the next LenPack bytes are one zlib stream, inflated to at most
//            KzInflateBound(LenPack) bytes (else the packet is dropped);
//   blocks - compression blocks until LenPack bytes are out; a block that
//            would go past LenPack, does not inflate or ends in a misplaced
//            "mcED" is skipped; a packet header met where a block should
//            begin abandons the packet.
// Anything dropped is counted and reported through OnDebug.
//
// Payload buffers are recycled: Next takes back the buffer the caller's
// packet held, so a caller that reads into the same packet again and again
// costs no allocation per packet once the buffers have grown to size.
//
// A reader belongs to one thread at a time; nothing blocks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "streaming/fmxMKzStreamPacket.h"
#include "streaming/fmxMKzStreamZip.h"

namespace kz {

struct TKzPacket {
  TKzPacketHeader Header;  // for a file part FileInfo.FileOffs is that of the part's first byte
  std::vector<uint8_t> Payload;
  int64_t PartOffset = 0;  // where Payload starts within the packet's payload
  bool Last = true;        // false for every part of a file payload but its last
};

class TKzPacketReader {
public:
  // Told why bytes were dropped.
  std::function<void(const std::string& Text)> OnDebug;

  void Feed(const uint8_t* Data, size_t Size);
  // The next packet read, oldest first, into Packet (whose old payload buffer
  // the reader keeps for a later packet); false when there is none yet.
  bool Next(TKzPacket& Packet);
  // Forgets everything buffered and the packet under way.
  void Reset();
  // Bytes held (buffer and payload under way).
  size_t Buffered() const { return FBuf.size() - FPos + FPayload.size(); }
  // Headers, blocks and packets dropped so far.
  uint64_t Dropped() const { return FDropped; }

private:
  enum class TState : uint8_t { Seek, Raw, Fully, Blocks };
  void Process();
  bool SeekHeader();
  bool TakeRaw();
  size_t TakeRawFrom(const uint8_t* Data, size_t Size);  // the bytes taken
  bool TakeFully();
  bool TakeBlocks();
  void Emit(bool Last);
  void Drop(const std::string& Why);
  void Compact();
  void KeepSpare(std::vector<uint8_t>&& Buffer);

  TState FState = TState::Seek;
  std::vector<uint8_t> FBuf;        // bytes held back between reads
  const uint8_t* FIn = nullptr;     // the bytes being read: FBuf's or the caller's
  size_t FInSize = 0;
  size_t FPos = 0;                  // read position in them
  TKzPacketHeader FHeader;
  std::vector<uint8_t> FPayload;
  int64_t FProduced = 0;  // payload bytes produced for the packet under way
  int64_t FPartOffset = 0;
  uint64_t FDropped = 0;
  TKzInflater FInflater;
  std::vector<TKzPacket> FOut;  // read, not yet taken from FNext on
  size_t FNext = 0;
  std::vector<std::vector<uint8_t>> FSpares;  // payload buffers for the next packets
};

// One datagram: the header at its first "mdBD" and the rest as payload
// (compression blocks when a compression bit is set, each inflated to at
// most KzInflateBound of its size). False when no whole valid header is there.
bool KzReadDatagram(const uint8_t* Data, size_t Size, TKzPacket& Packet, TKzInflater& Inflater);

}  // namespace kz
