#include "streaming/server/fmxMKzMediaServerThread.h"

#include <chrono>
#include <cstring>

#include "streaming/server/fmxMKzMediaServer.h"

namespace kz {

namespace {

constexpr uint32_t kSweepMs = 250;
constexpr uint64_t kListenToken = UINT64_MAX - 1;

uint64_t NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

}  // namespace

TKzMediaServerThread::TKzMediaServerThread(TKzMediaServer* AServer, TKzProtocol Protocol, TKzSocket Listening,
                                           uint32_t SessionKey)
    : TKzReceiverCustomThread(true, "TKzMediaServerThread"), ServerSessionKey(SessionKey), Server(AServer) {
  FProtocol = Protocol;
  hReceiver = Listening;
  // The connection threads' own notices (1025 connected, 1026 disconnected ...) are not the
  // relay's: its 1025/1026 are buffer notices. They go nowhere.
  Parent = nullptr;
}

TKzMediaServerThread::~TKzMediaServerThread() {
  StopThread();
  WaitForEnd(INFINITE);
}

void TKzMediaServerThread::StopThread() {
  Terminate();
  FPoll.Wake();
  if (FProtocol == TKzProtocol::kzpUDP && hReceiver != KZ_INVALID_SOCKET) PlatformShutdown(hReceiver);
}

void TKzMediaServerThread::DoExecute() {
  if (FProtocol != TKzProtocol::kzpUDP) {
    ServeStreams();
    return;
  }
  ListenServer = new TKzListenerThread(this, hReceiver, FProtocol, nullptr, Server->SenderConnectionProperties(),
                                       Server->ReceiverConnectionProperties());
  StartThread(ListenServer);
  while (SleepUnlessTerminated(kSweepMs)) {
  }
  delete ListenServer;
  ListenServer = nullptr;
}

int32_t TKzMediaServerThread::ConnectionCount() {
  std::lock_guard<std::mutex> g(FConnLock);
  return static_cast<int32_t>(FConns.size());
}

void TKzMediaServerThread::CountChanged() {
  if (!ConnectionCountChange || Terminated()) return;
  auto callback = ConnectionCountChange;
  const int32_t count = ConnectionCount();
  PostToMain([callback, count] { callback(count); });
}

// ---- The HTTP port's loop

void TKzMediaServerThread::ServeStreams() {
  FReadBuffer.resize(static_cast<size_t>(KZ_READ_BUFFER));
  if (!FPoll.Valid() || !FPoll.Add(hReceiver, kListenToken)) return;
  CountChanged();
  uint64_t lastSweep = NowMs();
  while (!Terminated()) {
    FPoll.Wait(kSweepMs, FEvents);
    uint64_t now = NowMs();
    for (const TKzPollSet::TEvent& e : FEvents) {
      if (Terminated()) break;
      if (e.Token == kListenToken) {
        AcceptAll(now);
        continue;
      }
      std::shared_ptr<TKzServerConn> c;
      {
        std::lock_guard<std::mutex> g(FConnLock);
        auto it = FConns.find(e.Token);
        if (it != FConns.end()) c = it->second;
      }
      if (!c) continue;
      bool alive = true;
      if (e.Writable) alive = Flush(*c, now);
      if (alive && e.Readable) alive = OnReadable(*c, now);
      if (!alive) Close(c->Serial);
    }
    now = NowMs();
    if (now - lastSweep >= kSweepMs) {
      lastSweep = now;
      SweepConnections(now);
      Server->ReapEndedChannels();
    }
  }
  std::vector<TKzConnSerial> all;
  {
    std::lock_guard<std::mutex> g(FConnLock);
    for (const auto& [serial, c] : FConns) all.push_back(serial);
  }
  for (TKzConnSerial s : all) Close(s);
  FPoll.Remove(hReceiver);
}

void TKzMediaServerThread::AcceptAll(uint64_t Now) {
  for (;;) {
    TKzSocket s = PlatformAccept(hReceiver, 0);
    if (s == KZ_INVALID_SOCKET) return;
    if (ConnectionCount() >= Server->ReceiverConnectionProperties().MaxConnections()) {
      PlatformCloseSocket(s);
      continue;
    }
    PlatformSetNonBlocking(s, true);
    PlatformSetNoDelay(s, true);
    auto c = std::make_shared<TKzServerConn>();
    c->Serial = KzMNewConnectionSerial();
    c->Socket = s;
    c->Opened = c->Progress = Now;
    if (!FPoll.Add(s, c->Serial)) {
      PlatformCloseSocket(s);
      continue;
    }
    {
      std::lock_guard<std::mutex> g(FConnLock);
      FConns.emplace(c->Serial, std::move(c));
    }
    CountChanged();
  }
}

bool TKzMediaServerThread::OnReadable(TKzServerConn& C, uint64_t Now) {
  // A few reads a round, so that one busy sender does not hold the others up.
  for (int round = 0; round < 4; ++round) {
    if (C.WantWrite) return true;  // reads wait until its answers are out
    const int64_t n = PlatformRecv(C.Socket, FReadBuffer.data(), static_cast<int64_t>(FReadBuffer.size()));
    if (n < 0 && PlatformSocketError() == TKzSocketError::kzseWouldBlock) return true;
    if (n <= 0) return false;  // the peer went, or the connection failed
    C.Progress = Now;
    ReadChunk(C, FReadBuffer.data(), static_cast<size_t>(n));
    if (!Flush(C, Now)) return false;
    if (static_cast<size_t>(n) < FReadBuffer.size()) return true;
  }
  return true;
}

void TKzMediaServerThread::ReadChunk(TKzServerConn& C, const uint8_t* Data, size_t Size) {
  // Fillers alone are no data.
  size_t at = 0;
  while (Size - at >= MARKER_NULL.size() && std::memcmp(Data + at, MARKER_NULL.data(), MARKER_NULL.size()) == 0)
    at += MARKER_NULL.size();
  if (at == Size) return;
  const bool counting = IsPacketProcessing;
  if (counting) {
    {
      std::lock_guard<TCriticalSection> g(CriticalSectionPacket);
      ++PacketCount;
    }
    PostToMain([this] { DoPacketProcessing(); });
  }
  uint32_t clientError = 0;
  if (Server->UseDumpMemory()) Server->Dump(Data + at, Size - at);
  ReadStream(C, Data + at, Size - at, C.DataType, clientError, C.HeaderPack);
  if (Server->OnDataRead) {
    TMemoryStream chunk;
    chunk.Write(Data + at, static_cast<int64_t>(Size - at));
    chunk.SetPosition(0);
    Server->OnDataRead(Server, ServerSessionKey, C.DataType, chunk, C.Socket, C.HeaderPack.GUIDFrom,
                       C.HeaderPack.GUIDTo, C.HeaderPack.GUIDGroup);
  }
  if (counting) {
    std::lock_guard<TCriticalSection> g(CriticalSectionPacket);
    if (PacketCount > 0) --PacketCount;
  }
}

bool TKzMediaServerThread::Flush(TKzServerConn& C, uint64_t Now) {
  constexpr size_t kPieces = 16;
  while (!C.Out.empty()) {
    TKzSendPiece pieces[kPieces];
    size_t n = 0;
    for (auto it = C.Out.begin(); it != C.Out.end() && n < kPieces; ++it) {
      const size_t skip = n == 0 ? C.OutAt : 0;
      pieces[n++] = {it->Hold->data() + it->At + skip, it->Size - skip};
    }
    const int64_t sent = PlatformSendPieces(C.Socket, pieces, n);
    if (sent < 0) return false;
    if (sent == 0) break;
    C.Progress = Now;
    for (size_t left = static_cast<size_t>(sent); left > 0;) {
      const size_t k = std::min(left, C.Out.front().Size - C.OutAt);
      C.OutAt += k, left -= k;
      if (C.OutAt == C.Out.front().Size) C.Out.pop_front(), C.OutAt = 0;
    }
  }
  // While answers are on their way nothing more is read: a peer that asks
  // without reading its answers holds no more than one batch here.
  const bool wantWrite = !C.Out.empty();
  if (wantWrite != C.WantWrite) {
    C.WantWrite = wantWrite;
    FPoll.Modify(C.Socket, C.Serial, !wantWrite, wantWrite);
  }
  return true;
}

void TKzMediaServerThread::Close(TKzConnSerial Serial) {
  std::shared_ptr<TKzServerConn> c;
  {
    std::lock_guard<std::mutex> g(FConnLock);
    auto it = FConns.find(Serial);
    if (it == FConns.end()) return;
    c = std::move(it->second);
    FConns.erase(it);
  }
  FPoll.Remove(c->Socket);
  // Channels forget the socket before it is closed.
  Server->ConnectionGone(*c);
  PlatformShutdown(c->Socket);
  PlatformCloseSocket(c->Socket);
  CountChanged();
}

void TKzMediaServerThread::SweepConnections(uint64_t Now) {
  const bool auth = Server->Auth() != nullptr;
  std::vector<TKzConnSerial> ending;
  {
    std::lock_guard<std::mutex> g(FConnLock);
    for (auto& [serial, c] : FConns) {
      const TKzConnectionProperties& props = c->DataType < KZ_SERVER_CHANNEL_FLAG
                                                 ? Server->SenderConnectionProperties()
                                                 : Server->ReceiverConnectionProperties();
      // Neither a byte read nor written within the data type's time-out (a
      // peer that never sent one valid packet included).
      if (Now > c->Progress && Now - c->Progress > GetTimeOut(props, c->DataType)) {
        ending.push_back(serial);
      } else if (auth && !c->Authed.load() && Now - c->Opened >= KZ_AUTH_DEADLINE_MS) {
        Server->Refuse(c.get(), "no proof within 5 s", TGUID{});
        ending.push_back(serial);
      }
    }
  }
  for (TKzConnSerial s : ending) Close(s);
}

// The UDP port's datagrams (the listener's thread).
bool TKzMediaServerThread::DoRead(TMemoryStream& Stream, TKzConnSerial, TKzSocket Socket, uint16_t& DataType,
                                  uint32_t& ClientError, TKzProtocol Protocol, TKzHeaderPack& HeaderPack) {
  const int64_t start = Stream.Position();
  const uint8_t* data = Stream.Memory() + start;
  const size_t size = static_cast<size_t>(Stream.Size() - start);
  if (Server->UseDumpMemory()) Server->Dump(data, size);
  if (Protocol == TKzProtocol::kzpUDP) ReadDatagram(data, size, DataType, ClientError);
  Stream.Seek(0, TSeekOrigin::soEnd);
  if (Server->OnDataRead) {
    TMemoryStream chunk;
    chunk.Write(data, static_cast<int64_t>(size));
    chunk.SetPosition(0);
    Server->OnDataRead(Server, ServerSessionKey, DataType, chunk, Socket, HeaderPack.GUIDFrom, HeaderPack.GUIDTo,
                       HeaderPack.GUIDGroup);
  }
  return true;
}

bool TKzMediaServerThread::Authenticate(TKzServerConn& C, const TKzServerItem& Item) {
  std::shared_ptr<TKzServerAuth> auth = Server->Auth();
  if (!auth || C.Authed.load()) return true;
  if (Item.Kind != TKzServerItem::TKind::kzsiPacket || Item.Header.DataType() != DATA_TYPE_CMD ||
      Item.Header.Compression() != TKzCompressionType::kztcNone)
    return false;  // nothing is answered before the proof
  TMemoryStream payload;
  payload.Write(Item.Bytes.data() + Item.HeaderSize, static_cast<int64_t>(Item.Bytes.size() - Item.HeaderSize));
  payload.SetPosition(0);
  const std::vector<TKzCmd> cmds = KzLoadCmdPayload(payload);
  TGUID who;
  std::string why;
  TGUID claimed;
  if (!cmds.empty()) {
    try {
      claimed = StringToGUIDA(cmds[0].GetAsStringSafe("GUID"));
    } catch (const std::exception&) {
    }
  }
  if (cmds.empty() || !auth->Verify(cmds[0], KzUnixTime(), who, why)) {
    Server->Refuse(&C, cmds.empty() ? "no proof" : why, claimed);
    PlatformShutdown(C.Socket);  // the loop ends it
    return false;
  }
  C.AuthGUID = who;
  C.Authed = true;
  return false;  // the proof itself goes nowhere
}

void TKzMediaServerThread::ReadStream(TKzServerConn& C, const uint8_t* Data, size_t Size, uint16_t& DataType,
                                      uint32_t& ClientError, TKzHeaderPack& HeaderPack) {
  C.Reader.Feed(Data, Size);
  for (TKzServerItem item; C.Reader.Next(item);) {
    if (Terminated()) return;
    if (!Authenticate(C, item)) continue;
    if (item.Kind == TKzServerItem::TKind::kzsiRequest) {
      Server->ChannelRequest(C, item.Request, DataType);
      continue;
    }
    const TKzPacketHeader& h = item.Header;
    DataType = h.DataTypeWord;
    HeaderPack.GUIDFrom = h.GUIDFrom;
    HeaderPack.GUIDTo = h.GUIDTo;
    HeaderPack.GUIDGroup = h.GUIDGroup;
    C.Packet = std::make_shared<const std::vector<uint8_t>>(std::move(item.Bytes));
    Server->ReadData(C, h, *C.Packet, item.HeaderSize, ClientError);
    C.Packet.reset();
  }
}

void TKzMediaServerThread::ReadDatagram(const uint8_t* Data, size_t Size, uint16_t& DataType, uint32_t& ClientError) {
  if (Server->Auth()) {
    // A datagram carries no proof of who sent it.
    if (!FDatagramRefusalTold) Server->Refuse(nullptr, "datagrams refused: the relay requires proof", TGUID{});
    FDatagramRefusalTold = true;
    return;
  }
  TKzPacketHeader h;
  std::vector<uint8_t> packet;
  if (!KzDatagramToStreamPacket(Data, Size, h, packet, FInflater)) return;
  DataType = h.DataTypeWord;
  size_t used = 0;
  TKzPacketHeader parsed;
  KzParsePacketHeader(packet.data(), packet.size(), parsed, used);
  Server->ReadData(FDatagrams, parsed, packet, used, ClientError);
}

void TKzMediaServerThread::DoPacketProcessing() { Server->PacketProcessing(); }

TGUID TKzMediaServerThread::GetGUIDMy() { return Server ? Server->GUIDMyValue() : TGUID{}; }

bool TKzMediaServerThread::SendCommandToGUID(const TKzCmd& Cmd, const TGUID& GUIDFrom, const TGUID& GUIDTo,
                                             const TGUID& GUIDGroup) {
  return Server->SendCommandToGUID(Cmd, GUIDFrom, GUIDTo, GUIDGroup);
}

}  // namespace kz
