#include "streaming/server/fmxMKzMediaServerThread.h"

#include <chrono>

#include "streaming/server/fmxMKzMediaServer.h"

namespace kz {

namespace {

constexpr uint32_t kSweepMs = 250;

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
  if (hReceiver != KZ_INVALID_SOCKET) PlatformShutdown(hReceiver);
}

void TKzMediaServerThread::DoExecute() {
  ListenServer = new TKzListenerThread(this, hReceiver, FProtocol, nullptr, Server->SenderConnectionProperties(),
                                       Server->ReceiverConnectionProperties());
  StartThread(ListenServer);
  while (SleepUnlessTerminated(kSweepMs)) SweepConnections();
  delete ListenServer;  // stops the connection threads
  ListenServer = nullptr;
  std::lock_guard<std::mutex> g(FConnLock);
  FConns.clear();
}

int32_t TKzMediaServerThread::ConnectionCount() {
  std::lock_guard<std::mutex> g(FConnLock);
  return static_cast<int32_t>(FConns.size());
}

void TKzMediaServerThread::SweepConnections() {
  if (!Server->Auth()) return;
  const uint64_t now = NowMs();
  std::vector<TKzSocket> late;
  std::lock_guard<std::mutex> g(FConnLock);
  for (auto& [serial, c] : FConns) {
    if (c->Authed.load() || now - c->Opened < KZ_AUTH_DEADLINE_MS || c->Socket == KZ_INVALID_SOCKET) continue;
    // Its thread closes the socket only after DeleteSocket, which needs this lock.
    PlatformShutdown(c->Socket);
    c->Socket = KZ_INVALID_SOCKET;
    Server->Refuse(c.get(), "no proof within 5 s", TGUID{});
  }
}

std::shared_ptr<TKzServerConn> TKzMediaServerThread::Conn(TKzConnSerial Serial, TKzSocket Socket) {
  std::lock_guard<std::mutex> g(FConnLock);
  std::shared_ptr<TKzServerConn>& c = FConns[Serial];
  if (!c) {
    c = std::make_shared<TKzServerConn>();
    c->Serial = Serial;
    c->Socket = Socket;
    c->Opened = NowMs();
  }
  return c;
}

void TKzMediaServerThread::DeleteSocket(TKzConnSerial Serial) {
  std::shared_ptr<TKzServerConn> c;
  {
    std::lock_guard<std::mutex> g(FConnLock);
    auto it = FConns.find(Serial);
    if (it == FConns.end()) return;
    c = std::move(it->second);
    FConns.erase(it);
  }
  Server->ConnectionGone(*c);
}

bool TKzMediaServerThread::DoRead(TMemoryStream& Stream, TKzConnSerial Serial, TKzSocket Socket, uint16_t& DataType,
                                  uint32_t& ClientError, TKzProtocol Protocol, TKzHeaderPack& HeaderPack) {
  const int64_t start = Stream.Position();
  const uint8_t* data = Stream.Memory() + start;
  const size_t size = static_cast<size_t>(Stream.Size() - start);
  if (Server->UseDumpMemory()) Server->Dump(data, size);
  if (Protocol == TKzProtocol::kzpUDP) {
    ReadDatagram(data, size, DataType, ClientError);
  } else {
    std::shared_ptr<TKzServerConn> c = Conn(Serial, Socket);
    ReadStream(*c, data, size, DataType, ClientError, HeaderPack);
  }
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
    std::lock_guard<std::mutex> g(FConnLock);
    if (C.Socket != KZ_INVALID_SOCKET) PlatformShutdown(C.Socket);
    C.Socket = KZ_INVALID_SOCKET;
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
    Server->ReadData(C, h, item.Bytes, item.HeaderSize, ClientError);
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
