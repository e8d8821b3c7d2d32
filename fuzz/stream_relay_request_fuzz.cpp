// What a relay connection sends: the reader finds the same requests and
// packets however the bytes are cut, every packet it hands out begins with
// its header and holds what that header says; a datagram rewritten as a
// stream packet carries its payload's length.
#include <cstdint>

#include "kzfuzz.h"
#include "streaming/server/fmxMKzServerRequest.h"

using namespace kz;
using kzfuzz::Check;

namespace {

std::vector<TKzServerItem> ReadAll(const uint8_t* Data, size_t Size, size_t Cut) {
  TKzServerConnReader r;
  r.Feed(Data, Cut);
  r.Feed(Data + Cut, Size - Cut);
  std::vector<TKzServerItem> out;
  for (TKzServerItem i; r.Next(i);) out.push_back(std::move(i));
  Check(r.Buffered() <= Size);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const size_t cut = Size ? Data[0] % (Size + 1) : 0;
  const std::vector<TKzServerItem> whole = ReadAll(Data, Size, Size), split = ReadAll(Data, Size, cut);
  Check(whole.size() == split.size());
  for (size_t i = 0; i < whole.size(); ++i) {
    const TKzServerItem& a = whole[i];
    const TKzServerItem& b = split[i];
    Check(a.Kind == b.Kind && a.Bytes == b.Bytes && a.Request.Text == b.Request.Text && a.Request.GUID == b.Request.GUID);
    if (a.Kind != TKzServerItem::TKind::kzsiPacket) continue;
    TKzPacketHeader h;
    size_t used = 0;
    Check(KzParsePacketHeader(a.Bytes.data(), a.Bytes.size(), h, used) == TKzHeaderResult::kzhrOk);
    Check(used == a.HeaderSize && h.DataTypeWord == a.Header.DataTypeWord);
    if (h.Compression() != TKzCompressionType::kztcParts) Check(a.Bytes.size() - used == static_cast<size_t>(h.LenPack));
  }
  TKzInflater inflater;
  TKzPacketHeader h;
  std::vector<uint8_t> packet;
  if (KzDatagramToStreamPacket(Data, Size, h, packet, inflater)) {
    TKzPacketHeader back;
    size_t used = 0;
    Check(KzParsePacketHeader(packet.data(), packet.size(), back, used) == TKzHeaderResult::kzhrOk);
    Check(back.Compression() == TKzCompressionType::kztcNone && packet.size() - used == static_cast<size_t>(back.LenPack));
  }
  return 0;
}
