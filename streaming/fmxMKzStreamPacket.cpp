#include "streaming/fmxMKzStreamPacket.h"

#include <cstring>
#include <vector>

#include "foundation/fmxMKzByteOrder.h"

namespace kz {

namespace {

constexpr size_t kAudioInfoSize = 6;

size_t GUIDBytes(uint16_t Word) {
  size_t n = 0;
  for (uint16_t flag : {DATA_FLAG_GUIDFROM, DATA_FLAG_GUIDTO, DATA_FLAG_GUIDGROUP})
    if (Word & flag) n += 16;
  return n;
}

// Parses the media information of DataType at Data; false when Size is short.
bool ParseMediaInfo(uint8_t DataType, const uint8_t* Data, size_t Size, TKzInfo& Info, size_t& Used) {
  switch (DataType) {
    case DATA_TYPE_VIDEO:
      if (Size < 1) return false;
      Info.VideoInfo.Encoding = static_cast<TKzEncodingType>(Data[0]);
      Used = 1;
      return true;
    case DATA_TYPE_AUDIO:
      if (Size < kAudioInfoSize) return false;
      Info.AudioInfo.SamplesPerSec = static_cast<TKzSamplesPerSec>(KzGetLE<uint32_t>(Data));
      Info.AudioInfo.BitsPerSample = static_cast<TKzBitsPerSample>(Data[4]);
      Info.AudioInfo.Channels = Data[5];
      Used = kAudioInfoSize;
      return true;
    case DATA_TYPE_FILE: return KzParseFileInfo(Data, Size, Info.FileInfo, Used);
    default: Used = 0; return true;
  }
}

// Reads Size bytes of media information from the stream when they are all there.
bool LoadFixedInfo(uint8_t DataType, size_t Size, TKzInfo& Info, TStream& Stream, int64_t& Count) {
  uint8_t buf[kAudioInfoSize];
  const int64_t start = Stream.Position();
  size_t used = 0;
  if (Stream.Read(buf, static_cast<int64_t>(Size)) != static_cast<int64_t>(Size) ||
      !ParseMediaInfo(DataType, buf, Size, Info, used)) {
    Stream.SetPosition(start);
    return false;
  }
  Count += static_cast<int64_t>(used);
  return true;
}

}  // namespace

size_t KzMediaInfoLength(uint8_t DataType, const TKzInfo& Info) {
  switch (DataType) {
    case DATA_TYPE_VIDEO: return 1;
    case DATA_TYPE_AUDIO: return kAudioInfoSize;
    case DATA_TYPE_FILE: return KzFileInfoBytes(Info.FileInfo).size();
    default: return 0;
  }
}

size_t KzPacketHeaderLength(uint16_t Word, const TKzInfo& Info) {
  return KZ_HEADER_FIXED + GUIDBytes(Word) + KzMediaInfoLength(static_cast<uint8_t>(Word & DATA_TYPE_MASK), Info);
}

int32_t FillVideoToBuffer(uint8_t* Buffer, const TKzVideoInfo& Info, int32_t Offset) {
  Buffer[Offset] = static_cast<uint8_t>(Info.Encoding);
  return Offset + 1;
}

int32_t FillAudioToBuffer(uint8_t* Buffer, const TKzAudioInfo& Info, int32_t Offset) {
  KzPutLE<uint32_t>(Buffer + Offset, static_cast<uint32_t>(Info.SamplesPerSec));
  Buffer[Offset + 4] = static_cast<uint8_t>(Info.BitsPerSample);
  Buffer[Offset + 5] = static_cast<uint8_t>(Info.Channels);
  return Offset + static_cast<int32_t>(kAudioInfoSize);
}

int32_t FillFileToBuffer(uint8_t* Buffer, const TKzFileInfo& Info, int32_t Offset) {
  const std::vector<uint8_t> bytes = KzFileInfoBytes(Info);
  std::memcpy(Buffer + Offset, bytes.data(), bytes.size());
  return Offset + static_cast<int32_t>(bytes.size());
}

int32_t FillHeader(uint8_t* Buffer, int32_t BufSize, uint16_t DataType, TKzCompressionType Compression,
                   uint16_t IndexPart, int64_t LenPack, const TGUID& GUIDFrom, const TGUID& GUIDTo,
                   const TGUID& GUIDGroup, const TKzInfo& Info, int32_t Offset, bool UseGUID, TKzProtocol Protocol) {
  uint16_t word = static_cast<uint16_t>((DataType & DATA_TYPE_MASK) | KzCompressionBits(Compression));
  const TGUID* guids[3] = {&GUIDFrom, &GUIDTo, &GUIDGroup};
  const uint16_t flags[3] = {DATA_FLAG_GUIDFROM, DATA_FLAG_GUIDTO, DATA_FLAG_GUIDGROUP};
  if (UseGUID)
    for (int i = 0; i < 3; ++i)
      if (!IsNull(*guids[i])) word |= flags[i];
  if (Offset < 0 || BufSize < 0 || static_cast<size_t>(Offset) + KzPacketHeaderLength(word, Info) > static_cast<size_t>(BufSize))
    return -1;
  uint8_t* p = Buffer + Offset;
  std::memcpy(p, MARKER.data(), 4);
  KzPutLE<uint16_t>(p + 4, word);
  p += 6;
  for (int i = 0; i < 3; ++i) {
    if (word & flags[i]) {
      GUIDToBytes(*guids[i], p);
      p += 16;
    }
  }
  KzPutLE<uint16_t>(p, Info.MediaIndex);
  KzPutLE<uint16_t>(p + 2, IndexPart);
  if (Protocol == TKzProtocol::kzpUDP) {
    const int64_t before = (p + 4) - (Buffer + Offset);
    LenPack = std::min<int64_t>(BufSize, KzSatAdd(before + 8, LenPack));
  }
  KzPutLE<int64_t>(p + 4, LenPack);
  int32_t at = static_cast<int32_t>((p + 12) - Buffer);
  switch (DataType & DATA_TYPE_MASK) {
    case DATA_TYPE_VIDEO: return FillVideoToBuffer(Buffer, Info.VideoInfo, at);
    case DATA_TYPE_AUDIO: return FillAudioToBuffer(Buffer, Info.AudioInfo, at);
    case DATA_TYPE_FILE: return FillFileToBuffer(Buffer, Info.FileInfo, at);
    default: return at;
  }
}

int32_t GetLengthHeader(uint16_t DataType, const TKzInfo& Info, bool UseGUID, const TGUID& GUIDFrom,
                        const TGUID& VideoGUIDTo, const TGUID& VideoGUIDGroup, const TGUID& UserDataGUIDTo,
                        const TGUID& UserDataGUIDGroup, const TGUID& FileGUIDTo, const TGUID& FileGUIDGroup,
                        const TGUID& CmdGUIDTo, const TGUID& CmdGUIDGroup) {
  uint16_t word = static_cast<uint16_t>(DataType & DATA_TYPE_MASK);
  TGUID to, group;
  GetGUIDs(word, UseGUID, GUIDFrom, VideoGUIDTo, VideoGUIDGroup, UserDataGUIDTo, UserDataGUIDGroup, FileGUIDTo,
           FileGUIDGroup, CmdGUIDTo, CmdGUIDGroup, to, group);
  return static_cast<int32_t>(KzPacketHeaderLength(word, Info));
}

bool LoadVideoInfo(TKzInfo& Info, TStream& Stream, int64_t& Count) {
  return LoadFixedInfo(DATA_TYPE_VIDEO, 1, Info, Stream, Count);
}

bool LoadAudioInfo(TKzInfo& Info, TStream& Stream, int64_t& Count) {
  return LoadFixedInfo(DATA_TYPE_AUDIO, kAudioInfoSize, Info, Stream, Count);
}

bool CompareInfo(uint8_t DataType, const TKzInfo& A, const TKzInfo& B) {
  switch (DataType) {
    case DATA_TYPE_VIDEO: return A.VideoInfo == B.VideoInfo;
    case DATA_TYPE_AUDIO: return A.AudioInfo == B.AudioInfo;
    case DATA_TYPE_FILE:
      return A.FileInfo.FileName == B.FileInfo.FileName && A.FileInfo.FileGUID == B.FileInfo.FileGUID;
    default: return true;
  }
}

TKzHeaderResult KzParsePacketHeader(const uint8_t* Data, size_t Size, TKzPacketHeader& Header, size_t& Used) {
  if (Size < 4) return TKzHeaderResult::kzhrIncomplete;
  if (std::memcmp(Data, MARKER.data(), 4) != 0) return TKzHeaderResult::kzhrInvalid;
  if (Size < 6) return TKzHeaderResult::kzhrIncomplete;
  const uint16_t word = KzGetLE<uint16_t>(Data + 4);
  if (!KzIsDataTypeCode(word)) return TKzHeaderResult::kzhrInvalid;
  const size_t fixed = KZ_HEADER_FIXED + GUIDBytes(word);
  if (Size < fixed) return TKzHeaderResult::kzhrIncomplete;
  TKzPacketHeader h;
  h.DataTypeWord = word;
  const uint8_t* p = Data + 6;
  TGUID* guids[3] = {&h.GUIDFrom, &h.GUIDTo, &h.GUIDGroup};
  const uint16_t flags[3] = {DATA_FLAG_GUIDFROM, DATA_FLAG_GUIDTO, DATA_FLAG_GUIDGROUP};
  for (int i = 0; i < 3; ++i) {
    if (word & flags[i]) {
      *guids[i] = GUIDFromBytes(p);
      p += 16;
    }
  }
  h.Info.MediaIndex = KzGetLE<uint16_t>(p);
  h.IndexPart = KzGetLE<uint16_t>(p + 2);
  h.LenPack = KzGetLE<int64_t>(p + 4);
  if (h.LenPack < 0) return TKzHeaderResult::kzhrInvalid;
  size_t info = 0;
  if (!ParseMediaInfo(h.DataType(), Data + fixed, Size - fixed, h.Info, info)) return TKzHeaderResult::kzhrIncomplete;
  Header = std::move(h);
  Used = fixed + info;
  return TKzHeaderResult::kzhrOk;
}

}  // namespace kz
