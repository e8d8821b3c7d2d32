#include "streaming/fmxMKzSenderServer.h"

#include <algorithm>
#include <chrono>

#include "platform/fmxMKzPlatformStream.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzChannelSession.h"

namespace kz {

namespace {

constexpr size_t kRequest = TKzChannelRequest::WireSize;
constexpr size_t kPack = TKzSessionPack::WireSize;
constexpr size_t kHeaderPack = TKzHeaderPack::WireSize;
constexpr size_t kReadSize = 4096;
constexpr size_t kPiecesPerCall = 64;
// Bytes written to one connection per turn of the poll loop: a receiver
// that fell behind gets answers of many frames (megabytes at 1080p), and
// writing one to the end before looking at the others kept every other
// connection's request unread for that long.
constexpr size_t kBytesPerTurn = 256 << 10;

uint64_t SteadyMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void PutLE16(uint8_t* At, uint16_t V) {
  At[0] = static_cast<uint8_t>(V);
  At[1] = static_cast<uint8_t>(V >> 8);
}

}  // namespace

uint64_t TKzCamSenderServer::NowMs() { return SteadyMs(); }

TKzPacketSpec KzPullPacketSpec(const TKzPullSettings& Settings, uint16_t ADataType, const TKzInfo& Info) {
  TKzPacketSpec spec;
  spec.DataType = ADataType & DATA_TYPE_MASK;
  spec.Compression = Settings.CompressionOptions.ForDataType(ADataType);
  spec.BufferSize = Settings.BufferSize;
  spec.UseGUID = Settings.UseGUID;
  spec.GUIDFrom = Settings.FGUIDFrom;
  spec.Info = Info;
  switch (spec.DataType) {
    case DATA_TYPE_USERDATA: spec.GUIDTo = Settings.UserDataGUIDTo, spec.GUIDGroup = Settings.UserDataGUIDGroup; break;
    case DATA_TYPE_CMD: spec.GUIDTo = Settings.CmdGUIDTo, spec.GUIDGroup = Settings.CmdGUIDGroup; break;
    case DATA_TYPE_FILE: spec.GUIDTo = Settings.FileGUIDTo, spec.GUIDGroup = Settings.FileGUIDGroup; break;
    default: spec.GUIDTo = Settings.FGUIDTo, spec.GUIDGroup = Settings.FGUIDGroup; break;
  }
  return spec;
}

TKzCamSenderServer::TKzCamSenderServer(const TKzPullSettings& Settings, TKzSocket AClientSocket, TKzConnSerial Serial,
                                       TKzPollSet* Poll)
    : FSettings(Settings),
      FSerial(Serial),
      FPoll(Poll),
      ClientSocket(AClientSocket),
      FQueue(Settings.VideoQueueBytes, Settings.QueueBytes) {}

TKzCamSenderServer::~TKzCamSenderServer() {
  if (ClientSocket != KZ_INVALID_SOCKET) {
    FPoll->Remove(ClientSocket);
    PlatformShutdown(ClientSocket);
    PlatformCloseSocket(ClientSocket);
  }
}

void TKzCamSenderServer::SocketItemReleased() {
  FReleased = true;
  FPoll->Wake();
}

uint16_t TKzCamSenderServer::DataType() {
  std::lock_guard<TCriticalSection> g(CriticalSection);
  return FDataType;
}

TKzPullOffer TKzCamSenderServer::Offer(uint16_t ADataType, const TKzPulledPacket& Packet, const TKzInfo& Info,
                                       bool& Served) {
  std::lock_guard<TCriticalSection> g(CriticalSection);
  Served = FDataType != 0 && FDataType == (ADataType & DATA_TYPE_MASK);
  if (!Served) return TKzPullOffer::kzpoRefused;
  const bool video = (ADataType & DATA_TYPE_MASK) == DATA_TYPE_VIDEO;
  const uint64_t dropped = FQueue.Dropped();
  const TKzPullOffer r = FQueue.Offer(ADataType, Packet, Info);
  if (video) FStats.Offered++, FStats.Dropped += FQueue.Dropped() - dropped;
  return r;
}

TKzPullStats TKzCamSenderServer::Stats() {
  std::lock_guard<TCriticalSection> g(CriticalSection);
  return FStats;
}

TKzSessionKey TKzCamSenderServer::SenderKey() const {
  return FSettings.GetSessionKey ? FSettings.GetSessionKey() : 0;
}

void TKzCamSenderServer::ConnectEvent(uint16_t ADataType) {
  KzPostConnectionEvent(FSettings.Parent, KZ_MSG_CONNECTED, ADataType, static_cast<LPARAM>(FSerial));
}

void TKzCamSenderServer::SentFileEvent(const TKzFileInfo& FileInfo) {
  auto sent = std::make_shared<TKzFileSent>();
  sent->HeaderInfo = {SessionKey, FSerial, FSettings.FileGUIDTo, FSettings.FGUIDFrom, FSettings.FileGUIDGroup};
  sent->FileInfo = FileInfo;
  KzPostConnectionEvent(FSettings.Parent, KZ_MSG_FILE_SENT, 0, reinterpret_cast<LPARAM>(sent.get()), sent);
}

void TKzCamSenderServer::Finish(bool Error) {
  if (FEnded) return;
  FEnded = true;
  const uint16_t type = DataType();
  if (Error) KzErrorConnectedEvent(FSettings.Parent, type);
  KzPostConnectionEvent(FSettings.Parent, KZ_MSG_DISCONNECTED, type, static_cast<LPARAM>(SessionKey));
  FPoll->Remove(ClientSocket);
  PlatformShutdown(ClientSocket);
  PlatformCloseSocket(ClientSocket);
  FOut.clear();
}

bool TKzCamSenderServer::OnReadable(uint64_t NowMs) {
  if (FEnded) return false;
  uint8_t buf[kReadSize];
  for (;;) {
    const int64_t n = PlatformRecv(ClientSocket, buf, sizeof buf);
    if (n > 0) {
      FRequest.insert(FRequest.end(), buf, buf + n);
      FLastProgressMs = NowMs;
      if (!ParseRequests()) return false;
      if (!FOut.empty() || static_cast<size_t>(n) < sizeof buf) return true;
      continue;
    }
    if (n < 0 && PlatformSocketError() == TKzSocketError::kzseWouldBlock) return true;
    // The peer went (a request cut short included) or the connection failed.
    Finish(false);
    return false;
  }
}

bool TKzCamSenderServer::ParseRequests() {
  if (IsStartServer) {
    size_t end = 0;
    const TKzHttpPreamble p = KzMatchHttpPreamble(FRequest.data(), FRequest.size(), end);
    if (p == TKzHttpPreamble::kzhpIncomplete) return true;
    if (p == TKzHttpPreamble::kzhpFound) FRequest.erase(FRequest.begin(), FRequest.begin() + static_cast<ptrdiff_t>(end));
    IsStartServer = false;
  }
  size_t at = 0;
  // One answer at a time: the next request waits until this one is out.
  for (; at + kRequest <= FRequest.size() && !FEnded && FOut.empty(); at += kRequest) {
    const TKzChannelRequest r = KzChannelRequestFromBytes(FRequest.data() + at);
    SessionKey = r.SessionKey;
    if (!ParserCmd(r.Text)) break;
  }
  FRequest.erase(FRequest.begin(), FRequest.begin() + static_cast<ptrdiff_t>(std::min(at, FRequest.size())));
  return !FEnded;
}

bool TKzCamSenderServer::ParserCmd(const std::string& Cmd) {
  uint8_t code = 0;
  const TKzChannelRequestKind kind = KzChannelRequestKind(Cmd, code);
  if (kind == TKzChannelRequestKind::kzcrUnknown) return true;  // no answer, the connection stays
  bool first = false;
  {
    std::lock_guard<TCriticalSection> g(CriticalSection);
    first = FDataType == 0;
    FDataType = code;
    if (kind == TKzChannelRequestKind::kzcrClear) FQueue.Take(code);
  }
  if (first) ConnectEvent(code);
  return SendData(kind == TKzChannelRequestKind::kzcrData ? code : 0);
}

bool TKzCamSenderServer::SendData(uint16_t ADataType) {
  std::vector<TKzPullItem> items;
  {
    std::lock_guard<TCriticalSection> g(CriticalSection);
    if (ADataType != 0) items = FQueue.Take(ADataType);
    FStats.Answers++;
    if (items.empty()) FStats.EmptyAnswers++;
    if (ADataType == DATA_TYPE_VIDEO) FStats.Sent += items.size();
  }
  const TKzSessionKey key = SenderKey();
  if (items.empty()) {
    auto none = std::make_shared<std::vector<uint8_t>>(kPack);
    KzSessionPackToBytes({MARKER_SESSION_NODATA, key, 0}, none->data());
    FOut.push_back({none, none->data(), none->size()});
    return Flush();
  }
  // A file is read and cut now, for this connection alone.
  for (TKzPullItem& item : items) {
    if (item.Packet.Bytes) continue;
    const TKzFileInfo& fi = item.Info.FileInfo;
    TFileStream f(fi.FileName, TFileMode::fmOpenRead);
    const int64_t size = f.Valid() ? std::min<int64_t>(f.Size() - fi.FileOffs, KZ_MAX_PAYLOAD) : -1;
    if (size < 0) {
      KzPostMessageDebug(FSettings.Parent, 0, "file not sent: " + fi.FileName);
      continue;
    }
    std::vector<uint8_t> data(static_cast<size_t>(size));
    f.Seek(fi.FileOffs, TSeekOrigin::soBeginning);
    f.Read(data.data(), size);
    TKzPacketSpec spec = KzPullPacketSpec(FSettings, ADataType, item.Info);
    spec.FileStart = fi.FileOffs;
    item.Packet = KzBuildPulledPacket(spec, data.data(), data.size(), FWriter);
    FFilesInFlight.push_back(fi);
  }
  // The connection's own bytes: session packs, header packs, packet heads.
  auto own = std::make_shared<std::vector<uint8_t>>();
  size_t ownSize = 2 * kPack;
  for (const TKzPullItem& item : items)
    if (item.Packet.Bytes) ownSize += kHeaderPack + std::min(item.Packet.IndexPartAt + 2, item.Packet.Size());
  own->reserve(ownSize);
  struct TSpan { bool Own; size_t At, Size; const TKzPulledPacket* Packet; };
  std::vector<TSpan> spans;
  own->resize(kPack);
  int64_t dataLen = 0;
  for (const TKzPullItem& item : items) {
    const TKzPulledPacket& p = item.Packet;
    if (!p.Bytes) continue;
    const TKzPacketSpec spec = KzPullPacketSpec(FSettings, ADataType, item.Info);
    TKzHeaderPack pack;
    pack.MARKER = HEADER_MARKER_TCP;
    pack.LenPack = static_cast<int64_t>(p.Size());
    pack.GUIDTo = spec.GUIDTo;
    pack.GUIDFrom = spec.GUIDFrom;
    pack.GUIDGroup = spec.GUIDGroup;
    const size_t at = own->size();
    const size_t head = std::min(p.IndexPartAt + 2, p.Size());
    own->resize(at + kHeaderPack + head);
    KzHeaderPackToBytes(pack, own->data() + at);
    std::copy(p.Bytes->begin(), p.Bytes->begin() + static_cast<ptrdiff_t>(head), own->begin() + static_cast<ptrdiff_t>(at + kHeaderPack));
    if (head == p.IndexPartAt + 2) PutLE16(own->data() + at + kHeaderPack + p.IndexPartAt, FIndexPart);
    FIndexPart = static_cast<uint16_t>(FIndexPart + p.Packets);
    spans.push_back({true, at, kHeaderPack + head, nullptr});
    if (p.Size() > head) spans.push_back({false, head, p.Size() - head, &p});
    dataLen += static_cast<int64_t>(kHeaderPack + p.Size());
    if (ADataType == DATA_TYPE_VIDEO && FSettings.OnVideoFrame) FSettings.OnVideoFrame();
  }
  if (spans.empty()) return SendData(0);
  KzSessionPackToBytes({MARKER_SESSION_BEGIN, key, dataLen}, own->data());
  const size_t end = own->size();
  own->resize(end + kPack);
  KzSessionPackToBytes({MARKER_SESSION_END, key, dataLen}, own->data() + end);
  FOut.push_back({own, own->data(), kPack});
  for (const TSpan& s : spans) {
    if (s.Own) FOut.push_back({own, own->data() + s.At, s.Size});
    else FOut.push_back({s.Packet->Bytes, s.Packet->Bytes->data() + s.At, s.Size});
  }
  FOut.push_back({own, own->data() + end, kPack});
  return Flush();
}

bool TKzCamSenderServer::Flush() {
  for (size_t turn = 0; !FOut.empty() && turn < kBytesPerTurn;) {
    TKzSendPiece pieces[kPiecesPerCall];
    size_t n = 0;
    for (auto it = FOut.begin(); it != FOut.end() && n < kPiecesPerCall; ++it) pieces[n++] = {it->Data, it->Size};
    const int64_t sent = PlatformSendPieces(ClientSocket, pieces, n);
    if (sent < 0) {
      Finish(true);
      return false;
    }
    size_t offered = 0;
    for (size_t i = 0; i < n; ++i) offered += pieces[i].Size;
    if (static_cast<size_t>(sent) < offered) {
      std::lock_guard<TCriticalSection> g(CriticalSection);
      FStats.ShortWrites++;
    }
    if (sent == 0) break;
    turn += static_cast<size_t>(sent);
    FLastProgressMs = SteadyMs();
    for (size_t left = static_cast<size_t>(sent); left > 0;) {
      TOutPiece& f = FOut.front();
      const size_t k = std::min(left, f.Size);
      f.Data += k, f.Size -= k, left -= k;
      if (f.Size == 0) FOut.pop_front();
    }
  }
  // While an answer is on its way nothing more is read: a receiver that
  // does not read holds nothing but its queue here.
  const bool pending = !FOut.empty();
  if (pending != FWantWrite) {
    FWantWrite = pending;
    FPoll->Modify(ClientSocket, FSerial, !pending, pending);
  }
  if (!pending) {
    for (const TKzFileInfo& f : FFilesInFlight) SentFileEvent(f);
    FFilesInFlight.clear();
  }
  return true;
}

bool TKzCamSenderServer::OnWritable(uint64_t) {
  if (FEnded) return false;
  if (!Flush()) return false;
  return FOut.empty() && FRequest.size() >= kRequest ? ParseRequests() : true;
}

bool TKzCamSenderServer::CheckAlive(uint64_t NowMs) {
  if (FEnded) return false;
  if (FReleased) {
    Finish(false);
    return false;
  }
  if (FLastProgressMs == 0) FLastProgressMs = NowMs;
  // (A write may have made progress after NowMs was read.)
  if (NowMs > FLastProgressMs && NowMs - FLastProgressMs > GetTimeOut(FSettings.ConnectionProperties, DataType())) {
    Finish(!FOut.empty());  // a receiver that stopped reading its answer is a failed send
    return false;
  }
  return true;
}

}  // namespace kz
