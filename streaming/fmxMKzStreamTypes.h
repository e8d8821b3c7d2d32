// Vocabulary of the stream packet format: transports, compression kinds,
// the four-byte markers, the limits readers hold untrusted lengths to, and
// the fixed-size records that frame pulled data (the 60-byte header pack,
// the 16-byte session pack, the 25-byte channel request) in their wire form.
// All integers little-endian, written and read field by field.
//
// Everything here is pure: any thread, never blocks.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/fmxMKzType.h"

namespace kz {

enum class TKzProtocol : uint8_t { kzpTCP = 0, kzpUDP = 1, kzpHTTP = 2 };
enum class TKzCompressionType : uint8_t { kztcNone = 0, kztcFully = 1, kztcParts = 2 };

// ---- Markers (bytes in the order they travel)
constexpr TKzMarker MARKER = {'m', 'd', 'B', 'D'};                    // packet header
constexpr TKzMarker MARKER_COMPRESSION_BEGIN = {'m', 'c', 'B', 'D'};  // compression block
constexpr TKzMarker MARKER_COMPRESSION_END = {'m', 'c', 'E', 'D'};
constexpr TKzMarker HEADER_MARKER_TCP = {'h', 'm', 'H', 'T'};  // header pack, stream connection
constexpr TKzMarker HEADER_MARKER_UDP = {'h', 'm', 'H', 'U'};  // header pack, datagrams
constexpr TKzMarker MARKER_SESSION_BEGIN = {'h', 'm', 'S', 'B'};
constexpr TKzMarker MARKER_SESSION_END = {'h', 'm', 'S', 'E'};
constexpr TKzMarker MARKER_SESSION_NODATA = {'h', 'm', 'S', 'N'};
constexpr TKzMarker MARKER_SESSION_DATA = {'h', 'm', 'S', 'D'};  // records in a sender's queue, never sent
// Keep-alive filler between packets on a stream connection.
constexpr std::array<uint8_t, 8> MARKER_NULL = {'C', 'O', 'N', '_', 'N', 'U', 'L', 'L'};

// ---- Data-type word: the code in the low five bits, then header flags
// (DATA_FLAG_GUIDFROM/_GUIDTO/_GUIDGROUP live with GetGUIDs).
constexpr uint16_t DATA_FLAG_COMPRESSED_FULLY = 0x0800;
constexpr uint16_t DATA_FLAG_COMPRESSED_PARTS = 0x1000;
// Compression kind of a word: exactly one of the two bits, else none.
TKzCompressionType KzWordCompression(uint16_t DataTypeWord);
// The bit a compression kind sets in the word.
uint16_t KzCompressionBits(TKzCompressionType Compression);
// Whether the low five bits are one of the five data type codes.
bool KzIsDataTypeCode(uint16_t DataTypeWord);

// ---- Limits
// No frame, command or user-data payload (nor a whole-compressed file
// payload) is accepted above this; file payloads sent raw or in blocks are
// handed on in parts of KZ_FILE_PART bytes instead of being held whole.
constexpr int64_t KZ_MAX_PAYLOAD = 64 * 1024 * 1024;
constexpr int64_t KZ_FILE_PART = 1024 * 1024;
// A block's length field is 16-bit signed: its data is at most this long.
constexpr size_t KZ_MAX_BLOCK_DATA = 32767;
constexpr size_t KZ_BLOCK_OVERHEAD = 10;  // "mcBD", N, "mcED"
// Least output room of an inflate whose result size is not known.
constexpr size_t KZ_INFLATE_FLOOR = 35648;
// The most a compressed payload of Size bytes may inflate to when nothing
// else bounds it: max(4 x Size, 35,648).
size_t KzInflateBound(size_t Size);

// ---- Header pack (60 bytes): marker, LenPack, GUIDTo, GUIDFrom, GUIDGroup.
void KzHeaderPackToBytes(const TKzHeaderPack& Pack, uint8_t* Out60);
TKzHeaderPack KzHeaderPackFromBytes(const uint8_t* In60);
// "hmHU" for datagrams, "hmHT" otherwise.
void SetBeginMarker(TKzHeaderPack& HeaderPack, TKzProtocol Protocol);

// ---- Session pack (16 bytes): marker, session key, DataLen.
struct TKzSessionPack {
  static constexpr size_t WireSize = 16;
  TKzMarker MARKER{};
  TKzSessionKey SessionKey = 0;
  int64_t DataLen = 0;
  bool operator==(const TKzSessionPack&) const = default;
};
void KzSessionPackToBytes(const TKzSessionPack& Pack, uint8_t* Out16);
TKzSessionPack KzSessionPackFromBytes(const uint8_t* In16);

// ---- Channel request (25 bytes): five letters, the requester's GUID, the
// session key it last saw.
enum class TKzChannelRequestKind : uint8_t { kzcrUnknown = 0, kzcrData = 1, kzcrClear = 2 };

struct TKzChannelRequest {
  static constexpr size_t WireSize = 25;
  std::string Text;  // "VDGET", "CLRAD", ...
  TGUID GUID;
  TKzSessionKey SessionKey = 0;
};
void KzChannelRequestToBytes(const TKzChannelRequest& Request, uint8_t* Out25);
TKzChannelRequest KzChannelRequestFromBytes(const uint8_t* In25);
// What a request's text asks for, and for which data type code (0 when unknown).
TKzChannelRequestKind KzChannelRequestKind(const std::string& Text, uint8_t& DataType);
// The text of a data or clear request for a data type code ("" for another code).
std::string KzChannelRequestText(TKzChannelRequestKind Kind, uint8_t DataType);

}  // namespace kz
