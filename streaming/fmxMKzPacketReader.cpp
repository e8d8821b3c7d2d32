#include "streaming/fmxMKzPacketReader.h"

#include <algorithm>

#include "streaming/fmxMKzStreamMarkers.h"

namespace kz {

namespace {
constexpr size_t kCompactAt = 65536;
constexpr size_t kKeepTail = 3;  // a marker cut by a read is found once the rest arrives
constexpr int64_t kReserveMax = 16 << 20;
// A packet under way, one being delivered, one more of another kind (audio
// between frames): buffers enough that a steady stream allocates nothing.
constexpr size_t kSpareBuffers = 2;
// Larger buffers (a burst, one odd packet) go back rather than stay with the connection.
constexpr size_t kSpareBytesMax = 8 << 20;
}  // namespace

void TKzPacketReader::Feed(const uint8_t* Data, size_t Size) {
  if (FPos == FBuf.size()) {
    // Nothing held back: read the input where it lies and keep only what is left.
    FIn = Data;
    FInSize = Size;
    FPos = 0;
    Process();
    FBuf.assign(Data + FPos, Data + Size);
    FPos = 0;
  } else {
    FBuf.insert(FBuf.end(), Data, Data + Size);
    FIn = FBuf.data();
    FInSize = FBuf.size();
    Process();
    Compact();
  }
  FIn = nullptr;
  FInSize = 0;
}

bool TKzPacketReader::Next(TKzPacket& Packet) {
  if (FNext == FOut.size()) return false;
  TKzPacket& out = FOut[FNext++];
  std::swap(Packet, out);
  KeepSpare(std::move(out.Payload));
  if (FNext == FOut.size()) {
    FOut.clear();
    FNext = 0;
  }
  return true;
}

void TKzPacketReader::KeepSpare(std::vector<uint8_t>&& Buffer) {
  if (Buffer.capacity() == 0 || Buffer.capacity() > kSpareBytesMax || FSpares.size() >= kSpareBuffers) return;
  Buffer.clear();
  FSpares.push_back(std::move(Buffer));
}

void TKzPacketReader::Reset() {
  FState = TState::Seek;
  FBuf.clear();
  FPos = 0;
  FPayload.clear();
  FProduced = 0;
  FPartOffset = 0;
}

void TKzPacketReader::Process() {
  for (;;) {
    bool more = false;
    switch (FState) {
      case TState::Seek: more = SeekHeader(); break;
      case TState::Raw: more = TakeRaw(); break;
      case TState::Fully: more = TakeFully(); break;
      case TState::Blocks: more = TakeBlocks(); break;
    }
    if (!more) return;
  }
}

bool TKzPacketReader::SeekHeader() {
  const int64_t at = KzFindMarker(FIn, FInSize, FPos, MARKER);
  if (at < 0) {
    FPos = std::max(FPos, FInSize > kKeepTail ? FInSize - kKeepTail : size_t{0});
    return false;
  }
  FPos = static_cast<size_t>(at);
  size_t used = 0;
  TKzPacketHeader h;
  const TKzHeaderResult r = KzParsePacketHeader(FIn + FPos, FInSize - FPos, h, used);
  if (r == TKzHeaderResult::kzhrIncomplete) return false;
  if (r == TKzHeaderResult::kzhrInvalid) {
    ++FPos;
    Drop("packet header with an unknown data type or a negative length skipped");
    return true;
  }
  FPos += used;
  const bool streamedFile = h.DataType() == DATA_TYPE_FILE && h.Compression() != TKzCompressionType::kztcFully;
  if (h.LenPack > KZ_MAX_PAYLOAD && !streamedFile) {
    Drop("packet of " + std::to_string(h.LenPack) + " bytes refused");
    return true;
  }
  FHeader = std::move(h);
  FPayload.clear();
  // Room for the whole payload up front (bounded: the length is the sender's
  // word), with an eighth more when the buffer has to grow, so that frames of
  // a live stream, each a little larger than the last, do not grow it each time.
  const size_t room = static_cast<size_t>(
      std::min<int64_t>(FHeader.LenPack, FHeader.DataType() == DATA_TYPE_FILE ? KZ_FILE_PART : kReserveMax));
  if (FPayload.capacity() < room) FPayload.reserve(room + room / 8);
  FProduced = 0;
  FPartOffset = 0;
  switch (FHeader.Compression()) {
    case TKzCompressionType::kztcFully: FState = TState::Fully; break;
    case TKzCompressionType::kztcParts: FState = TState::Blocks; break;
    default: FState = TState::Raw; break;
  }
  return true;
}

size_t TKzPacketReader::TakeRawFrom(const uint8_t* Data, size_t Size) {
  int64_t room = FHeader.LenPack - FProduced;
  const bool file = FHeader.DataType() == DATA_TYPE_FILE;
  if (file) room = std::min<int64_t>(room, KZ_FILE_PART - static_cast<int64_t>(FPayload.size()));
  const size_t take = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(Size), room));
  FPayload.insert(FPayload.end(), Data, Data + take);
  FProduced += static_cast<int64_t>(take);
  if (FProduced == FHeader.LenPack) {
    Emit(true);
  } else if (file && static_cast<int64_t>(FPayload.size()) == KZ_FILE_PART) {
    Emit(false);
  }
  return take;
}

bool TKzPacketReader::TakeRaw() {
  const size_t take = TakeRawFrom(FIn + FPos, FInSize - FPos);
  FPos += take;
  return FPos < FInSize || FState != TState::Raw;
}

bool TKzPacketReader::TakeFully() {
  if (static_cast<int64_t>(FInSize - FPos) < FHeader.LenPack) return false;
  const size_t n = static_cast<size_t>(FHeader.LenPack);
  FPayload.clear();
  const bool ok = FInflater.Inflate(FIn + FPos, n, KzInflateBound(n), FPayload);
  FPos += n;
  FState = TState::Seek;
  if (!ok) {
    FPayload.clear();
    Drop("compressed payload that does not inflate within bounds dropped");
    return true;
  }
  Emit(true);
  return true;
}

bool TKzPacketReader::TakeBlocks() {
  static constexpr TKzMarker kStops[2] = {MARKER_COMPRESSION_BEGIN, MARKER};
  while (FProduced < FHeader.LenPack) {
    int which = -1;
    const int64_t at = KzFindFirstMarker(FIn, FInSize, FPos, kStops, 2, which);
    if (at < 0) {
      FPos = std::max(FPos, FInSize > kKeepTail ? FInSize - kKeepTail : size_t{0});
      return false;
    }
    FPos = static_cast<size_t>(at);
    if (which == 1) {
      FState = TState::Seek;
      FPayload.clear();
      Drop("packet cut short by the next packet header");
      return true;
    }
    int16_t n = 0;
    size_t used = 0;
    const TKzBlockResult r = KzParseBlock(FIn + FPos, FInSize - FPos, n, used);
    if (r == TKzBlockResult::kzbrIncomplete) return false;
    if (r == TKzBlockResult::kzbrMisplacedEnd) {
      FPos += 4;
      Drop("compression block with a misplaced end marker skipped");
      continue;
    }
    const uint8_t* data = FIn + FPos + 6;
    const size_t lacking = static_cast<size_t>(FHeader.LenPack - FProduced);
    const size_t before = FPayload.size();
    if (n > 0) {
      if (!FInflater.Inflate(data, static_cast<size_t>(n), lacking, FPayload))
        Drop("compression block that does not inflate within the packet's length dropped");
    } else if (static_cast<size_t>(-static_cast<int32_t>(n)) > lacking) {
      Drop("raw block longer than the packet's length dropped");
    } else {
      FPayload.insert(FPayload.end(), data, data - static_cast<int32_t>(n));
    }
    FProduced += static_cast<int64_t>(FPayload.size() - before);
    FPos += used;
    if (FProduced < FHeader.LenPack && FHeader.DataType() == DATA_TYPE_FILE &&
        static_cast<int64_t>(FPayload.size()) >= KZ_FILE_PART)
      Emit(false);
  }
  Emit(true);
  return true;
}

void TKzPacketReader::Emit(bool Last) {
  TKzPacket& p = FOut.emplace_back();
  p.Header = FHeader;
  if (p.Header.DataType() == DATA_TYPE_FILE)
    p.Header.Info.FileInfo.FileOffs = KzSatAdd(p.Header.Info.FileInfo.FileOffs, FPartOffset);
  p.PartOffset = FPartOffset;
  p.Last = Last;
  FPartOffset += static_cast<int64_t>(FPayload.size());
  p.Payload = std::move(FPayload);
  FPayload = {};
  if (!FSpares.empty()) {
    FPayload = std::move(FSpares.back());
    FSpares.pop_back();
  }
  if (Last) FState = TState::Seek;
}

void TKzPacketReader::Drop(const std::string& Why) {
  ++FDropped;
  if (OnDebug) OnDebug(Why);
}

void TKzPacketReader::Compact() {
  if (FPos == FBuf.size()) {
    FBuf.clear();
    FPos = 0;
  } else if (FPos >= kCompactAt && FPos > FBuf.size() / 2) {
    FBuf.erase(FBuf.begin(), FBuf.begin() + static_cast<std::ptrdiff_t>(FPos));
    FPos = 0;
  }
}

bool KzReadDatagram(const uint8_t* Data, size_t Size, TKzPacket& Packet, TKzInflater& Inflater) {
  const int64_t at = KzFindMarker(Data, Size, 0, MARKER);
  if (at < 0) return false;
  size_t used = 0;
  TKzPacketHeader header;
  if (KzParsePacketHeader(Data + at, Size - static_cast<size_t>(at), header, used) != TKzHeaderResult::kzhrOk)
    return false;
  const uint8_t* payload = Data + at + used;
  const size_t n = Size - static_cast<size_t>(at) - used;
  // Packet's payload buffer is reused.
  Packet.Payload.clear();
  if (header.Compression() == TKzCompressionType::kztcNone)
    Packet.Payload.assign(payload, payload + n);
  else
    KzReadAllBlocks(payload, n, Packet.Payload, Inflater);
  Packet.Header = std::move(header);
  Packet.PartOffset = 0;
  Packet.Last = true;
  return true;
}

}  // namespace kz
