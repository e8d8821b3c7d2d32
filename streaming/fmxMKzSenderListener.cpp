#include "streaming/fmxMKzSenderListener.h"

#include <vector>

namespace kz {

namespace {
constexpr uint32_t kRoundMs = 250;  // the longest wait: termination and time-outs are looked at this often
constexpr int kBacklog = 100;
constexpr uint64_t kListenToken = UINT64_MAX - 1;
}  // namespace

TKzSenderListenerThread::TKzSenderListenerThread(const TKzPullSettings& Settings)
    : TKzBaseThread(true, "TKzSenderListen"), FSettings(Settings) {}

TKzSenderListenerThread::~TKzSenderListenerThread() {
  Terminate();
  FPoll.Wake();
  WaitForEnd(INFINITE);
  Reap(true);
  PlatformCloseSocket(hReceiver);
}

bool TKzSenderListenerThread::Init(uint16_t Port, uint32_t Address) {
  if (!FPoll.Valid()) return false;
  hReceiver = PlatformListenTCP(Address, Port, kBacklog);
  if (hReceiver == KZ_INVALID_SOCKET) return false;
  FPort = PlatformSocketLocalPort(hReceiver);
  return true;
}

TKzSocketList& TKzSenderListenerThread::LockSocketList() {
  FSocketListCS.Enter();
  return FSocketList;
}

bool TKzSenderListenerThread::TryLockSocketList(TKzSocketList*& List) {
  if (!FSocketListCS.TryEnter()) return false;
  List = &FSocketList;
  return true;
}

void TKzSenderListenerThread::UnlockSocketList() { FSocketListCS.Leave(); }

int32_t TKzSenderListenerThread::ConnectionCount() {
  std::lock_guard<TCriticalSection> g(FSocketListCS);
  return static_cast<int32_t>(FSocketList.Count());
}

std::vector<TKzPullStats> TKzSenderListenerThread::Stats() {
  std::vector<TKzPullStats> out;
  std::lock_guard<TCriticalSection> g(FSocketListCS);
  for (size_t i = 0; i < FSocketList.Count(); ++i)
    if (auto* server = dynamic_cast<TKzCamSenderServer*>(FSocketList.Items(i)->Owner)) out.push_back(server->Stats());
  return out;
}

void TKzSenderListenerThread::ConnectingEvent(TKzConnSerial Conn) {
  KzPostConnectionEvent(FSettings.Parent, KZ_MSG_CONNECTING, 0, static_cast<LPARAM>(Conn));
}

bool TKzSenderListenerThread::Wants(uint16_t DataType) {
  std::lock_guard<TCriticalSection> g(FSocketListCS);
  for (size_t i = 0; i < FSocketList.Count(); ++i) {
    auto* server = dynamic_cast<TKzCamSenderServer*>(FSocketList.Items(i)->Owner);
    if (server && server->DataType() == DataType) return true;
  }
  return false;
}

int64_t TKzSenderListenerThread::SendStream(TStream& Stream, uint16_t DataType, const TKzInfo& Info) {
  const uint16_t code = DataType & DATA_TYPE_MASK;
  if (!Wants(code)) return 0;
  TKzPulledPacket packet;
  int64_t size = 0;
  if (code == DATA_TYPE_FILE) {
    TFileStream f(Info.FileInfo.FileName, TFileMode::fmOpenRead);
    size = f.Valid() ? f.Size() : 0;
  } else {
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(Stream.Size(), 0)));
    Stream.SetPosition(0);
    Stream.Read(bytes.data(), static_cast<int64_t>(bytes.size()));
    size = static_cast<int64_t>(bytes.size());
    std::lock_guard<std::mutex> g(FWriterLock);
    packet = KzBuildPulledPacket(KzPullPacketSpec(FSettings, code, Info), bytes.data(), bytes.size(), FWriter);
  }
  int64_t result = 0;
  bool refused = false, dropped = false;
  {
    std::lock_guard<TCriticalSection> g(FSocketListCS);
    for (size_t i = 0; i < FSocketList.Count(); ++i) {
      auto* server = dynamic_cast<TKzCamSenderServer*>(FSocketList.Items(i)->Owner);
      if (!server) continue;
      bool served = false;
      const TKzPullOffer r = server->Offer(code, packet, Info, served);
      if (!served) continue;
      if (r == TKzPullOffer::kzpoRefused) {
        refused = refused || code == DATA_TYPE_CMD || code == DATA_TYPE_USERDATA;
        continue;
      }
      dropped = dropped || (r == TKzPullOffer::kzpoQueuedDroppingOld && code == DATA_TYPE_AUDIO);
      result = size;
    }
  }
  if (dropped) KzPostMessageDebug(FSettings.Parent, code, "pull queue full: oldest audio dropped");
  return refused ? -1 : result;
}

void TKzSenderListenerThread::Reap(bool All) {
  for (auto it = FServers.begin(); it != FServers.end();) {
    if (!All && !it->second->Ended()) {
      ++it;
      continue;
    }
    {
      // No producer reaches the connection once its item is gone.
      std::lock_guard<TCriticalSection> g(FSocketListCS);
      FSocketList.DeleteSocket(it->first);
    }
    it = FServers.erase(it);
  }
}

void TKzSenderListenerThread::AcceptAll() {
  for (;;) {
    TKzSocket s = PlatformAccept(hReceiver, 0);
    if (s == KZ_INVALID_SOCKET) return;
    if (Terminated() || ConnectionCount() >= FSettings.ConnectionProperties.MaxConnections()) {
      if (!Terminated()) KzPostMessageDebug(FSettings.Parent, 0, "connection refused: too many connections");
      PlatformCloseSocket(s);
      continue;
    }
    PlatformSetNoDelay(s, true);
    const TKzConnSerial serial = KzMNewConnectionSerial();
    ConnectingEvent(serial);
    auto server = std::make_unique<TKzCamSenderServer>(FSettings, s, serial, &FPoll);
    if (!FPoll.Add(s, serial)) continue;  // the server closes the socket
    {
      std::lock_guard<TCriticalSection> g(FSocketListCS);
      FSocketList.AddSocket(serial, s)->Owner = server.get();
    }
    FServers.emplace(serial, std::move(server));
  }
}

void TKzSenderListenerThread::ListenServer() {
  FPoll.Wait(kRoundMs, FEvents);
  const uint64_t now = TKzCamSenderServer::NowMs();
  for (const TKzPollSet::TEvent& e : FEvents) {
    if (e.Token == kListenToken) {
      AcceptAll();
      continue;
    }
    auto it = FServers.find(e.Token);
    if (it == FServers.end()) continue;
    if (e.Readable) it->second->OnReadable(now);
    if (e.Writable) it->second->OnWritable(now);
  }
  // Time-outs and released items: a few times a second, and at once after a wake.
  if (now - FLastSweepMs >= kRoundMs || FEvents.empty() ||
      std::any_of(FEvents.begin(), FEvents.end(), [](auto& e) { return e.Token == TKzPollSet::WakeToken; })) {
    FLastSweepMs = now;
    for (auto& [serial, server] : FServers) server->CheckAlive(now);
  }
  Reap(false);
}

void TKzSenderListenerThread::DoExecute() {
  FPoll.Add(hReceiver, kListenToken);
  while (!Terminated()) ListenServer();
  Reap(true);
  FPoll.Remove(hReceiver);
  PlatformCloseSocket(hReceiver);
}

}  // namespace kz
