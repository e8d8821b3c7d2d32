// The process-wide part of the client: the pool of open connections, the
// per-host memory, the name cache, the house-keeping timer and connecting.
#include <algorithm>
#include <cerrno>
#include <mutex>

#include "foundation/fmxMKzType.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformTimer.h"

namespace kz {

std::atomic<int32_t> glKzInetMaxConnect{8};
std::atomic<int32_t> glLoginAttemptCount{5};

namespace {
constexpr uint64_t kIdleMs = 10000;         // a free connection idle this long is closed
constexpr uint32_t kCleanupPeriodMs = 60000;
constexpr uint64_t kStaggerMs = 250;       // a parallel connect starts after this long without one
}  // namespace

// One open connection: in use by a record, or free for the next request to
// the same receiver through the same proxy. Fields other than Socket and
// Tunnelled are guarded by the ConnectList lock; Socket and Tunnelled belong
// to the record using the entry.
struct TKzPoolEntry {
  TKzSocket Socket = KZ_INVALID_SOCKET;
  bool IsUsed = false;
  std::atomic<int64_t> LastUpdate{0};
  std::string OriginHost, ReceiverHost, ProxyHost;
  uint16_t OriginPort = 0, ReceiverPort = 0, ProxyPort = 0;
  int32_t cOPEN_CONNECT = 0;
  bool Tunnelled = false;  // a CONNECT tunnel through the proxy is open
  ~TKzPoolEntry() { PlatformCloseSocket(Socket); }
};

// What the client remembers of one origin host and port.
struct THostInfo {
  std::string Host;
  uint16_t Port = 0;
  std::string OriginHost;
  uint16_t OriginPort = 0;
  std::string OriginFileName;
  bool isKeepAlive = false, IsProxy = false, isAuthorize = false, IsCloseSocket = false;
  TKzMHeaderInfo AuthInfo, ProxyInfo;
  std::string VersionProtocol;
  int64_t WaitConnect = 0, WaitSend = 0, WaitRecv = 0;
  int32_t MaxConnect = 0;
  std::shared_ptr<TKzCriticalSection> CriticalSection;
};
using PHostInfo = std::shared_ptr<THostInfo>;

struct TLookupInfo {
  std::string Host;
  uint32_t InAddr = 0;
  bool operator==(const TLookupInfo& O) const { return Host == O.Host && InAddr == O.InAddr; }
};

namespace {
// The lists live as long as the process; the timer is declared last so that
// it stops before the lists go.
struct TKzInetGlobals {
  TThreadList<PKzPoolEntry> ConnectList;
  TThreadList<PHostInfo> HostList;
  TThreadList<TLookupInfo> LookupNameList;
  std::once_flag TimerOnce;
  TKzThreadTimer Timer;
};

TKzInetGlobals& G() {
  static TKzInetGlobals globals;
  return globals;
}

bool SameProxy(const TKzPoolEntry& E, const TInet& I) { return E.ProxyHost == I.ProxyHost && E.ProxyPort == I.ProxyPort; }

bool SameHost(const TKzPoolEntry& E, const TInet& I) {
  return SameProxy(E, I) && ((E.OriginHost == I.OriginHost && E.OriginPort == I.OriginPort) ||
                             (E.ReceiverHost == I.ReceiverHost && E.ReceiverPort == I.ReceiverPort));
}

PHostInfo FindHost(std::list<PHostInfo>& List, const TInet& I) {
  for (auto& h : List)
    if (h->OriginHost == I.OriginHost && h->OriginPort == I.OriginPort) return h;
  return nullptr;
}

void StartTimer() {
  std::call_once(G().TimerOnce, [] { G().Timer.Start(kCleanupPeriodMs, [] { FreeTimeOutSocketList(); }); });
}
}  // namespace

void KzInetStartUp() { StartTimer(); }

void KzInetInheritAuth(PInet I) {
  if (!I) return;
  auto list = G().HostList.LockList();
  PHostInfo h = FindHost(*list, *I);
  if (!h) return;
  auto inherit = [](TKzMHeaderInfo& To, const TKzMHeaderInfo& From) {
    if (To.UserName != From.UserName || To.Password != From.Password) return;
    To = From;
    To.TryCount = 0;
  };
  inherit(I->AuthInfo, h->AuthInfo);
  inherit(I->ProxyInfo, h->ProxyInfo);
}

// ---- Names

uint32_t KzLookupName(const std::string& Host) {
  {
    auto list = G().LookupNameList.LockList();
    for (const TLookupInfo& l : *list)
      if (l.Host == Host) return l.InAddr;
  }
  const uint32_t a = LookupName(Host);  // outside the lock: the resolver may take long
  if (a != 0) G().LookupNameList.Add(TLookupInfo{Host, a});
  return a;
}

uint16_t GetDefaultPort(TKzConnectProtocol Protocol) {
  switch (Protocol) {
    case TKzConnectProtocol::kzcpHTTP:
      return 80;
    case TKzConnectProtocol::kzcpRTSP:
      return 554;
  }
  return 0;
}

// ---- Per-host memory

bool LoadHostProperty(PInet I) {
  if (!I) return false;
  PHostInfo h;
  {
    auto list = G().HostList.LockList();
    h = FindHost(*list, *I);
    if (h) {
      I->ReceiverHost = h->Host;
      I->ReceiverPort = h->Port;
      I->VersionProtocol = h->VersionProtocol;
      I->isKeepAlive = h->isKeepAlive;
      I->IsProxy = h->IsProxy;
      I->isAuthorize = h->isAuthorize;
      I->IsCloseSocket = h->IsCloseSocket;
      I->AuthInfo = h->AuthInfo;
      I->ProxyInfo = h->ProxyInfo;
      I->ConnectTimeOut = h->WaitConnect;
      I->WaitSend = h->WaitSend;
      I->WaitRecv = h->WaitRecv;
      I->CriticalSection = h->CriticalSection;
      return true;
    }
  }
  I->isKeepAlive = true;
  I->VersionProtocol = I->Protocol == TKzConnectProtocol::kzcpRTSP ? "RTSP/1.0" : "HTTP/1.1";
  I->IsProxy = false;
  I->isAuthorize = false;
  I->IsCloseSocket = false;
  return false;
}

bool SaveHostProperty(PInet I) {
  if (!I) return false;
  auto list = G().HostList.LockList();
  PHostInfo h = FindHost(*list, *I);
  if (!h) {
    h = std::make_shared<THostInfo>();
    h->OriginHost = I->OriginHost;
    h->OriginPort = I->OriginPort;
    h->MaxConnect = glKzInetMaxConnect.load();
    h->CriticalSection = std::make_shared<TKzCriticalSection>();
    list->push_back(h);
  }
  h->Host = I->ReceiverHost;
  h->Port = I->ReceiverPort;
  h->OriginFileName = I->OriginFileName;
  h->VersionProtocol = I->VersionProtocol;
  h->isKeepAlive = I->isKeepAlive;
  h->IsProxy = I->IsProxy;
  h->isAuthorize = I->isAuthorize;
  h->IsCloseSocket = I->IsCloseSocket;
  h->AuthInfo = I->AuthInfo;
  h->ProxyInfo = I->ProxyInfo;
  h->WaitConnect = I->ConnectTimeOut;
  h->WaitSend = I->WaitSend;
  h->WaitRecv = I->WaitRecv;
  return true;
}

// ---- Pool

int32_t GetHostConnectCount(PInet I) {
  if (!I) return 0;
  const int64_t now = static_cast<int64_t>(KzMGetTickCount());
  int32_t n = 0;
  auto list = G().ConnectList.LockList();
  for (const auto& e : *list)
    if (e->Socket != KZ_INVALID_SOCKET && SameHost(*e, *I) && (e->IsUsed || now - e->LastUpdate.load() <= int64_t(kIdleMs))) ++n;
  return n;
}

int32_t GetHostMaxConnectCount(PInet I) {
  if (!I) return 0;
  auto list = G().HostList.LockList();
  PHostInfo h = FindHost(*list, *I);
  return h ? h->MaxConnect : I->cOPEN_CONNECT;
}

void CheckMaxConnect(PInet I) {
  if (!I) return;
  while (GetHostConnectCount(I) >= GetHostMaxConnectCount(I)) {
    if (!KzInetPause(I, 1000)) return;
    FreeTimeOutSocketList();
  }
}

int32_t GetAllowedNumberConnections(PInet I) {
  if (!I) return 0;
  const int32_t limit = GetHostMaxConnectCount(I);
  int32_t used = 0;
  auto list = G().ConnectList.LockList();
  for (const auto& e : *list)
    if (e->IsUsed && SameHost(*e, *I)) ++used;
  return limit - used;
}

void DecreaseMaxConnect(PInet I) {
  if (!I) return;
  {
    auto list = G().HostList.LockList();
    PHostInfo h = FindHost(*list, *I);
    if (!h) return;
    I->cOPEN_CONNECT = std::max(1, I->cOPEN_CONNECT / 2);
    h->MaxConnect = I->cOPEN_CONNECT;
  }
  auto list = G().ConnectList.LockList();
  for (auto& e : *list)
    if (SameHost(*e, *I)) e->cOPEN_CONNECT = I->cOPEN_CONNECT;
}

namespace {
// Takes the free entries that Match out of the pool. Their sockets close when
// the returned entries go, outside the pool's lock.
template <typename TMatch>
std::vector<PKzPoolEntry> TakeFreeEntries(TMatch Match) {
  std::vector<PKzPoolEntry> gone;
  auto list = G().ConnectList.LockList();
  for (auto it = list->begin(); it != list->end();) {
    if (!(*it)->IsUsed && Match(**it)) {
      gone.push_back(*it);
      it = list->erase(it);
    } else {
      ++it;
    }
  }
  return gone;
}
}  // namespace

void FreeTimeOutSocketList() {
  const int64_t now = static_cast<int64_t>(KzMGetTickCount());
  TakeFreeEntries([now](const TKzPoolEntry& E) { return now - E.LastUpdate.load() > int64_t(kIdleMs); });
}

void CloseAllFreeHostConnect(PInet I) {
  if (!I) return;
  TakeFreeEntries([I](const TKzPoolEntry& E) { return SameHost(E, *I); });
}

size_t KzInetPoolCount() { return G().ConnectList.Count(); }

void KzInetShutdown() {
  G().Timer.Stop();
  TakeFreeEntries([](const TKzPoolEntry&) { return true; });
  G().HostList.Clear();
  G().LookupNameList.Clear();
}

// ---- Connecting

void KzInetCloseSocket(PInet I) {
  if (!I) return;
  if (I->FPoolEntry) {
    G().ConnectList.Remove(I->FPoolEntry);
    I->FPoolEntry.reset();  // the entry closes the socket
  }
  I->Socket = KZ_INVALID_SOCKET;
  I->FSocketReused = false;
}

namespace {
// Takes a free pooled connection to the same receiver through the same proxy.
bool TakeFreeEntry(PInet I, uint16_t Port) {
  std::vector<PKzPoolEntry> dead;
  auto list = G().ConnectList.LockList();
  for (auto it = list->begin(); it != list->end();) {
    TKzPoolEntry& e = **it;
    if (e.IsUsed || !SameProxy(e, *I) || e.ReceiverHost != I->ReceiverHost || e.ReceiverPort != Port) {
      ++it;
      continue;
    }
    if (!PlatformSocketIdleAlive(e.Socket)) {  // closed by the peer meanwhile
      dead.push_back(*it);
      it = list->erase(it);
      continue;
    }
    e.IsUsed = true;
    e.OriginHost = I->OriginHost;
    e.OriginPort = I->OriginPort;
    I->FPoolEntry = *it;
    I->Socket = e.Socket;
    I->FSocketReused = true;
    I->LastUpdate = static_cast<int64_t>(KzMGetTickCount());
    e.LastUpdate = I->LastUpdate;
    return true;
  }
  return false;
}

// Starts a non-blocking connect to Address:Port; the socket, or
// KZ_INVALID_SOCKET with ErrorCode set when the connect failed at once.
TKzSocket StartConnect(PInet I, uint32_t Address, uint16_t Port, int& ErrorCode) {
  TKzSocket s = PlatformSocketTCP();
  if (s == KZ_INVALID_SOCKET) {
    ErrorCode = PlatformSocketErrorCode();
    return s;
  }
  PlatformSetRecvTimeout(s, static_cast<uint32_t>(I->ConnectTimeOut));
  PlatformSetNonBlocking(s, true);
  PlatformSetNoDelay(s, true);
  if (PlatformConnect(s, Address, Port) != 0 && PlatformSocketError() != TKzSocketError::kzseWouldBlock) {
    ErrorCode = PlatformSocketErrorCode();
    PlatformCloseSocket(s);
  }
  return s;
}

// Connects to the receiver (or the proxy). A further socket is opened in
// parallel only while none has connected for kStaggerMs, up to ConnectCount;
// the first that connects wins and every other one is closed at once, so a
// connect leaves no idle connections behind.
bool OpenSockets(PInet I, uint16_t ReceiverPort) {
  const bool viaProxy = !I->ProxyHost.empty();
  const std::string host = viaProxy ? I->ProxyHost : I->ReceiverHost;
  const uint16_t port = viaProxy ? (I->ProxyPort ? I->ProxyPort : 80) : ReceiverPort;
  const std::string peer = host + ":" + std::to_string(port);
  const uint32_t addr = KzLookupName(host);
  I->SockAddr = addr;
  if (addr == 0) {
    KzInetSetError(I, TKzSourceErrorKind::kzseNameNotFound, "cannot resolve " + host + ": name not found");
    return false;
  }
  if (port == 0) {
    KzInetSetError(I, TKzSourceErrorKind::kzseOther, "cannot reach " + host + ": no port");
    return false;
  }
  const int32_t count = std::min(I->ConnectCount, GetAllowedNumberConnections(I));
  if (count <= 0) {
    KzInetSetError(I, TKzSourceErrorKind::kzseOther, "cannot reach " + peer + ": all allowed connections are in use");
    return false;
  }

  std::vector<TKzSocket> socks;
  std::vector<char> done, failed;
  int errorCode = 0;
  auto startOne = [&] {
    const TKzSocket s = StartConnect(I, addr, port, errorCode);
    socks.push_back(s);
    done.push_back(0);
    failed.push_back(s == KZ_INVALID_SOCKET);
  };
  const int64_t total = std::max<int64_t>(I->ConnectTimeOut, 1) * std::max<uint32_t>(I->ConnectTry, 1);
  const uint64_t deadline = KzMGetTickCount() + static_cast<uint64_t>(total);
  uint64_t nextStart = 0;
  int winner = -1;
  while (winner < 0 && !KzInetAborted(I)) {
    const uint64_t now = KzMGetTickCount();
    if (static_cast<int32_t>(socks.size()) < count && now >= nextStart) {
      startOne();
      nextStart = now + kStaggerMs;
    }
    const bool allFailed = std::all_of(failed.begin(), failed.end(), [](char f) { return f != 0; });
    // A refusal answers for the host: more sockets would be refused too.
    if (now >= deadline || (allFailed && (errorCode != 0 || static_cast<int32_t>(socks.size()) >= count))) break;
    uint64_t wait = std::min<uint64_t>(deadline - now, std::max(I->cKzINET_SLEEP_TIME, 10));
    if (static_cast<int32_t>(socks.size()) < count) wait = std::min<uint64_t>(wait, nextStart > now ? nextStart - now : 1);
    // The poll reports each socket once; its flags are kept in bytes here.
    std::unique_ptr<bool[]> d(new bool[socks.size()]), f(new bool[socks.size()]);
    for (size_t k = 0; k < socks.size(); ++k) {
      d[k] = done[k] != 0;
      f[k] = failed[k] != 0;
    }
    if (PlatformPollConnect(socks.data(), d.get(), f.get(), static_cast<int>(socks.size()), static_cast<uint32_t>(wait)) > 0) {
      for (size_t k = 0; k < socks.size(); ++k) {
        if (f[k] && !failed[k]) errorCode = PlatformSocketErrorCode();
        done[k] = d[k];
        failed[k] = f[k];
        if (d[k] && winner < 0) winner = static_cast<int>(k);
      }
    }
  }
  if (KzInetAborted(I)) winner = -1;
  for (size_t k = 0; k < socks.size(); ++k)
    if (static_cast<int>(k) != winner) PlatformCloseSocket(socks[k]);
  if (winner < 0) {
    if (KzInetAborted(I))
      KzInetClearError(I);
    else if (errorCode != 0 && std::all_of(failed.begin(), failed.end(), [](char f) { return f != 0; }))
      KzInetSetError(I, errorCode == ECONNREFUSED ? TKzSourceErrorKind::kzseRefused : TKzSourceErrorKind::kzseOther,
                     "cannot reach " + peer + ": " + KzConnectErrorText(errorCode));
    else
      KzInetSetError(I, TKzSourceErrorKind::kzseTimedOut,
                     "cannot reach " + peer + ": timed out after " + std::to_string(total) + " ms");
    return false;
  }
  TKzSocket sock = socks[static_cast<size_t>(winner)];
  PlatformSetNonBlocking(sock, false);
  auto e = std::make_shared<TKzPoolEntry>();
  e->Socket = sock;
  e->IsUsed = true;
  e->LastUpdate = static_cast<int64_t>(KzMGetTickCount());
  e->OriginHost = I->OriginHost;
  e->OriginPort = I->OriginPort;
  e->ReceiverHost = I->ReceiverHost;
  e->ReceiverPort = ReceiverPort;
  e->ProxyHost = I->ProxyHost;
  e->ProxyPort = I->ProxyPort;
  e->cOPEN_CONNECT = I->cOPEN_CONNECT;
  I->FPoolEntry = e;
  I->Socket = sock;
  I->FSocketReused = false;
  I->LastUpdate = e->LastUpdate;
  G().ConnectList.Add(std::move(e));
  return true;
}
}  // namespace

bool KzInetSetConnection(PInet I) {
  if (!I) return false;
  StartTimer();
  LoadHostProperty(I);
  if (!I->CriticalSection) I->CriticalSection = std::make_shared<TKzCriticalSection>();
  std::shared_ptr<TKzCriticalSection> section = I->CriticalSection;
  TKzSafeLock lock(*section);
  if (I->Buffer.Size() > 0) I->Buffer.Clear();
  if (I->Socket != KZ_INVALID_SOCKET) KzInetCloseSocket(I);
  const uint16_t port = I->ReceiverPort ? I->ReceiverPort : I->DefaultPort;
  if (TakeFreeEntry(I, port)) return true;
  return OpenSockets(I, port);
}

void KzInetReleaseSocket(PInet I) {
  if (!I || !I->FPoolEntry) return;
  {
    auto list = G().ConnectList.LockList();
    I->FPoolEntry->IsUsed = false;
    I->FPoolEntry->LastUpdate = I->LastUpdate;
  }
  I->FPoolEntry.reset();
  I->Socket = KZ_INVALID_SOCKET;
}

bool KzInetTunnelled(PInet I) { return I && I->FPoolEntry && I->FPoolEntry->Tunnelled; }
void KzInetSetTunnelled(PInet I) {
  if (I && I->FPoolEntry) I->FPoolEntry->Tunnelled = true;
}
void KzInetTouch(PInet I) {
  I->LastUpdate = static_cast<int64_t>(KzMGetTickCount());
  if (I->FPoolEntry) I->FPoolEntry->LastUpdate = I->LastUpdate;
}

}  // namespace kz
