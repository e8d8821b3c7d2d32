// Stream packet reader: fed the input whole or cut in two at a place the
// input chooses, it yields the same packets; payloads never exceed what
// their headers allow. The datagram reader takes the same bytes without
// reading outside them.
#include <cstdint>
#include <vector>

#include "streaming/fmxMKzPacketReader.h"
#include "kzfuzz.h"

using namespace kz;
using kzfuzz::Check;

namespace {
std::vector<TKzPacket> Read(const uint8_t* Data, size_t Size, size_t Cut) {
  TKzPacketReader reader;
  reader.Feed(Data, Cut);
  reader.Feed(Data + Cut, Size - Cut);
  std::vector<TKzPacket> out;
  for (TKzPacket p; reader.Next(p);) out.push_back(std::move(p));
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const size_t cut = Size ? Data[0] * Size / 256 : 0;
  const std::vector<TKzPacket> whole = Read(Data, Size, Size), split = Read(Data, Size, cut);
  Check(whole.size() == split.size());
  for (size_t i = 0; i < whole.size(); ++i) {
    const TKzPacket &a = whole[i], &b = split[i];
    Check(a.Payload == b.Payload && a.Header.DataTypeWord == b.Header.DataTypeWord &&
          a.Header.LenPack == b.Header.LenPack && a.Header.IndexPart == b.Header.IndexPart && a.Last == b.Last);
    if (a.Header.Compression() != TKzCompressionType::kztcFully)
      Check(static_cast<int64_t>(a.Payload.size()) + a.PartOffset <= a.Header.LenPack);
  }
  TKzInflater inflater;
  TKzPacket datagram;
  if (KzReadDatagram(Data, Size, datagram, inflater) && datagram.Header.Compression() == TKzCompressionType::kztcNone)
    Check(datagram.Payload.size() < Size);
  return 0;
}
