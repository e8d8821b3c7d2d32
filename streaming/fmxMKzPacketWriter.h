// Cutting one payload into packets, as a sender puts them on the wire.
//
// Over a stream connection the payload carries one header however many
// packets it is cut into; over datagrams every packet carries its own.
// Whole-payload compression (stream connections only) is used when it
// shrinks the payload and the result inflates within KzInflateBound of
// its compressed size, which is what a reader allows; otherwise the
// payload goes raw. Block compression (and any compression over datagrams)
// cuts blocks of at most KZ_MAX_BLOCK_DATA bytes whatever the buffer size.
//
// A writer belongs to one thread at a time; it never blocks (Emit may).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "streaming/fmxMKzStreamPacket.h"
#include "streaming/fmxMKzStreamZip.h"

namespace kz {

// What goes into the headers of one payload.
struct TKzPacketSpec {
  uint16_t DataType = DATA_TYPE_VIDEO;  // the type code only
  TKzCompressionType Compression = TKzCompressionType::kztcNone;
  TKzProtocol Protocol = TKzProtocol::kzpTCP;
  uint32_t BufferSize = 8192;  // packet size limit; raised to hold a header, a block's overhead and a byte
  bool UseGUID = true;
  TGUID GUIDFrom, GUIDTo, GUIDGroup;
  TKzInfo Info;
  // For a file payload: where the payload's first byte lies in the file.
  // Headers carry FileOffs = FileStart + the offset of their first byte and
  // TotalFileSize = FileStart + the payload's size.
  int64_t FileStart = 0;
  // A file sent in pieces: the file's size for TotalFileSize (-1: as above).
  int64_t FileTotal = -1;
};

// Receives one packet's bytes; false stops the payload (a failed send).
using TKzPacketEmit = std::function<bool(const uint8_t* Data, size_t Size)>;

class TKzPacketWriter {
public:
  // Cuts Data into packets and hands each to Emit. IndexPart numbers the
  // packets, counting on (and wrapping from 65,535 to 0) across calls.
  // Returns the bytes emitted, or -1 when Emit refused a packet.
  int64_t Write(const TKzPacketSpec& Spec, const uint8_t* Data, size_t Size, uint16_t& IndexPart,
                const TKzPacketEmit& Emit);
  // The compression the last Write used (none when whole compression did not pay).
  TKzCompressionType UsedCompression() const { return FUsed; }

private:
  TKzDeflater FDeflater{9};
  std::vector<uint8_t> FPacked;  // the whole payload compressed
  std::vector<uint8_t> FPacket;  // the packet being built
  TKzCompressionType FUsed = TKzCompressionType::kztcNone;
};

}  // namespace kz
