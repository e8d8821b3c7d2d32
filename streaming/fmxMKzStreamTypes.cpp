#include "streaming/fmxMKzStreamTypes.h"

#include <algorithm>
#include <cstring>

#include "foundation/fmxMKzByteOrder.h"

namespace kz {

namespace {

// The channel request texts: what each asks for, per data type code.
struct TKzRequestRow {
  const char* Text;
  TKzChannelRequestKind Kind;
  uint8_t DataType;
};
constexpr TKzRequestRow kRequests[] = {
    {"VDGET", TKzChannelRequestKind::kzcrData, DATA_TYPE_VIDEO},
    {"ADGET", TKzChannelRequestKind::kzcrData, DATA_TYPE_AUDIO},
    {"UDGET", TKzChannelRequestKind::kzcrData, DATA_TYPE_USERDATA},
    {"CDGET", TKzChannelRequestKind::kzcrData, DATA_TYPE_CMD},
    {"FDGET", TKzChannelRequestKind::kzcrData, DATA_TYPE_FILE},
    {"CLRVD", TKzChannelRequestKind::kzcrClear, DATA_TYPE_VIDEO},
    {"CLRAD", TKzChannelRequestKind::kzcrClear, DATA_TYPE_AUDIO},
    {"CLRUD", TKzChannelRequestKind::kzcrClear, DATA_TYPE_USERDATA},
    {"CLRCD", TKzChannelRequestKind::kzcrClear, DATA_TYPE_CMD},
    {"CLRFD", TKzChannelRequestKind::kzcrClear, DATA_TYPE_FILE},
};

}  // namespace

TKzCompressionType KzWordCompression(uint16_t DataTypeWord) {
  switch (DataTypeWord & (DATA_FLAG_COMPRESSED_FULLY | DATA_FLAG_COMPRESSED_PARTS)) {
    case DATA_FLAG_COMPRESSED_FULLY: return TKzCompressionType::kztcFully;
    case DATA_FLAG_COMPRESSED_PARTS: return TKzCompressionType::kztcParts;
    default: return TKzCompressionType::kztcNone;
  }
}

uint16_t KzCompressionBits(TKzCompressionType Compression) {
  switch (Compression) {
    case TKzCompressionType::kztcFully: return DATA_FLAG_COMPRESSED_FULLY;
    case TKzCompressionType::kztcParts: return DATA_FLAG_COMPRESSED_PARTS;
    default: return 0;
  }
}

bool KzIsDataTypeCode(uint16_t DataTypeWord) {
  switch (DataTypeWord & DATA_TYPE_MASK) {
    case DATA_TYPE_VIDEO:
    case DATA_TYPE_AUDIO:
    case DATA_TYPE_USERDATA:
    case DATA_TYPE_CMD:
    case DATA_TYPE_FILE: return true;
    default: return false;
  }
}

size_t KzInflateBound(size_t Size) { return std::max(Size > SIZE_MAX / 4 ? SIZE_MAX : 4 * Size, KZ_INFLATE_FLOOR); }

void KzHeaderPackToBytes(const TKzHeaderPack& Pack, uint8_t* Out60) {
  std::memcpy(Out60, Pack.MARKER.data(), 4);
  KzPutLE<int64_t>(Out60 + 4, Pack.LenPack);
  GUIDToBytes(Pack.GUIDTo, Out60 + 12);
  GUIDToBytes(Pack.GUIDFrom, Out60 + 28);
  GUIDToBytes(Pack.GUIDGroup, Out60 + 44);
}

TKzHeaderPack KzHeaderPackFromBytes(const uint8_t* In60) {
  TKzHeaderPack p;
  std::memcpy(p.MARKER.data(), In60, 4);
  p.LenPack = KzGetLE<int64_t>(In60 + 4);
  p.GUIDTo = GUIDFromBytes(In60 + 12);
  p.GUIDFrom = GUIDFromBytes(In60 + 28);
  p.GUIDGroup = GUIDFromBytes(In60 + 44);
  return p;
}

void SetBeginMarker(TKzHeaderPack& HeaderPack, TKzProtocol Protocol) {
  HeaderPack.MARKER = Protocol == TKzProtocol::kzpUDP ? HEADER_MARKER_UDP : HEADER_MARKER_TCP;
}

void KzSessionPackToBytes(const TKzSessionPack& Pack, uint8_t* Out16) {
  std::memcpy(Out16, Pack.MARKER.data(), 4);
  KzPutLE<uint32_t>(Out16 + 4, Pack.SessionKey);
  KzPutLE<int64_t>(Out16 + 8, Pack.DataLen);
}

TKzSessionPack KzSessionPackFromBytes(const uint8_t* In16) {
  TKzSessionPack p;
  std::memcpy(p.MARKER.data(), In16, 4);
  p.SessionKey = KzGetLE<uint32_t>(In16 + 4);
  p.DataLen = KzGetLE<int64_t>(In16 + 8);
  return p;
}

void KzChannelRequestToBytes(const TKzChannelRequest& Request, uint8_t* Out25) {
  std::memset(Out25, 0, 5);
  std::memcpy(Out25, Request.Text.data(), std::min<size_t>(Request.Text.size(), 5));
  GUIDToBytes(Request.GUID, Out25 + 5);
  KzPutLE<uint32_t>(Out25 + 21, Request.SessionKey);
}

TKzChannelRequest KzChannelRequestFromBytes(const uint8_t* In25) {
  TKzChannelRequest r;
  r.Text.assign(reinterpret_cast<const char*>(In25), 5);
  r.GUID = GUIDFromBytes(In25 + 5);
  r.SessionKey = KzGetLE<uint32_t>(In25 + 21);
  return r;
}

TKzChannelRequestKind KzChannelRequestKind(const std::string& Text, uint8_t& DataType) {
  for (const TKzRequestRow& row : kRequests) {
    if (Text == row.Text) {
      DataType = row.DataType;
      return row.Kind;
    }
  }
  DataType = 0;
  return TKzChannelRequestKind::kzcrUnknown;
}

std::string KzChannelRequestText(TKzChannelRequestKind Kind, uint8_t DataType) {
  for (const TKzRequestRow& row : kRequests)
    if (row.Kind == Kind && row.DataType == DataType) return row.Text;
  return std::string();
}

}  // namespace kz
