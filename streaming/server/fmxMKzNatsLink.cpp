// Relays joined through NATS (see the header).
#include "streaming/server/fmxMKzNatsLink.h"

#include <nats/nats.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <sstream>

#include "foundation/fmxMKzType.h"
#include "streaming/server/fmxMKzMediaServer.h"

namespace kz {

namespace {

constexpr uint64_t kPresenceEveryMs = 2000;
constexpr uint64_t kPresenceForgetMs = 10000;
constexpr uint64_t kPieceForgetMs = 5000;
constexpr size_t kMaxPartials = 64;
constexpr const char* kPieceHeader = "Kz-Piece";

std::string Prefix(const std::string& Cluster) { return "kz." + Cluster + "."; }

}  // namespace

std::string KzGUIDHex(const TGUID& G) {
  uint8_t b[16];
  GUIDToBytes(G, b);
  static const char* kHex = "0123456789abcdef";
  std::string out;
  for (uint8_t c : b) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

bool KzGUIDFromHex(const std::string& Hex, TGUID& Out) {
  if (Hex.size() != 32) return false;
  uint8_t key[16];
  for (size_t i = 0; i < 32; ++i) {
    const char c = static_cast<char>(Hex[i] | 0x20);
    const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) return false;
    key[i / 2] = static_cast<uint8_t>(i % 2 ? key[i / 2] | v : v << 4);
  }
  Out = GUIDFromBytes(key);
  return true;
}

std::string KzNatsSubject(const std::string& Cluster, uint8_t Code, bool ToGroup, const TGUID& Target) {
  return Prefix(Cluster) + std::to_string(Code) + (ToGroup ? ".g." : ".u.") + KzGUIDHex(Target);
}

bool KzSplitNatsServers(const std::string& Text, std::vector<std::string>& Out) {
  Out.clear();
  size_t at = 0;
  while (at <= Text.size()) {
    const size_t comma = std::min(Text.find(',', at), Text.size());
    if (comma == at) return false;
    Out.push_back(Text.substr(at, comma - at));
    at = comma + 1;
  }
  return !Out.empty();
}

bool KzValidClusterName(const std::string& Name) {
  return !Name.empty() && Name.size() <= 64 && std::all_of(Name.begin(), Name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
}

TKzNatsLink::TKzNatsLink(TKzMediaServer* Server, TKzNatsLinkOptions Options)
    : FServer(Server), FOptions(std::move(Options)) {
  std::random_device rd;
  const uint64_t id = (static_cast<uint64_t>(rd()) << 32) ^ rd();
  char b[20];
  std::snprintf(b, sizeof b, "%016llx", static_cast<unsigned long long>(id));
  FRelayId = b;
}

TKzNatsLink::~TKzNatsLink() { Stop(); }

void TKzNatsLink::Log(const std::string& Line) {
  if (OnLog) OnLog(Line);
}

bool TKzNatsLink::Start(std::string& Error) {
  if (FConn) return true;
  if (FOptions.Servers.empty() || !KzValidClusterName(FOptions.Cluster)) {
    Error = "no NATS server or a cluster name that is not one subject token";
    return false;
  }
  std::vector<const char*> urls;
  for (const std::string& s : FOptions.Servers) urls.push_back(s.c_str());
  natsStatus s = natsOptions_Create(&FOpts);
  if (s == NATS_OK) s = natsOptions_SetServers(FOpts, urls.data(), static_cast<int>(urls.size()));
  if (s == NATS_OK) s = natsOptions_SetNoEcho(FOpts, true);
  // One delivery thread for every subscription: a sender's packets to a user
  // and to the user's groups keep the order they were published in.
  if (s == NATS_OK) s = natsOptions_UseGlobalMessageDelivery(FOpts, true);
  // Live packets go out at once rather than with the flusher thread's next round.
  if (s == NATS_OK) s = natsOptions_SetSendAsap(FOpts, true);
  if (s == NATS_OK) s = natsOptions_SetMaxReconnect(FOpts, -1);
  if (s == NATS_OK) s = natsOptions_SetReconnectWait(FOpts, 250);
  if (s == NATS_OK) s = natsOptions_SetReconnectBufSize(FOpts, 8 << 20);
  if (s == NATS_OK) s = natsOptions_SetRetryOnFailedConnect(FOpts, true, &TKzNatsLink::OnConnected, this);
  if (s == NATS_OK) s = natsOptions_SetDisconnectedCB(FOpts, &TKzNatsLink::OnDisconnected, this);
  if (s == NATS_OK) s = natsOptions_SetReconnectedCB(FOpts, &TKzNatsLink::OnReconnected, this);
  if (s == NATS_OK) s = natsOptions_SetClosedCB(FOpts, &TKzNatsLink::OnClosed, this);
  if (s == NATS_OK)
    s = natsOptions_SetErrorHandler(
        FOpts, [](natsConnection* C, natsSubscription* S, natsStatus E, void* L) {
          TKzNatsLink::OnAsyncError(C, S, static_cast<int>(E), L);
        },
        this);
  if (s == NATS_OK && !FOptions.CredsFile.empty())
    s = natsOptions_SetUserCredentialsFromFiles(FOpts, FOptions.CredsFile.c_str(), nullptr);
  if (s != NATS_OK) {
    Error = std::string("NATS options: ") + natsStatus_GetText(s);
    natsOptions_Destroy(FOpts);
    FOpts = nullptr;
    return false;
  }
  FClosed = false;
  FKept = std::make_unique<TKzNatsReliable>(FServer, FOptions.Cluster, FRelayId,
                                            [this](const std::string& Line) { Log(Line); });
  FGroups = std::make_unique<TKzNatsGroups>(FOptions.Cluster);
  s = natsConnection_Connect(&FConn, FOpts);
  if (s == NATS_NOT_YET_CONNECTED) {
    Log("NATS unreachable; connecting in the background");
    FLostTold = true;
  } else if (s != NATS_OK) {
    Error = std::string("NATS: ") + natsStatus_GetText(s);
    FConn = nullptr;
    FKept.reset();
    FGroups.reset();
    natsOptions_Destroy(FOpts);
    FOpts = nullptr;
    return false;
  } else {
    FConnected = true;
    Log("NATS connected");
  }
  natsConnection_Subscribe(&FPresenceSub, FConn, (Prefix(FOptions.Cluster) + "presence").c_str(),
                           &TKzNatsLink::OnPresenceMessage, this);
  FKept->SetConnected(FConnected);
  FGroups->SetConnected(FConnected);
  FGroups->Start(FConn);
  if (!FKept->Start(FConn, Error)) Log(Error);
  FStop = false;
  FWorker = std::thread([this] { Execute(); });
  return true;
}

void TKzNatsLink::Stop() {
  if (!FConn) return;
  {
    std::lock_guard<std::mutex> g(FWaitLock);
    FStop = true;
  }
  FWake.notify_all();
  if (FWorker.joinable()) FWorker.join();
  FKept->Stop();
  FGroups->Stop();
  // Closing first stops the deliveries; the subscriptions are freed after.
  // The client tells of the close (after the disconnect) on a thread of its
  // own: nothing here goes before that has come.
  natsConnection_Close(FConn);
  {
    std::unique_lock<std::mutex> lock(FWaitLock);
    FWake.wait_for(lock, std::chrono::seconds(2), [this] { return FClosed; });
  }
  {
    std::lock_guard<std::mutex> g(FSubsLock);
    for (auto& [subject, sub] : FSubs) natsSubscription_Destroy(sub);
    FSubs.clear();
  }
  natsSubscription_Destroy(FPresenceSub);
  FPresenceSub = nullptr;
  natsConnection_Destroy(FConn);
  FConn = nullptr;
  natsOptions_Destroy(FOpts);
  FOpts = nullptr;
  FConnected = false;
  FKept.reset();
  FGroups.reset();
}

// ---- Callbacks (the client's threads)

void TKzNatsLink::OnConnected(natsConnection*, void* Closure) {
  auto* self = static_cast<TKzNatsLink*>(Closure);
  self->FConnected = true;
  self->FLostTold = false;
  if (self->FKept) self->FKept->SetConnected(true);
  if (self->FGroups) self->FGroups->SetConnected(true);
  self->Log("NATS connected");
}

void TKzNatsLink::OnDisconnected(natsConnection*, void* Closure) {
  auto* self = static_cast<TKzNatsLink*>(Closure);
  self->FConnected = false;
  if (self->FKept) self->FKept->SetConnected(false);
  if (self->FGroups) self->FGroups->SetConnected(false);
  if (!self->FStop && !self->FLostTold.exchange(true)) self->Log("NATS link lost; reconnecting in the background");
}

void TKzNatsLink::OnReconnected(natsConnection*, void* Closure) { OnConnected(nullptr, Closure); }

void TKzNatsLink::OnClosed(natsConnection*, void* Closure) {
  auto* self = static_cast<TKzNatsLink*>(Closure);
  // Told under the lock: once Stop sees the flag, the link may go at once.
  std::lock_guard<std::mutex> g(self->FWaitLock);
  self->FClosed = true;
  self->FWake.notify_all();
}

void TKzNatsLink::OnAsyncError(natsConnection*, natsSubscription*, int Status, void* Closure) {
  auto* self = static_cast<TKzNatsLink*>(Closure);
  const uint64_t now = KzMGetTickCount();
  const uint64_t told = self->FSlowTold.load();
  if (now - told < 5000 && told != 0) return;  // one line every 5 s at most
  self->FSlowTold = now;
  self->Log(Status == NATS_SLOW_CONSUMER ? "NATS: this relay reads too slowly; packets dropped"
                                         : std::string("NATS: ") + natsStatus_GetText(static_cast<natsStatus>(Status)));
}

void TKzNatsLink::OnMessage(natsConnection*, natsSubscription*, natsMsg* Msg, void* Closure) {
  auto* self = static_cast<TKzNatsLink*>(Closure);
  const char* piece = nullptr;
  if (natsMsgHeader_Get(Msg, kPieceHeader, &piece) != NATS_OK) piece = nullptr;
  self->Arrived(natsMsg_GetSubject(Msg), reinterpret_cast<const uint8_t*>(natsMsg_GetData(Msg)),
                static_cast<size_t>(natsMsg_GetDataLength(Msg)), piece);
  natsMsg_Destroy(Msg);
}

void TKzNatsLink::OnPresenceMessage(natsConnection*, natsSubscription*, natsMsg* Msg, void* Closure) {
  auto* self = static_cast<TKzNatsLink*>(Closure);
  // "<relay> <user hex>:<since ms>[:<group hex>,...] ..."
  std::istringstream in(std::string(natsMsg_GetData(Msg), static_cast<size_t>(natsMsg_GetDataLength(Msg))));
  natsMsg_Destroy(Msg);
  std::string relay, token;
  in >> relay;
  if (relay.empty() || relay == self->FRelayId) return;
  std::vector<std::pair<std::string, uint64_t>> users;
  TPresence p;
  p.Seen = KzMGetTickCount();
  while (in >> token) {
    const size_t colon = token.find(':');
    if (colon != 32) continue;
    users.emplace_back(token.substr(0, 32), std::strtoull(token.c_str() + 33, nullptr, 10));
    std::vector<std::string>& groups = p.Users[token.substr(0, 32)];
    for (size_t at = token.find(':', 33); at != std::string::npos && at + 33 <= token.size(); at += 33)
      groups.push_back(token.substr(at + 1, 32));
  }
  {
    std::lock_guard<std::mutex> g(self->FPresenceLock);
    self->FPresence[relay] = std::move(p);
  }
  self->OtherHolders(relay, users);
}

void TKzNatsLink::OtherHolders(const std::string& Relay, const std::vector<std::pair<std::string, uint64_t>>& Users) {
  std::lock_guard<std::mutex> g(FPresenceLock);
  for (const auto& [user, since] : Users) {
    auto it = FSince.find(user);
    // The newest connection wins; on a tie the greater relay id.
    if (it != FSince.end() && (it->second < since || (it->second == since && FRelayId < Relay)))
      FLetGo.push_back(user);
  }
}

// ---- Sending

void TKzNatsLink::ForwardToUser(const TGUID& User, const TGUID& From, uint8_t Code,
                                const std::vector<uint8_t>& Bytes) {
  if (KzKeptKind(Code) && FKept) {
    FKept->Publish(User, From, Code, Bytes);
    ++FPublished;
    return;
  }
  Publish(KzNatsSubject(FOptions.Cluster, Code, false, User), Bytes);
}

void TKzNatsLink::ForwardToGroup(const TGUID& Group, const TGUID& From, uint8_t Code,
                                 const std::vector<uint8_t>& Bytes) {
  if (!KzKeptKind(Code)) {
    Publish(KzNatsSubject(FOptions.Cluster, Code, true, Group), Bytes);
    return;
  }
  for (const TGUID& u : RemoteMembers(Group, From)) ForwardToUser(u, From, Code, Bytes);
}

std::vector<TGUID> TKzNatsLink::RemoteMembers(const TGUID& Group, const TGUID& From) {
  const std::string group = KzGUIDHex(Group), from = KzGUIDHex(From);
  std::set<std::string> members;
  {
    std::lock_guard<std::mutex> g(FPresenceLock);
    for (const auto& [relay, p] : FPresence)
      for (const auto& [user, groups] : p.Users)
        if (user != from && !FSince.count(user) && std::find(groups.begin(), groups.end(), group) != groups.end())
          members.insert(user);
  }
  std::vector<TGUID> out;
  for (const std::string& hex : members)
    if (TGUID u; KzGUIDFromHex(hex, u)) out.push_back(u);
  return out;
}

void TKzNatsLink::Publish(const std::string& Subject, const std::vector<uint8_t>& Bytes) {
  if (!FConn || !FConnected) return;  // live data is not kept for later
  const int64_t max = std::max<int64_t>(natsConnection_GetMaxPayload(FConn) - 1024, 1024);
  if (static_cast<int64_t>(Bytes.size()) <= max) {
    if (natsConnection_Publish(FConn, Subject.c_str(), Bytes.data(), static_cast<int>(Bytes.size())) == NATS_OK)
      ++FPublished;
    return;
  }
  uint64_t serial;
  {
    std::lock_guard<std::mutex> g(FPartialLock);
    serial = ++FPieceSerial;
  }
  const size_t total = (Bytes.size() + static_cast<size_t>(max) - 1) / static_cast<size_t>(max);
  for (size_t i = 0; i < total; ++i) {
    const size_t at = i * static_cast<size_t>(max);
    const size_t n = std::min(Bytes.size() - at, static_cast<size_t>(max));
    natsMsg* m = nullptr;
    if (natsMsg_Create(&m, Subject.c_str(), nullptr, reinterpret_cast<const char*>(Bytes.data() + at),
                       static_cast<int>(n)) != NATS_OK)
      return;
    const std::string piece = FRelayId + "-" + std::to_string(serial) + " " + std::to_string(i) + " " +
                              std::to_string(total);
    natsStatus s = natsMsgHeader_Set(m, kPieceHeader, piece.c_str());
    if (s == NATS_OK) s = natsConnection_PublishMsg(FConn, m);
    natsMsg_Destroy(m);
    if (s != NATS_OK) return;
  }
  ++FPublished;
}

// ---- Receiving

void TKzNatsLink::Arrived(const char* Subject, const uint8_t* Data, size_t Size, const char* Piece) {
  // kz.<cluster>.<code>.<u|g>.<32 hex>
  const std::string subject = Subject ? Subject : "";
  const size_t dot = subject.rfind('.');
  if (dot == std::string::npos || dot < 2 || subject.size() - dot - 1 != 32) return;
  const bool toGroup = subject[dot - 1] == 'g';
  TGUID target;
  if (!KzGUIDFromHex(subject.substr(dot + 1), target)) return;
  const std::string prefix = Prefix(FOptions.Cluster);
  const int code = subject.compare(0, prefix.size(), prefix) == 0 ? std::atoi(subject.c_str() + prefix.size()) : 0;
  if (KzKeptKind(static_cast<uint8_t>(code))) {
    // Kept kinds are read from the stream; this copy only says one is there.
    if (!toGroup && FKept && (!Piece || std::strstr(Piece, " 0 "))) FKept->Wake(target, static_cast<uint8_t>(code));
    return;
  }
  if (!Piece) {
    ++FReceived;
    FServer->DeliverFromLink(target, toGroup, Data, Size);
    return;
  }
  char id[64] = {0};
  unsigned index = 0, total = 0;
  if (std::sscanf(Piece, "%63s %u %u", id, &index, &total) != 3 || total == 0 || index >= total) return;
  const std::string name = subject + "/" + id;
  std::vector<uint8_t> whole;
  {
    std::lock_guard<std::mutex> g(FPartialLock);
    const uint64_t now = KzMGetTickCount();
    std::erase_if(FPartials, [now](const auto& P) { return now - P.second.Started > kPieceForgetMs; });
    if (index == 0 && FPartials.size() < kMaxPartials) FPartials[name] = {{}, 0, total, now};
    auto it = FPartials.find(name);
    if (it == FPartials.end()) return;
    TPartial& p = it->second;
    if (p.Next != index || p.Total != total) {  // a piece lost: the packet with it
      FPartials.erase(it);
      return;
    }
    p.Bytes.insert(p.Bytes.end(), Data, Data + Size);
    if (++p.Next < total) return;
    whole = std::move(p.Bytes);
    FPartials.erase(it);
  }
  ++FReceived;
  FServer->DeliverFromLink(target, toGroup, whole.data(), whole.size());
}

// ---- The worker: subscriptions that follow the local users, presence

void TKzNatsLink::Execute() {
  uint64_t lastPresence = 0;
  std::unique_lock<std::mutex> lock(FWaitLock);
  while (!FStop) {
    lock.unlock();
    RefreshSubscriptions();
    const uint64_t now = KzMGetTickCount();
    const bool due = now - lastPresence >= kPresenceEveryMs;
    PublishPresence(!due);
    if (due) {
      lastPresence = now;
      std::lock_guard<std::mutex> g(FPresenceLock);
      std::erase_if(FPresence, [now](const auto& P) { return now - P.second.Seen > kPresenceForgetMs; });
    }
    lock.lock();
    FWake.wait_for(lock, std::chrono::milliseconds(100), [this] { return FStop.load(); });
  }
}

void TKzNatsLink::RefreshSubscriptions() {
  std::set<std::string> wanted;
  const std::string prefix = Prefix(FOptions.Cluster) + "*.";
  for (const TGUID& u : FServer->LinkedUsers()) wanted.insert(prefix + "u." + KzGUIDHex(u));
  for (const TGUID& g : FServer->LinkedGroups()) wanted.insert(prefix + "g." + KzGUIDHex(g));
  std::lock_guard<std::mutex> g(FSubsLock);
  for (auto it = FSubs.begin(); it != FSubs.end();) {
    if (wanted.count(it->first)) {
      ++it;
      continue;
    }
    natsSubscription_Unsubscribe(it->second);
    natsSubscription_Destroy(it->second);
    it = FSubs.erase(it);
  }
  for (const std::string& subject : wanted) {
    if (FSubs.count(subject)) continue;
    natsSubscription* sub = nullptr;
    if (natsConnection_Subscribe(&sub, FConn, subject.c_str(), &TKzNatsLink::OnMessage, this) != NATS_OK) continue;
    natsSubscription_SetPendingLimits(sub, FOptions.PendingMessages, FOptions.PendingBytes);
    FSubs[subject] = sub;
  }
}

void TKzNatsLink::PublishPresence(bool OnlyWhenChanged) {
  std::vector<std::string> letGo;
  std::string text = FRelayId, users;
  {
    const uint64_t now = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::system_clock::now().time_since_epoch())
                                                   .count());
    std::map<std::string, uint64_t> since;
    // Read before the presence lock: the relay's lists take them the other way round.
    const auto membership = FServer->LinkedMembership();
    std::lock_guard<std::mutex> g(FPresenceLock);
    for (const auto& [u, groups] : membership) {
      const std::string hex = KzGUIDHex(u);
      auto it = FSince.find(hex);
      since[hex] = it == FSince.end() ? now : it->second;
      users += " " + hex + ":" + std::to_string(since[hex]);
      for (size_t i = 0; i < groups.size(); ++i) users += (i ? "," : ":") + KzGUIDHex(groups[i]);
    }
    FSince.swap(since);
    letGo.swap(FLetGo);
  }
  for (const std::string& hex : letGo) {
    TGUID user;
    if (KzGUIDFromHex(hex, user)) FServer->DropLinkedUser(user);
    Log("a user's newer connection is on another relay; its channels here closed");
  }
  if (!FConnected || (OnlyWhenChanged && users == FLastPresence)) return;
  FLastPresence = users;
  text += users;
  natsConnection_PublishString(FConn, (Prefix(FOptions.Cluster) + "presence").c_str(), text.c_str());
}

std::vector<std::pair<TGUID, std::vector<TGUID>>> TKzNatsLink::OtherRelaysUsers() {
  std::vector<std::pair<TGUID, std::vector<TGUID>>> out;
  std::lock_guard<std::mutex> g(FPresenceLock);
  for (const auto& [relay, p] : FPresence)
    for (const auto& [user, groups] : p.Users) {
      std::pair<TGUID, std::vector<TGUID>> entry;
      if (!KzGUIDFromHex(user, entry.first)) continue;
      for (const std::string& hex : groups)
        if (TGUID group; KzGUIDFromHex(hex, group)) entry.second.push_back(group);
      out.push_back(std::move(entry));
    }
  return out;
}

size_t TKzNatsLink::RemoteRelayCount() {
  std::lock_guard<std::mutex> g(FPresenceLock);
  return FPresence.size();
}

size_t TKzNatsLink::RemoteUserCount() {
  std::lock_guard<std::mutex> g(FPresenceLock);
  size_t n = 0;
  for (const auto& [relay, p] : FPresence) n += p.Users.size();
  return n;
}

size_t TKzNatsLink::SubscriptionCount() {
  std::lock_guard<std::mutex> g(FSubsLock);
  return FSubs.size();
}

}  // namespace kz
