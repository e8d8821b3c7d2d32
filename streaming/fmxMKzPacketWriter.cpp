#include "streaming/fmxMKzPacketWriter.h"

#include <algorithm>
#include <cstring>

namespace kz {

int64_t TKzPacketWriter::Write(const TKzPacketSpec& Spec, const uint8_t* Data, size_t Size, uint16_t& IndexPart,
                               const TKzPacketEmit& Emit) {
  const bool datagrams = Spec.Protocol == TKzProtocol::kzpUDP;
  TKzCompressionType compression = Spec.Compression;
  const bool blocks = compression == TKzCompressionType::kztcParts ||
                      (datagrams && compression != TKzCompressionType::kztcNone);
  const uint8_t* source = Data;
  size_t size = Size;
  if (compression == TKzCompressionType::kztcFully && !datagrams) {
    FPacked.resize(TKzDeflater::Bound(Size));
    const size_t n = Size > 0 ? FDeflater.Compress(Data, Size, FPacked.data()) : 0;
    if (n > 0 && n < Size && Size <= KzInflateBound(n)) {
      source = FPacked.data();
      size = n;
    } else {
      compression = TKzCompressionType::kztcNone;
    }
  }
  FUsed = compression;

  TKzInfo info = Spec.Info;
  const bool file = (Spec.DataType & DATA_TYPE_MASK) == DATA_TYPE_FILE;
  if (file) info.FileInfo.TotalFileSize = KzSatAdd(Spec.FileStart, static_cast<int64_t>(Size));
  if (file && Spec.FileTotal >= 0) info.FileInfo.TotalFileSize = Spec.FileTotal;
  uint16_t word = static_cast<uint16_t>((Spec.DataType & DATA_TYPE_MASK) | KzCompressionBits(compression));
  if (Spec.UseGUID) {
    if (!IsNull(Spec.GUIDFrom)) word |= DATA_FLAG_GUIDFROM;
    if (!IsNull(Spec.GUIDTo)) word |= DATA_FLAG_GUIDTO;
    if (!IsNull(Spec.GUIDGroup)) word |= DATA_FLAG_GUIDGROUP;
  }
  const size_t headerLength = KzPacketHeaderLength(word, info);
  const size_t overhead = blocks ? KZ_BLOCK_OVERHEAD : 0;
  const size_t bufferSize = std::max<size_t>(Spec.BufferSize, headerLength + overhead + 1);

  int64_t total = 0;
  size_t pos = 0;
  bool first = true;
  while (pos < size || first) {
    FPacket.resize(headerLength);
    size_t h = 0;
    if (datagrams || first) {
      if (file) info.FileInfo.FileOffs = KzSatAdd(Spec.FileStart, static_cast<int64_t>(pos));
      const int64_t lenPack = datagrams ? static_cast<int64_t>(size - pos) : static_cast<int64_t>(size);
      h = static_cast<size_t>(FillHeader(FPacket.data(), static_cast<int32_t>(std::min<size_t>(bufferSize, INT32_MAX)),
                                         Spec.DataType, compression, IndexPart, lenPack, Spec.GUIDFrom, Spec.GUIDTo,
                                         Spec.GUIDGroup, info, 0, Spec.UseGUID, Spec.Protocol));
    }
    FPacket.resize(h);
    size_t n = std::min(size - pos, bufferSize - h - overhead);
    if (blocks) n = std::min(n, KZ_MAX_BLOCK_DATA);
    if (blocks && n > 0) {
      KzAppendBlock(FPacket, source + pos, n, FDeflater);
    } else {
      FPacket.insert(FPacket.end(), source + pos, source + pos + n);
    }
    if (!Emit(FPacket.data(), FPacket.size())) return -1;
    total += static_cast<int64_t>(FPacket.size());
    pos += n;
    ++IndexPart;  // wraps from 65,535 to 0
    first = false;
  }
  return total;
}

}  // namespace kz
