#include "foundation/Fmxmkzstreamfuncs.h"

#include "foundation/fmxMKzByteOrder.h"
#include "platform/fmxMKzPlatformUTF8.h"

namespace kz {

namespace {

constexpr size_t kMaxNameUnits = 127;  // 2 x units must fit the length byte

// The name without its directory (either separator).
std::string BaseName(const std::string& Name) {
  const size_t slash = Name.find_last_of("/\\");
  return slash == std::string::npos ? Name : Name.substr(slash + 1);
}

}  // namespace

std::string KzUTF16LEToUTF8(const uint8_t* Data, size_t Size) {
  std::string out;
  const size_t units = Size / 2;
  for (size_t i = 0; i < units; ++i) {
    const uint32_t u = KzGetLE<uint16_t>(Data + 2 * i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const uint32_t low = KzGetLE<uint16_t>(Data + 2 * (i + 1));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        KzAppendUTF8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    KzAppendUTF8(out, u >= 0xD800 && u <= 0xDFFF ? KzReplacementChar : u);
  }
  return out;
}

std::vector<uint8_t> KzUTF8ToUTF16LE(const std::string& Text, size_t MaxUnits) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < Text.size()) {
    const uint32_t cp = KzNextCodePoint(Text, i);
    const size_t units = cp >= 0x10000 ? 2 : 1;
    if (out.size() / 2 + units > MaxUnits) break;  // never half a pair
    uint8_t b[2];
    if (units == 2) {
      KzPutLE<uint16_t>(b, static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.insert(out.end(), b, b + 2);
      KzPutLE<uint16_t>(b, static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      KzPutLE<uint16_t>(b, static_cast<uint16_t>(cp));
    }
    out.insert(out.end(), b, b + 2);
  }
  return out;
}

bool KzParseFileInfo(const uint8_t* Data, size_t Size, TKzFileInfo& FileInfo, size_t& Used) {
  if (Size < 1) return false;
  const size_t l = Data[0];
  if (Size < l + KZ_FILE_INFO_FIXED) return false;
  const uint8_t* p = Data + 1;
  FileInfo.FileName = KzUTF16LEToUTF8(p, l);
  p += l;
  FileInfo.FileGUID = GUIDFromBytes(p);
  FileInfo.FileOffs = KzGetLE<int64_t>(p + 16);
  FileInfo.TotalFileSize = KzGetLE<int64_t>(p + 24);
  Used = l + KZ_FILE_INFO_FIXED;
  return true;
}

bool LoadFileInfo(TKzFileInfo& FileInfo, TStream& Stream, int64_t& Count) {
  const int64_t start = Stream.Position();
  uint8_t buf[255 + KZ_FILE_INFO_FIXED];
  if (Stream.Read(buf, 1) != 1) {
    Stream.SetPosition(start);
    return false;
  }
  const int64_t rest = buf[0] + static_cast<int64_t>(KZ_FILE_INFO_FIXED) - 1;
  size_t used = 0;
  if (Stream.Read(buf + 1, rest) != rest || !KzParseFileInfo(buf, static_cast<size_t>(rest + 1), FileInfo, used)) {
    Stream.SetPosition(start);
    return false;
  }
  Count += static_cast<int64_t>(used);
  return true;
}

std::vector<uint8_t> KzFileInfoBytes(const TKzFileInfo& FileInfo) {
  const std::vector<uint8_t> name = KzUTF8ToUTF16LE(BaseName(FileInfo.FileName), kMaxNameUnits);
  std::vector<uint8_t> out(name.size() + KZ_FILE_INFO_FIXED);
  out[0] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), out.begin() + 1);
  uint8_t* p = out.data() + 1 + name.size();
  GUIDToBytes(FileInfo.FileGUID, p);
  KzPutLE<int64_t>(p + 16, FileInfo.FileOffs);
  KzPutLE<int64_t>(p + 24, FileInfo.TotalFileSize);
  return out;
}

std::vector<uint8_t> KzFileChunkHead(const TKzFileInfo& FileInfo, int64_t Length) {
  std::vector<uint8_t> head = KzFileInfoBytes(FileInfo);
  head.resize(head.size() + 8);
  KzPutLE<int64_t>(head.data() + head.size() - 8, Length);
  return head;
}

void WriteFileHeader(TStream& Stream, const TKzFileInfo& FileInfo) {
  const int64_t size = Stream.Size();
  std::vector<uint8_t> record = KzFileChunkHead(FileInfo, size);
  const size_t head = record.size();
  record.resize(head + static_cast<size_t>(size));
  Stream.SetPosition(0);
  Stream.Read(record.data() + head, size);
  Stream.SetSize(0);
  Stream.SetPosition(0);
  Stream.Write(record.data(), static_cast<int64_t>(record.size()));
  Stream.SetPosition(0);
}

TKzFileChunkResult KzReadFileChunk(const uint8_t* Data, size_t Size, TKzFileChunk& Chunk, size_t& Used) {
  size_t info = 0;
  if (!KzParseFileInfo(Data, Size, Chunk.FileInfo, info) || Size - info < 8) return TKzFileChunkResult::kzfcIncomplete;
  Chunk.DataOffset = info + 8;
  Chunk.DataLength = KzGetLE<int64_t>(Data + info);
  if (Chunk.DataLength < 0 || Chunk.FileInfo.FileOffs < 0 || Chunk.FileInfo.TotalFileSize < 0)
    return TKzFileChunkResult::kzfcInvalid;
  if (static_cast<uint64_t>(Chunk.DataLength) > Size - Chunk.DataOffset) return TKzFileChunkResult::kzfcIncomplete;
  Used = Chunk.DataOffset + static_cast<size_t>(Chunk.DataLength);
  return TKzFileChunkResult::kzfcOk;
}

}  // namespace kz
