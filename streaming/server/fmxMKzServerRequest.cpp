#include "streaming/server/fmxMKzServerRequest.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzPacketReader.h"
#include "streaming/fmxMKzPacketWriter.h"

namespace kz {

namespace {

constexpr size_t kCompactAt = 65536;
constexpr std::string_view kNull("CON_NULL", 8);
constexpr std::string_view kMethods[] = {"POST", "GET", "CONNECT"};

enum class TMatch : uint8_t { No, Maybe, Yes };

// Whether Text begins with Token (Maybe: Text is a proper prefix of it).
TMatch StartsWith(std::string_view Text, std::string_view Token) {
  if (Text.size() >= Token.size()) return Text.substr(0, Token.size()) == Token ? TMatch::Yes : TMatch::No;
  return Token.substr(0, Text.size()) == Text ? TMatch::Maybe : TMatch::No;
}

bool IsRequestCode(std::string_view Five) {
  uint8_t code = 0;
  return KzChannelRequestKind(std::string(Five), code) != TKzChannelRequestKind::kzcrUnknown;
}

// Whether Text could still grow into a request code.
bool MaybeRequestCode(std::string_view Text) {
  static constexpr std::string_view kCodes[] = {"VDGET", "ADGET", "UDGET", "CDGET", "FDGET",
                                                "CLRVD", "CLRAD", "CLRUD", "CLRCD", "CLRFD"};
  for (std::string_view c : kCodes)
    if (StartsWith(Text, c) == TMatch::Maybe) return true;
  return false;
}

}  // namespace

void TKzServerConnReader::Feed(const uint8_t* Data, size_t Size) {
  if (Size == 0) return;
  FBuf.insert(FBuf.end(), Data, Data + Size);
  while (Step()) {
  }
  if (FState == TState::Seek && FStart == FBuf.size()) {
    FBuf.clear();
    FStart = FPos = 0;
  } else if (FStart >= kCompactAt && FStart > FBuf.size() / 2) {
    FBuf.erase(FBuf.begin(), FBuf.begin() + static_cast<std::ptrdiff_t>(FStart));
    FPos -= FStart;
    FStart = 0;
  }
}

bool TKzServerConnReader::Next(TKzServerItem& Item) {
  if (FOut.empty()) return false;
  Item = std::move(FOut.front());
  FOut.pop_front();
  return true;
}

bool TKzServerConnReader::Step() {
  switch (FState) {
    case TState::Seek: return SeekItem();
    case TState::Payload: return TakePayload();
    case TState::Blocks: return TakeBlocks();
  }
  return false;
}

bool TKzServerConnReader::SeekItem() {
  FPos = FStart;
  if (FStart >= FBuf.size()) return false;
  const uint8_t* p = FBuf.data() + FStart;
  const size_t n = FBuf.size() - FStart;
  const std::string_view text(reinterpret_cast<const char*>(p), n);
  // A keep-alive filler.
  const TMatch null = StartsWith(text, kNull);
  if (null == TMatch::Yes) {
    FStart += kNull.size();
    return true;
  }
  // An HTTP request preamble.
  bool maybe = null == TMatch::Maybe;
  for (std::string_view m : kMethods) {
    const TMatch r = StartsWith(text, m);
    if (r == TMatch::Yes) {
      size_t end = 0;
      switch (KzMatchHttpPreamble(p, n, end)) {
        case TKzHttpPreamble::kzhpFound: FStart += end; return true;
        case TKzHttpPreamble::kzhpIncomplete: return false;
        default: break;  // too long: garbage
      }
    }
    maybe = maybe || r == TMatch::Maybe;
  }
  // A channel request.
  if (n >= 5 && IsRequestCode(text.substr(0, 5))) {
    if (n < TKzChannelRequest::WireSize) return false;
    TKzServerItem item;
    item.Kind = TKzServerItem::TKind::kzsiRequest;
    item.Request = KzChannelRequestFromBytes(p);
    FOut.push_back(std::move(item));
    FStart += TKzChannelRequest::WireSize;
    return true;
  }
  maybe = maybe || MaybeRequestCode(text);
  // A packet header.
  const TMatch marker = StartsWith(text, std::string_view("mdBD"));
  if (marker == TMatch::Yes) {
    size_t used = 0;
    TKzPacketHeader h;
    const TKzHeaderResult r = KzParsePacketHeader(p, n, h, used);
    if (r == TKzHeaderResult::kzhrIncomplete) return false;
    if (r == TKzHeaderResult::kzhrOk && h.LenPack <= KZ_MAX_PAYLOAD) {
      FHeader = std::move(h);
      FHeaderSize = used;
      FPos = FStart + used;
      FProduced = 0;
      FState = FHeader.Compression() == TKzCompressionType::kztcParts ? TState::Blocks : TState::Payload;
      return true;
    }
  }
  maybe = maybe || marker == TMatch::Maybe;
  if (maybe) return false;
  ++FStart;
  ++FSkipped;
  return true;
}

bool TKzServerConnReader::TakePayload() {
  if (static_cast<int64_t>(FBuf.size() - FPos) < FHeader.LenPack) return false;
  FPos += static_cast<size_t>(FHeader.LenPack);
  Emit();
  return true;
}

bool TKzServerConnReader::TakeBlocks() {
  while (FProduced < FHeader.LenPack) {
    const uint8_t* p = FBuf.data() + FPos;
    const size_t n = FBuf.size() - FPos;
    if (n < 4) return false;
    if (std::memcmp(p, MARKER_COMPRESSION_BEGIN.data(), 4) != 0) {
      Abandon();
      return true;
    }
    int16_t len = 0;
    size_t used = 0;
    const TKzBlockResult r = KzParseBlock(p, n, len, used);
    if (r == TKzBlockResult::kzbrIncomplete) return false;
    if (r == TKzBlockResult::kzbrMisplacedEnd) {
      Abandon();
      return true;
    }
    const size_t lacking = static_cast<size_t>(FHeader.LenPack - FProduced);
    if (len > 0) {
      FScratch.clear();
      if (!FInflater.Inflate(p + 6, static_cast<size_t>(len), lacking, FScratch)) {
        Abandon();
        return true;
      }
      FProduced += static_cast<int64_t>(FScratch.size());
    } else {
      const size_t raw = static_cast<size_t>(-static_cast<int32_t>(len));
      if (raw > lacking) {
        Abandon();
        return true;
      }
      FProduced += static_cast<int64_t>(raw);
    }
    FPos += used;
  }
  Emit();
  return true;
}

void TKzServerConnReader::Emit() {
  TKzServerItem item;
  item.Kind = TKzServerItem::TKind::kzsiPacket;
  item.Header = FHeader;
  item.HeaderSize = FHeaderSize;
  item.Bytes.assign(FBuf.begin() + static_cast<std::ptrdiff_t>(FStart), FBuf.begin() + static_cast<std::ptrdiff_t>(FPos));
  FOut.push_back(std::move(item));
  FStart = FPos;
  FState = TState::Seek;
}

void TKzServerConnReader::Abandon() {
  // The packet is not what its header says: look for the next item just after its marker.
  ++FDropped;
  ++FStart;
  FState = TState::Seek;
}

bool KzDatagramToStreamPacket(const uint8_t* Data, size_t Size, TKzPacketHeader& Header, std::vector<uint8_t>& Out,
                              TKzInflater& Inflater) {
  TKzPacket p;
  if (!KzReadDatagram(Data, Size, p, Inflater)) return false;
  Header = p.Header;
  TKzPacketSpec spec;
  spec.DataType = p.Header.DataType();
  spec.Compression = TKzCompressionType::kztcNone;
  spec.Protocol = TKzProtocol::kzpTCP;
  spec.BufferSize = static_cast<uint32_t>(std::min<size_t>(p.Payload.size() + 1024, KZ_MAX_PAYLOAD));
  spec.UseGUID = true;
  spec.GUIDFrom = p.Header.GUIDFrom;
  spec.GUIDTo = p.Header.GUIDTo;
  spec.GUIDGroup = p.Header.GUIDGroup;
  spec.Info = p.Header.Info;
  if (spec.DataType == DATA_TYPE_FILE) {
    spec.FileStart = p.Header.Info.FileInfo.FileOffs;
    spec.FileTotal = p.Header.Info.FileInfo.TotalFileSize;
  }
  uint16_t index = p.Header.IndexPart;
  Out.clear();
  TKzPacketWriter writer;
  return writer.Write(spec, p.Payload.data(), p.Payload.size(), index, [&Out](const uint8_t* D, size_t N) {
    Out.insert(Out.end(), D, D + N);
    return true;
  }) >= 0;
}

}  // namespace kz
