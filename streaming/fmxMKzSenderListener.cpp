#include "streaming/fmxMKzSenderListener.h"

#include <vector>

namespace kz {

namespace {
constexpr uint32_t kRoundMs = 1000;
constexpr int kBacklog = 100;
}  // namespace

TKzSenderListenerThread::TKzSenderListenerThread(const TKzPullSettings& Settings)
    : TKzBaseThread(true, "TKzSenderListen"), FSettings(Settings) {}

TKzSenderListenerThread::~TKzSenderListenerThread() {
  Terminate();
  WaitForEnd(INFINITE);
  ReapServers(true);
  PlatformCloseSocket(hReceiver);
}

bool TKzSenderListenerThread::Init(uint16_t Port, uint32_t Address) {
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

void TKzSenderListenerThread::ConnectingEvent(TKzConnSerial Conn) {
  KzPostConnectionEvent(FSettings.Parent, KZ_MSG_CONNECTING, 0, static_cast<LPARAM>(Conn));
}

int64_t TKzSenderListenerThread::SendStream(TStream& Stream, uint16_t DataType, const TKzInfo& Info) {
  const uint16_t code = DataType & DATA_TYPE_MASK;
  std::vector<uint8_t> bytes;
  int64_t size = 0;
  if (code == DATA_TYPE_FILE) {
    TFileStream f(Info.FileInfo.FileName, TFileMode::fmOpenRead);
    size = f.Valid() ? f.Size() : 0;
  } else {
    bytes.resize(static_cast<size_t>(std::max<int64_t>(Stream.Size(), 0)));
    Stream.SetPosition(0);
    Stream.Read(bytes.data(), static_cast<int64_t>(bytes.size()));
    size = static_cast<int64_t>(bytes.size());
  }
  int64_t result = 0;
  bool refused = false, dropped = false;
  {
    std::lock_guard<TCriticalSection> g(FSocketListCS);
    for (size_t i = 0; i < FSocketList.Count(); ++i) {
      auto* server = dynamic_cast<TKzCamSenderServer*>(FSocketList.Items(i)->Owner);
      if (!server) continue;
      bool served = false;
      const TKzPullOffer r = server->Offer(code, bytes.data(), bytes.size(), Info, served);
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

void TKzSenderListenerThread::ReapServers(bool All) {
  if (All) {
    // Dropping the items tells their connections to end.
    std::lock_guard<TCriticalSection> g(FSocketListCS);
    while (FSocketList.Count()) FSocketList.DeleteIndex(FSocketList.Count() - 1);
  }
  std::list<std::unique_ptr<TKzCamSenderServer>> ended;
  {
    std::lock_guard<TCriticalSection> g(FServersCS);
    for (auto it = FServers.begin(); it != FServers.end();) {
      if (All || (*it)->Finished()) {
        ended.push_back(std::move(*it));
        it = FServers.erase(it);
      } else {
        ++it;
      }
    }
  }
  ended.clear();  // each waits for its thread's end
}

void TKzSenderListenerThread::ListenServer() {
  ReapServers(false);
  TKzSocket s = PlatformAccept(hReceiver, kRoundMs);
  if (s == KZ_INVALID_SOCKET) return;
  if (Terminated() || ConnectionCount() >= FSettings.ConnectionProperties.MaxConnections()) {
    if (!Terminated()) KzPostMessageDebug(FSettings.Parent, 0, "connection refused: too many connections");
    PlatformCloseSocket(s);
    return;
  }
  PlatformSetNoDelay(s, true);
  const TKzConnSerial serial = KzMNewConnectionSerial();
  ConnectingEvent(serial);
  auto server = std::make_unique<TKzCamSenderServer>(this, FSettings, s, serial);
  {
    std::lock_guard<TCriticalSection> g(FSocketListCS);
    FSocketList.AddSocket(serial, s)->Owner = server.get();
  }
  TKzCamSenderServer* started = server.get();
  {
    std::lock_guard<TCriticalSection> g(FServersCS);
    FServers.push_back(std::move(server));
  }
  StartThread(started);
}

void TKzSenderListenerThread::DoExecute() {
  while (!Terminated()) ListenServer();
  ReapServers(true);
  PlatformCloseSocket(hReceiver);
}

}  // namespace kz
