#include "streaming/fmxMKzListenerThread.h"

#include <chrono>
#include <cstring>

#include "foundation/Fmxmkzguidfuncs.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "streaming/Fmxmkzsocketutil.h"

namespace kz {

namespace {

constexpr uint32_t kRoundMs = 1000;  // accept wait; the stop is noticed within it
constexpr int kBacklog = 100;

uint64_t NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

}  // namespace

// ---- TCPClientThread

TCPClientThread::TCPClientThread(TKzListenerThread* Listener, TKzReceiverCustomThread* AReceiver,
                                 TKzSocket AClientSocket, TKzSocket AServerSocket, const void* AParent,
                                 const TKzConnectionProperties& SenderProperties,
                                 const TKzConnectionProperties& ReceiverProperties)
    : TKzBaseThread(true, "TCPClientThread"),
      ServerSocket(AServerSocket),
      Receiver(AReceiver),
      Parent(AParent),
      SenderConnectionProperties(SenderProperties),
      ReceiverConnectionProperties(ReceiverProperties),
      FListener(Listener),
      FSerial(KzMNewConnectionSerial()),
      ClientSocket(AClientSocket) {
  SetBeginMarker(HeaderPack, TKzProtocol::kzpTCP);
}

TCPClientThread::~TCPClientThread() {
  Terminate();
  WaitForEnd(INFINITE);
  std::lock_guard<std::mutex> g(FSocketLock);
  PlatformCloseSocket(ClientSocket);
}

void TCPClientThread::StopThread() {
  Terminate();
  std::lock_guard<std::mutex> g(FSocketLock);
  if (ClientSocket != KZ_INVALID_SOCKET) PlatformShutdown(ClientSocket);
}

void TCPClientThread::PacketInc() {
  if (!Receiver->IsPacketProcessing) return;
  {
    std::lock_guard<TCriticalSection> g(Receiver->CriticalSectionPacket);
    ++Receiver->PacketCount;
  }
  TKzReceiverCustomThread* r = Receiver;
  Receiver->PostToMain([r] { r->DoPacketProcessing(); });
}

void TCPClientThread::PacketDec() {
  if (!Receiver->IsPacketProcessing) return;
  std::lock_guard<TCriticalSection> g(Receiver->CriticalSectionPacket);
  if (Receiver->PacketCount > 0) --Receiver->PacketCount;
}

void TCPClientThread::ConnectError() { KzErrorConnectedEvent(Parent, ADataType & DATA_TYPE_MASK); }

void TCPClientThread::DisconnectEvent() {
  KzPostConnectionEvent(Parent, KZ_MSG_DISCONNECTED, ADataType & DATA_TYPE_MASK, static_cast<LPARAM>(FSerial));
}

void TCPClientThread::DeleteClient() { DisconnectEvent(); }

void TCPClientThread::TCPRead() {
  int64_t pos = FBuffer.Position();
  while (FBuffer.Size() - pos >= static_cast<int64_t>(MARKER_NULL.size()) &&
         std::memcmp(FBuffer.Memory() + pos, MARKER_NULL.data(), MARKER_NULL.size()) == 0)
    pos += static_cast<int64_t>(MARKER_NULL.size());
  FBuffer.SetPosition(pos);
  ClientError = 0;
  if (pos >= FBuffer.Size()) return;
  while (!Terminated() && !Receiver->Terminated() &&
         !Receiver->DoRead(FBuffer, FSerial, ClientSocket, ADataType, ClientError, TKzProtocol::kzpTCP, HeaderPack)) {
  }
}

void TCPClientThread::SendBufferCommand(const char* Name) {
  TKzCmd cmd;
  cmd.Name = Name;
  cmd.AddParam("DATA_TYPE").SetInteger(ADataType);
  cmd.AddParam("GUIDTo").SetString(GUIDToStringA(HeaderPack.GUIDTo));
  Receiver->SendCommandToGUID(cmd, Receiver->GetGUIDMy(), HeaderPack.GUIDFrom, TGUID{});
}

void TCPClientThread::DoExecute() {
  const uint64_t started = NowMs();
  int64_t got = 0;
  bool limited = false;
  while (!Terminated() && !Receiver->Terminated()) {
    const TKzConnectionProperties& props =
        ADataType < 0x8000 ? SenderConnectionProperties : ReceiverConnectionProperties;
    const uint32_t timeout = GetTimeOut(props, ADataType);
    // A peer that never sent one valid packet is dropped after the idle time.
    if ((ADataType & DATA_TYPE_MASK) == 0 && NowMs() - started > timeout) {
      got = 0;
      break;
    }
    const int64_t size = (ClientError & KZ_CLIENT_ERROR_LIMIT_BUFFER) ? KZ_LIMITED_READ : KZ_READ_BUFFER;
    got = KzMReadFromSocket(ClientSocket, FBuffer, GetUseBlocking(props, ADataType), 0, timeout, false, size,
                            nullptr, this);
    if (got <= 0) {
      if (got < 0) ConnectError();
      break;
    }
    FBuffer.SetSize(got);
    FBuffer.SetPosition(0);
    PacketInc();
    TCPRead();
    const bool nowLimited = (ClientError & KZ_CLIENT_ERROR_LIMIT_BUFFER) != 0;
    if (nowLimited != limited) SendBufferCommand(nowLimited ? "KzS_LIMIT_BUFFER" : "KzS_NOT_LIMIT_BUFFER");
    limited = nowLimited;
    PacketDec();
    if (limited) SleepUnlessTerminated(200);
  }
  if (got >= 0) DeleteClient();
  Receiver->DeleteSocket(FSerial);
  {
    std::lock_guard<std::mutex> g(FSocketLock);
    if (ClientSocket != KZ_INVALID_SOCKET) PlatformShutdown(ClientSocket);
    PlatformCloseSocket(ClientSocket);
  }
  FListener->DoneTerminate(this);
}

// ---- TKzListenerThread

TKzListenerThread::TKzListenerThread(TKzReceiverCustomThread* Receiver, TKzSocket Listening, TKzProtocol AProtocol,
                                     const void* AParent, const TKzConnectionProperties& SenderProperties,
                                     const TKzConnectionProperties& ReceiverProperties)
    : TKzBaseThread(true, "TKzListenerThread"),
      FReceiver(Receiver),
      hReceiver(Listening),
      Protocol(AProtocol),
      Parent(AParent),
      SenderConnectionProperties(SenderProperties),
      ReceiverConnectionProperties(ReceiverProperties),
      FDatagramSerial(KzMNewConnectionSerial()) {}

TKzListenerThread::~TKzListenerThread() {
  Terminate();
  WaitForEnd(INFINITE);
  ReapClients(true);
}

TKzSocket TKzListenerThread::CreateListeningSocket(TKzProtocol AProtocol, uint32_t Address, uint16_t Port) {
  if (AProtocol == TKzProtocol::kzpUDP) return PlatformBindUDP(Address, Port);
  return PlatformListenTCP(Address, Port, kBacklog);
}

void TKzListenerThread::ConnectingEvent(TKzConnSerial Conn) {
  KzPostConnectionEvent(Parent, KZ_MSG_CONNECTING, 0, static_cast<LPARAM>(Conn));
}

void TKzListenerThread::DoConnectedCountChange() {
  if (!FReceiver->ConnectionCountChange) return;
  auto callback = FReceiver->ConnectionCountChange;
  const int32_t count = FConnectedCount.load();
  FReceiver->PostToMain([callback, count] { callback(count); });
}

void TKzListenerThread::DoneTerminate(TCPClientThread*) {
  FConnectedCount.fetch_sub(1);
  if (!Terminated()) DoConnectedCountChange();
}

void TKzListenerThread::ReapClients(bool All) {
  std::list<std::unique_ptr<TCPClientThread>> ended;
  {
    std::lock_guard<TCriticalSection> g(FCriticalSection);
    for (auto it = Clients.begin(); it != Clients.end();) {
      if (All) (*it)->StopThread();
      if (All || (*it)->Finished()) {
        ended.push_back(std::move(*it));
        it = Clients.erase(it);
      } else {
        ++it;
      }
    }
  }
  ended.clear();  // each waits for its thread's end
}

void TKzListenerThread::UDPRead(TKzConnSerial Conn) {
  const bool counting = FReceiver->IsPacketProcessing;
  if (counting) {
    std::lock_guard<TCriticalSection> g(FReceiver->CriticalSectionPacket);
    if (FReceiver->PacketCount > KZ_MAX_PACKETS_IN_PROCESSING) {
      FDropped.fetch_add(1);
      return;
    }
    ++FReceiver->PacketCount;
  }
  TKzHeaderPack pack;
  SetBeginMarker(pack, TKzProtocol::kzpUDP);
  uint16_t dataType = 0;
  uint32_t clientError = 0;
  while (!Terminated() && !FReceiver->Terminated() &&
         !FReceiver->DoRead(FBuffer, Conn, hReceiver, dataType, clientError, TKzProtocol::kzpUDP, pack)) {
  }
  if (counting) {
    std::lock_guard<TCriticalSection> g(FReceiver->CriticalSectionPacket);
    if (FReceiver->PacketCount > 0) --FReceiver->PacketCount;
  }
}

void TKzListenerThread::ListenServer() {
  ReapClients(false);
  if (Protocol == TKzProtocol::kzpUDP) {
    if (PlatformPollRead(hReceiver, kRoundMs) != 1) return;
    FBuffer.SetSize(KZ_READ_BUFFER);
    uint32_t address = 0;
    uint16_t port = 0;
    const int64_t n = PlatformRecvFromAddr(hReceiver, FBuffer.Memory(), KZ_READ_BUFFER, address, port);
    if (n < 0) {
      if (PlatformSocketError() != TKzSocketError::kzseWouldBlock) Terminate();  // the socket is gone
      return;
    }
    FBuffer.SetSize(n);
    FBuffer.SetPosition(0);
    UDPRead(FDatagramSerial);
    return;
  }
  TKzSocket s = PlatformAccept(hReceiver, kRoundMs);
  if (s == KZ_INVALID_SOCKET || Terminated()) {
    PlatformCloseSocket(s);
    return;
  }
  if (FConnectedCount.load() >= ReceiverConnectionProperties.MaxConnections()) {
    FRefused.fetch_add(1);
    KzPostMessageDebug(Parent, FConnectedCount.load(), "connection refused: too many connections");
    PlatformCloseSocket(s);
    return;
  }
  auto client = std::make_unique<TCPClientThread>(this, FReceiver, s, hReceiver, Parent, SenderConnectionProperties,
                                                  ReceiverConnectionProperties);
  ConnectingEvent(client->Serial());
  FConnectedCount.fetch_add(1);
  DoConnectedCountChange();
  TCPClientThread* started = client.get();
  {
    std::lock_guard<TCriticalSection> g(FCriticalSection);
    Clients.push_back(std::move(client));
  }
  StartThread(started);
}

void TKzListenerThread::DoExecute() {
  DoConnectedCountChange();
  while (!Terminated() && !FReceiver->Terminated()) ListenServer();
  ReapClients(true);
}

}  // namespace kz
