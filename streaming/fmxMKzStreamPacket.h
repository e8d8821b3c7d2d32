// The packet header that precedes every piece of media, and the media
// description it carries, in their wire form:
//
//   "mdBD", data-type word (16), GUIDFrom / GUIDTo / GUIDGroup (16 each,
//   only those flagged in the word, in that order), MediaIndex (16),
//   IndexPart (16), LenPack (64 signed), media information by type:
//   video 1 byte (encoding), audio 6 (rate 32, sample width 1, channels 1),
//   file 33 + L (see foundation/Fmxmkzstreamfuncs.h), others none.
//
// Pure functions: any thread, never block (the Load functions only on the
// stream they are given).
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/Fmxmkzmediatypefuncs.h"
#include "foundation/Fmxmkzstreamfuncs.h"
#include "streaming/fmxMKzStreamTypes.h"

namespace kz {

// Header bytes before the GUIDs and after them, without media information.
constexpr size_t KZ_HEADER_FIXED = 18;

// One packet header as read from the wire.
struct TKzPacketHeader {
  uint16_t DataTypeWord = 0;
  TGUID GUIDFrom, GUIDTo, GUIDGroup;  // null when not flagged
  uint16_t IndexPart = 0;
  int64_t LenPack = 0;
  TKzInfo Info;  // MediaIndex and the description of the payload's type
  uint8_t DataType() const { return static_cast<uint8_t>(DataTypeWord & DATA_TYPE_MASK); }
  TKzCompressionType Compression() const { return KzWordCompression(DataTypeWord); }
};

// Writes a packet header at Buffer + Offset and returns the offset after it;
// -1 when it does not fit in BufSize bytes. DataType holds only the type
// code; the compression bit comes from Compression; with UseGUID every
// non-null GUID is flagged and written, without it none. Over kzpUDP the
// LenPack field holds min(BufSize, bytes before the field + 8 + LenPack).
int32_t FillHeader(uint8_t* Buffer, int32_t BufSize, uint16_t DataType, TKzCompressionType Compression,
                   uint16_t IndexPart, int64_t LenPack, const TGUID& GUIDFrom, const TGUID& GUIDTo,
                   const TGUID& GUIDGroup, const TKzInfo& Info, int32_t Offset, bool UseGUID, TKzProtocol Protocol);

// The bytes FillHeader writes for a data type, with the destination GUIDs
// GetGUIDs picks for it.
int32_t GetLengthHeader(uint16_t DataType, const TKzInfo& Info, bool UseGUID, const TGUID& GUIDFrom,
                        const TGUID& VideoGUIDTo, const TGUID& VideoGUIDGroup, const TGUID& UserDataGUIDTo,
                        const TGUID& UserDataGUIDGroup, const TGUID& FileGUIDTo, const TGUID& FileGUIDGroup,
                        const TGUID& CmdGUIDTo, const TGUID& CmdGUIDGroup);
// The bytes of a header whose data-type word (flags included) is Word.
size_t KzPacketHeaderLength(uint16_t Word, const TKzInfo& Info);
// Bytes of the media information of a data type code (video 1, audio 6, file 33 + L, others 0).
size_t KzMediaInfoLength(uint8_t DataType, const TKzInfo& Info);

// Write the media information at Buffer + Offset; return the offset after it.
int32_t FillVideoToBuffer(uint8_t* Buffer, const TKzVideoInfo& Info, int32_t Offset);
int32_t FillAudioToBuffer(uint8_t* Buffer, const TKzAudioInfo& Info, int32_t Offset);
int32_t FillFileToBuffer(uint8_t* Buffer, const TKzFileInfo& Info, int32_t Offset);

// Read media information at the stream's position when all of it is there:
// store it, add the bytes to Count, true. Otherwise false, position kept.
bool LoadVideoInfo(TKzInfo& Info, TStream& Stream, int64_t& Count);
bool LoadAudioInfo(TKzInfo& Info, TStream& Stream, int64_t& Count);

// Same description for a data type: video encoding; audio rate, width and
// channels; file name and GUID; any other type true.
bool CompareInfo(uint8_t DataType, const TKzInfo& A, const TKzInfo& B);

enum class TKzHeaderResult : uint8_t { kzhrOk = 0, kzhrIncomplete = 1, kzhrInvalid = 2 };

// Reads the header at Data (which must begin with "mdBD"). Ok: Header is
// filled and Used is its length. Incomplete: Size ends inside it. Invalid:
// no marker, an unknown type code or a negative LenPack.
TKzHeaderResult KzParsePacketHeader(const uint8_t* Data, size_t Size, TKzPacketHeader& Header, size_t& Used);

}  // namespace kz
