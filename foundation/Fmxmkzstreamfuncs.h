// Stream helpers of the packet format: the file description that travels in
// file packet headers and the file chunk record a receiver puts in front of
// each file payload before handing it on. All integers little-endian, read
// and written field by field.
//
// File description: L (1 byte, the name's byte length), the file name
// without its directory as UTF-16LE (L bytes), FileGUID (16), FileOffs (8),
// TotalFileSize (8). File chunk record: the file description, the payload
// length (8), the payload.
//
// Every function runs on the caller's thread on data the caller owns and
// never blocks except on the stream it is given.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

// Bytes of a file description without the name.
constexpr size_t KZ_FILE_INFO_FIXED = 33;
// Bytes of a file chunk record without the name and the payload.
constexpr size_t KZ_FILE_CHUNK_FIXED = 41;

// Reads a file description at the stream's position when the whole of it is
// there: stores it, adds the bytes read to Count and returns true. Otherwise
// returns false with the position put back.
bool LoadFileInfo(TKzFileInfo& FileInfo, TStream& Stream, int64_t& Count);
// The file description bytes of FileInfo: the name loses its directory and
// is cut to 127 UTF-16 units (L must fit one byte).
std::vector<uint8_t> KzFileInfoBytes(const TKzFileInfo& FileInfo);
// The file chunk record that goes in front of a payload of Length bytes:
// the file description and the payload length.
std::vector<uint8_t> KzFileChunkHead(const TKzFileInfo& FileInfo, int64_t Length);
// Puts the file chunk record in front of the stream's bytes (the payload):
// the file description and the payload length. Leaves the stream at 0.
void WriteFileHeader(TStream& Stream, const TKzFileInfo& FileInfo);

// Parses a file description at Data. Used is the bytes it takes; false when
// Size holds less than the whole description.
bool KzParseFileInfo(const uint8_t* Data, size_t Size, TKzFileInfo& FileInfo, size_t& Used);

enum class TKzFileChunkResult : uint8_t { kzfcOk = 0, kzfcIncomplete = 1, kzfcInvalid = 2 };

// One file chunk record found at the start of a buffer.
struct TKzFileChunk {
  TKzFileInfo FileInfo;
  size_t DataOffset = 0;  // where the payload starts, from the record's start
  int64_t DataLength = 0;
};

// Reads the file chunk record at Data. Ok: Chunk describes it and Used is
// the bytes it takes with its payload. Incomplete: Size ends before the
// record does. Invalid: a negative length, offset or total size.
TKzFileChunkResult KzReadFileChunk(const uint8_t* Data, size_t Size, TKzFileChunk& Chunk, size_t& Used);

// UTF-16LE bytes and UTF-8 text (unpaired surrogates become U+FFFD; an odd
// trailing byte is ignored).
std::string KzUTF16LEToUTF8(const uint8_t* Data, size_t Size);
std::vector<uint8_t> KzUTF8ToUTF16LE(const std::string& Text, size_t MaxUnits);

}  // namespace kz
