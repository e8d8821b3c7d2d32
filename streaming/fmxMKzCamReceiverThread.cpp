#include "streaming/fmxMKzCamReceiverThread.h"

#include "foundation/Fmxmkzmediatypefuncs.h"
#include "foundation/Fmxmkzstreamfuncs.h"
#include "streaming/fmxMKzRecvConnect.h"

namespace kz {

namespace {

constexpr uint8_t kCodes[5] = {DATA_TYPE_VIDEO, DATA_TYPE_AUDIO, DATA_TYPE_USERDATA, DATA_TYPE_FILE, DATA_TYPE_CMD};
constexpr uint32_t kFileWaitMs = 20;

size_t KindOf(uint8_t Code) { return static_cast<size_t>(ConvertToMediaType(Code)); }

TKzHeaderPack PackOf(const TKzPacketHeader& H, TKzProtocol Protocol) {
  TKzHeaderPack p;
  SetBeginMarker(p, Protocol);
  p.GUIDFrom = H.GUIDFrom;
  p.GUIDTo = H.GUIDTo;
  p.GUIDGroup = H.GUIDGroup;
  p.LenPack = H.LenPack;
  return p;
}

}  // namespace

const char* KzPullRequestText(uint8_t Code) {
  switch (Code) {
    case DATA_TYPE_VIDEO: return "VDGET";
    case DATA_TYPE_AUDIO: return "ADGET";
    case DATA_TYPE_USERDATA: return "UDGET";
    case DATA_TYPE_FILE: return "FDGET";
    case DATA_TYPE_CMD: return "CDGET";
    default: return "";
  }
}

TKzReceiverThread::TKzReceiverThread(IKzReceiverTarget& Target, const TKzReceiverSettings& Settings)
    : TKzReceiverCustomThread(true, "TKzReceiverThread"),
      FTarget(Target),
      FSettings(Settings),
      FMediaTypes(Settings.ReceiveMediaTypes.Bits()),
      FSenders(Settings.Senders ? Settings.Senders : std::make_shared<TKzSenderFilter>()) {
  FProtocol = Settings.Protocol;
  wPort = Settings.Port;
  Parent = Target.NotifyTarget();
}

TKzReceiverThread::~TKzReceiverThread() {
  StopThread();
  Terminate();
  WaitForEnd(INFINITE);
  // Channels and the listener end before the socket list goes.
  for (uint8_t code : kCodes) DestroyRecvConnect(code);
  delete ListenServer;
  ListenServer = nullptr;
}

void TKzReceiverThread::StopThread() {
  Terminate();
  std::lock_guard<std::mutex> g(FChannelsLock);
  for (auto& list : RecvList)
    for (auto& c : list) c->StopThread();
}

void TKzReceiverThread::SetSenders(std::shared_ptr<const TKzSenderFilter> Senders) {
  std::lock_guard<std::mutex> g(FSendersLock);
  FSenders = Senders ? std::move(Senders) : std::make_shared<TKzSenderFilter>();
}

bool TKzReceiverThread::Accepts(const TKzPacketHeader& Header) {
  const uint8_t code = Header.DataType();
  if (!ReceiveMediaTypes().Contains(ConvertToMediaType(code))) return false;
  if (!(Header.DataTypeWord & DATA_FLAG_GUIDFROM)) return true;
  std::shared_ptr<const TKzSenderFilter> f;
  {
    std::lock_guard<std::mutex> g(FSendersLock);
    f = FSenders;
  }
  return f->Accepts(code, Header.GUIDFrom);
}

void TKzReceiverThread::Deliver(int32_t Key, const TKzPacket& Packet, TKzConnSerial Conn, TKzSessionKey SessionKey) {
  FTarget.DataRead(SessionKey, Packet, Conn);
  if (!Accepts(Packet.Header)) return;
  const TKzHeaderPack pack = PackOf(Packet.Header, FProtocol);
  // The payload goes on from the packet's own buffer: a large frame copied
  // into a fresh block here would cost its pages' faults every time.
  std::vector<uint8_t> record;
  if (Packet.Header.DataType() == DATA_TYPE_FILE) {
    record = KzFileChunkHead(Packet.Header.Info.FileInfo, static_cast<int64_t>(Packet.Payload.size()));
    while (!Terminated() && FTarget.FileBacklogged(Key, pack, Packet.Header.Info)) SleepUnlessTerminated(kFileWaitMs);
  }
  FTarget.HandOn(Key, pack, record, Packet.Payload, Packet.Header.Info);
}

void TKzReceiverThread::ReadDatagram(const uint8_t* Data, size_t Size, TKzConnSerial Conn) {
  if (!KzReadDatagram(Data, Size, FDatagram, FInflater)) return;
  // A datagram is a packet of its own: its data type is its key.
  Deliver(FDatagram.Header.DataType(), FDatagram, Conn);
}

bool TKzReceiverThread::DoRead(TMemoryStream& Stream, TKzConnSerial Conn, TKzSocket Socket, uint16_t& DataType,
                               uint32_t&, TKzProtocol Protocol, TKzHeaderPack&) {
  const uint8_t* data = Stream.Memory() + Stream.Position();
  const size_t size = static_cast<size_t>(Stream.Size() - Stream.Position());
  Stream.Seek(0, TSeekOrigin::soEnd);
  if (Protocol == TKzProtocol::kzpUDP) {
    ReadDatagram(data, size, Conn);
    return true;
  }
  // Packets are cut under the list lock and delivered outside it. The slots
  // stay with the connection's thread: reading into them again hands their
  // payload buffers back to the reader, so a steady stream allocates nothing.
  thread_local std::vector<TKzPacket> ready;
  size_t count = 0;
  {
    TKzSocketList& list = LockSocketList();
    TKzSocketItem* item = list.GetSocket(Conn);
    if (!item) item = list.AddSocket(Conn, Socket);
    item->Reader().Feed(data, size);
    for (;; ++count) {
      if (count == ready.size()) ready.emplace_back();
      if (!item->Reader().Next(ready[count])) break;
    }
    UnlockSocketList();
  }
  for (size_t i = 0; i < count && !Terminated(); ++i) {
    const TKzPacket& p = ready[i];
    // The connection's time-outs follow what it carries.
    DataType = static_cast<uint16_t>((DataType & ~DATA_TYPE_MASK) | p.Header.DataType());
    Deliver(static_cast<int32_t>(p.Header.DataType() + 256 * Conn), p, Conn);
  }
  return true;
}

void TKzReceiverThread::DeleteSocket(TKzConnSerial Conn) {
  TKzReceiverCustomThread::DeleteSocket(Conn);
  if (Terminated()) return;
  for (uint8_t code : kCodes) FTarget.DropKeyWhenDrained(static_cast<int32_t>(code + 256 * Conn));
}

bool TKzReceiverThread::StartListening() {
  if (FSettings.Protocol != TKzProtocol::kzpTCP && FSettings.Protocol != TKzProtocol::kzpHTTP &&
      FSettings.Protocol != TKzProtocol::kzpUDP)
    return false;
  hReceiver = TKzListenerThread::CreateListeningSocket(FSettings.Protocol, FSettings.Address, FSettings.Port);
  if (hReceiver == KZ_INVALID_SOCKET) {
    KzPostMessageDebug(Parent, FSettings.Port, "receiver: cannot listen on port " + std::to_string(FSettings.Port));
    return false;
  }
  FListeningPort.store(PlatformSocketLocalPort(hReceiver));
  KzPostConnectionEvent(Parent, KZ_MSG_CONNECTING, 0, 0);
  {
    TKzSocketList& list = LockSocketList();
    while (list.Count()) list.DeleteIndex(list.Count() - 1);
    UnlockSocketList();
  }
  KzPostConnectionEvent(Parent, KZ_MSG_CONNECTED, 0, 0);
  ListenServer = new TKzListenerThread(this, hReceiver, FSettings.Protocol, Parent, FSettings.ConnectionProperties,
                                       FSettings.ConnectionProperties);
  StartThread(ListenServer);
  return true;
}

void TKzReceiverThread::DoExecute() {
  if (FSettings.TCPConnectionType == TKzTCPConnectionType::kztcpSenderToReceiver) {
    if (!StartListening()) return;
  } else {
    for (uint8_t code : kCodes) InitRecvConnect(code);
  }
  while (SleepUnlessTerminated(1000)) FTarget.SweepEndedKeys();
  if (ListenServer) ListenServer->Terminate();
}

void TKzReceiverThread::InitRecvConnect(uint8_t Code) {
  if (!ReceiveMediaTypes().Contains(ConvertToMediaType(Code)) || Terminated()) return;
  std::shared_ptr<const TKzSenderFilter> f;
  {
    std::lock_guard<std::mutex> g(FSendersLock);
    f = FSenders;
  }
  std::lock_guard<std::mutex> g(FChannelsLock);
  auto& list = RecvList[KindOf(Code)];
  if (!list.empty()) return;
  for (const TKzSenderFilter::TEntry& e : f->Items) {
    auto c = std::make_unique<TRecvConnect>(this, Code, e.GUIDFrom, e.Host, e.Port);
    StartThread(c.get());
    list.push_back(std::move(c));
  }
}

void TKzReceiverThread::DestroyRecvConnect(uint8_t Code) {
  std::vector<std::unique_ptr<TRecvConnect>> gone;
  {
    std::lock_guard<std::mutex> g(FChannelsLock);
    gone.swap(RecvList[KindOf(Code)]);
  }
  for (auto& c : gone) c->StopThread();
  gone.clear();  // each waits for its thread
}

void TKzReceiverThread::CloseChannels(uint8_t Code) { DestroyRecvConnect(Code); }

void TKzReceiverThread::SetReceiveMediaTypes(TKzMediaTypes Types) {
  FMediaTypes.store(Types.Bits());
  if (FSettings.TCPConnectionType != TKzTCPConnectionType::kztcpReceiverToSender || IsFinished()) return;
  for (uint8_t code : kCodes) {
    if (Types.Contains(ConvertToMediaType(code)))
      InitRecvConnect(code);
    else
      DestroyRecvConnect(code);
  }
}

int32_t TKzReceiverThread::OpenChannels(uint8_t Code) {
  std::lock_guard<std::mutex> g(FChannelsLock);
  int32_t n = 0;
  for (auto& c : RecvList[KindOf(Code)]) n += c->Status.load() != 3;
  return n;
}

void TKzReceiverThread::ClearSenderBuffers() {
  std::lock_guard<std::mutex> g(FChannelsLock);
  for (auto& list : RecvList)
    for (auto& c : list) c->IsClearData = true;
}

}  // namespace kz
