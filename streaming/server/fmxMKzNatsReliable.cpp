// Kept kinds between relays through JetStream (see the header).
#include "streaming/server/fmxMKzNatsReliable.h"

#include <nats/nats.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "foundation/fmxMKzType.h"
#include "streaming/server/fmxMKzMediaServer.h"
#include "streaming/server/fmxMKzNatsLink.h"

namespace kz {

namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kAckWaitMs = 5000;         // a dead relay's messages come again after this
constexpr uint64_t kTouchEveryMs = 2000;     // pending ones are kept ours meanwhile
constexpr uint64_t kFetchEveryMs = 1000;     // redeliveries and what a wake-up missed
constexpr int kFetchBatch = 64;
constexpr size_t kMostPending = 256;         // per consumer; more waits in the stream
constexpr int64_t kKeepMs = 3600 * 1000;     // in the stream, and an unused consumer
constexpr int64_t kStartBeforeMs = 2000;     // a new consumer's start before now
constexpr const char* kPieceHeader = "Kz-Piece";
constexpr const char* kIdHeader = "Nats-Msg-Id";
constexpr size_t kMostUnconfirmed = 4096;   // kept packets' pieces not yet confirmed
constexpr uint64_t kConfirmWaitMs = 2000;   // unconfirmed this long: sent again
constexpr uint64_t kRefusedWaitMs = 250;    // a refused one (no stream leader yet) waits this long
constexpr uint64_t kGiveUpMs = 60000;       // within the server's duplicate window
constexpr size_t kMostSeen = 4096;          // per consumer
constexpr uint64_t kFollowEveryMs = 200;    // consumers follow the local channels
constexpr int kShortTriesBeforeOne = 30;  // tries every 500 ms

std::string Hex(const TGUID& G) { return KzGUIDHex(G); }

const char* MsgId(natsMsg* M) {
  const char* id = nullptr;
  return natsMsgHeader_Get(M, kIdHeader, &id) == NATS_OK ? id : nullptr;
}

std::string ConsumerName(const TGUID& User, uint8_t Code) { return Hex(User) + "_" + std::to_string(Code); }

}  // namespace

std::string KzNatsStreamName(const std::string& Cluster) { return "KZ_" + Cluster; }

TKzNatsReliable::TKzNatsReliable(TKzMediaServer* Server, std::string Cluster, std::string RelayId,
                                 std::function<void(const std::string&)> Log)
    : FServer(Server),
      FCluster(std::move(Cluster)),
      FRelayId(std::move(RelayId)),
      FStream(KzNatsStreamName(FCluster)),
      FLog(std::move(Log)) {}

TKzNatsReliable::~TKzNatsReliable() {
  Stop();
  std::lock_guard<std::mutex> g(FAckLock);
  for (natsMsg* m : FRefused) natsMsg_Destroy(m);
  FRefused.clear();
}

bool TKzNatsReliable::Start(natsConnection* Conn, std::string& Error) {
  jsOptions o;
  jsOptions_Init(&o);
  // No more pending in the library than are kept here: a publish never stalls.
  o.PublishAsync.MaxPending = static_cast<int64_t>(kMostUnconfirmed);
  o.PublishAsync.AckHandler = [](jsCtx* Js, natsMsg* Msg, jsPubAck* Ack, jsPubAckErr* Failure, void* Closure) {
    TKzNatsReliable::OnPublished(Js, Msg, Ack, Failure, Closure);
  };
  o.PublishAsync.AckHandlerClosure = this;
  if (natsStatus s = natsConnection_JetStream(&FJs, Conn, &o); s != NATS_OK) {
    Error = std::string("JetStream: ") + natsStatus_GetText(s);
    return false;
  }
  FConn = Conn;
  FStop = false;
  FWorker = std::thread([this] { Execute(); });
  return true;
}

void TKzNatsReliable::Stop() {
  if (!FJs) return;
  {
    std::lock_guard<std::mutex> g(FLock);
    FStop = true;
  }
  FWake.notify_all();
  if (FWorker.joinable()) FWorker.join();
  for (auto& [name, c] : FConsumers) Drop(c);
  FConsumers.clear();
  {
    std::lock_guard<std::mutex> g(FPubLock);
    for (natsMsg* m : FResend) natsMsg_Destroy(m);
    FResend.clear();
    FUnconfirmed.clear();
    jsCtx_Destroy(FJs);
    FJs = nullptr;
  }
}

void TKzNatsReliable::SetConnected(bool Up) {
  if (Up && !FUp) FReconnected = true;  // what went before may be lost: sent again
  FUp = Up;
  if (!Up) FStreamReady = false;  // a restarted server may not have it
  FWake.notify_all();
}

void TKzNatsReliable::Wake(const TGUID& User, uint8_t Code) {
  {
    std::lock_guard<std::mutex> g(FLock);
    FWoken.insert(ConsumerName(User, Code));
  }
  FWake.notify_all();
}

size_t TKzNatsReliable::ConsumerCount() {
  std::lock_guard<std::mutex> g(FLock);
  return FCount;
}

// ---- Publishing (connection threads)

void TKzNatsReliable::OnPublished(jsCtx*, natsMsg* Msg, void* Ack, void*, void* Closure) {
  auto* self = static_cast<TKzNatsReliable*>(Closure);
  std::lock_guard<std::mutex> g(self->FAckLock);
  if (Ack) {
    if (const char* id = MsgId(Msg)) self->FConfirmed.emplace_back(id);
    natsMsg_Destroy(Msg);
  } else {
    self->FRefused.push_back(Msg);  // ours: sent again by the worker
  }
}

void TKzNatsReliable::TakeResults() {
  std::vector<std::string> confirmed;
  std::vector<natsMsg*> refused;
  {
    std::lock_guard<std::mutex> g(FAckLock);
    confirmed.swap(FConfirmed);
    refused.swap(FRefused);
  }
  for (const std::string& id : confirmed) FUnconfirmed.erase(id);
  if (!refused.empty() && FResend.empty()) FResendAt = KzMGetTickCount();
  FResend.insert(FResend.end(), refused.begin(), refused.end());
}

void TKzNatsReliable::SendKept(natsMsg* Msg, uint64_t Now) {
  if (FResend.empty()) {
    const auto it = FUnconfirmed.find(MsgId(Msg) ? MsgId(Msg) : "");
    if (js_PublishMsgAsync(FJs, &Msg, nullptr) == NATS_OK) {  // the library took it
      if (it != FUnconfirmed.end()) it->second.Sent = Now;
      FHandedOver = true;
      return;
    }
    FResendAt = Now;
  }
  if (Msg) FResend.push_back(Msg);
}

void TKzNatsReliable::Publish(const TGUID& User, const TGUID& From, uint8_t Code, const std::vector<uint8_t>& Bytes) {
  if (!FConn) return;
  const std::string subject = KzNatsSubject(FCluster, Code, false, User);
  const std::string id = Hex(From) + "-" + FRelayId + "-" + std::to_string(++FCounter);
  const int64_t max = std::max<int64_t>(natsConnection_GetMaxPayload(FConn) - 1024, 1024);
  const size_t piece = static_cast<size_t>(max);
  const size_t total = std::max<size_t>(1, (Bytes.size() + piece - 1) / piece);
  std::vector<natsMsg*> msgs;
  for (size_t i = 0; i < total; ++i) {
    const size_t at = i * piece, n = std::min(Bytes.size() - at, piece);
    natsMsg* m = nullptr;
    if (natsMsg_Create(&m, subject.c_str(), nullptr, reinterpret_cast<const char*>(Bytes.data() + at),
                       static_cast<int>(n)) != NATS_OK)
      break;
    msgs.push_back(m);
    const std::string msgId = total == 1 ? id : id + "/" + std::to_string(i);
    if (natsMsgHeader_Set(m, kIdHeader, msgId.c_str()) != NATS_OK ||
        (total > 1 &&
         natsMsgHeader_Set(m, kPieceHeader, (id + " " + std::to_string(i) + " " + std::to_string(total)).c_str()) !=
             NATS_OK))
      break;
  }
  std::lock_guard<std::mutex> g(FPubLock);
  TakeResults();
  if (!FJs || msgs.size() != total || FUnconfirmed.size() + total > kMostUnconfirmed) {
    for (natsMsg* m : msgs) natsMsg_Destroy(m);
    FLog(FJs && msgs.size() == total ? "NATS: too many kept packets unconfirmed; one was dropped"
                                     : "NATS: a kept packet was not sent");
    return;
  }
  const uint64_t now = KzMGetTickCount();
  for (natsMsg* m : msgs) {
    FUnconfirmed[MsgId(m)] = TUnconfirmed{++FPubSeq, now, now};
    SendKept(m, now);
  }
}

void TKzNatsReliable::Republish() {
  const uint64_t now = KzMGetTickCount();
  std::lock_guard<std::mutex> g(FPubLock);
  TakeResults();
  bool stale = FReconnected.exchange(false);
  if (!stale && now - FCheckedAt >= kRefusedWaitMs) {
    FCheckedAt = now;
    for (const auto& [id, u] : FUnconfirmed)
      if (now - u.Sent >= kConfirmWaitMs) stale = true;
  }
  // Only once the library has had some: 3.4 crashes asking before its first.
  if (stale && FHandedOver && FUnconfirmed.size() > FResend.size()) {
    // Back from the library: what it still waits for, confirmed or not.
    natsMsgList pending{nullptr, 0};
    if (js_PublishAsyncGetPendingList(&pending, FJs) == NATS_OK) {
      for (int i = 0; i < pending.Count; ++i) FResend.push_back(std::exchange(pending.Msgs[i], nullptr));
      natsMsgList_Destroy(&pending);
    }
  }
  if (FResend.empty() || !FUp || (!stale && now - FResendAt < kRefusedWaitMs)) return;
  std::vector<std::pair<uint64_t, natsMsg*>> queue;
  size_t lost = 0;
  for (natsMsg* m : FResend) {
    auto it = FUnconfirmed.find(MsgId(m) ? MsgId(m) : "");
    if (it != FUnconfirmed.end() && now - it->second.First < kGiveUpMs) {
      queue.emplace_back(it->second.Seq, m);
      continue;
    }
    if (it != FUnconfirmed.end()) FUnconfirmed.erase(it), ++lost;
    natsMsg_Destroy(m);
  }
  FResend.clear();
  if (lost) FLog("NATS: " + std::to_string(lost) + " kept packet pieces could not be stored");
  std::sort(queue.begin(), queue.end(), [](const auto& A, const auto& B) { return A.first < B.first; });
  for (auto& [seq, m] : queue) SendKept(m, now);
}

// ---- The worker

bool TKzNatsReliable::EnsureStream() {
  const std::string prefix = "kz." + FCluster + ".";
  const std::string s4 = prefix + "4.u.*", s8 = prefix + "8.u.*", s16 = prefix + "16.u.*";
  const char* subjects[] = {s4.c_str(), s8.c_str(), s16.c_str()};
  jsStreamConfig cfg;
  jsStreamConfig_Init(&cfg);
  cfg.Name = FStream.c_str();
  cfg.Subjects = subjects;
  cfg.SubjectsLen = 3;
  cfg.Storage = js_FileStorage;
  cfg.MaxAge = kKeepMs * kNsPerMs;
  for (int replicas : {3, 1}) {
    cfg.Replicas = replicas;
    jsStreamInfo* si = nullptr;
    jsErrCode err = static_cast<jsErrCode>(0);
    const natsStatus s = js_AddStream(&si, FJs, &cfg, nullptr, &err);
    if (si) {
      FReplicas = static_cast<int>(si->Config->Replicas);
      jsStreamInfo_Destroy(si);
    }
    if (s == NATS_OK) return true;
    if (err == JSStreamNameExistErr) {  // there already (another relay made it)
      if (js_GetStreamInfo(&si, FJs, FStream.c_str(), nullptr, nullptr) == NATS_OK && si) {
        FReplicas = static_cast<int>(si->Config->Replicas);
        jsStreamInfo_Destroy(si);
      }
      return true;
    }
    // One server: one replica. A cluster still forming has too few peers
    // for a while; one of fewer than three nodes has them never.
    if (err == JSInsufficientResourcesErr && ++FShortTries < kShortTriesBeforeOne) return false;
    if (err != JSStreamReplicasNotSupportedErr && err != JSInsufficientResourcesErr) return false;
  }
  return false;
}

void TKzNatsReliable::Execute() {
  uint64_t lastTry = 0, lastFollow = 0;
  while (!FStop) {
    const uint64_t now = KzMGetTickCount();
    if (FUp && !FStreamReady && now - lastTry >= 500) {
      lastTry = now;
      if (EnsureStream()) {
        FStreamReady = true;
        FLog("NATS: kept kinds through JetStream stream " + FStream + " (" + std::to_string(FReplicas.load()) +
             " replicas)");
      }
    }
    Republish();
    if (now - lastFollow >= kFollowEveryMs) {  // a walk of the relay's registry
      lastFollow = now;
      FollowChannels();
    }
    std::set<std::string> woken;
    {
      std::lock_guard<std::mutex> g(FLock);
      woken.swap(FWoken);
    }
    for (auto& [name, c] : FConsumers) {
      if (woken.count(name)) c.Dirty = true;
      Settle(c, false);
      if (FUp && FStreamReady && c.Pending.size() < kMostPending &&
          (c.Dirty || KzMGetTickCount() - c.LastFetch >= kFetchEveryMs))
        Fetch(c);
    }
    std::unique_lock<std::mutex> lock(FLock);
    FWake.wait_for(lock, std::chrono::milliseconds(20), [this] { return FStop.load() || !FWoken.empty(); });
  }
}

void TKzNatsReliable::FollowChannels() {
  std::set<std::string> wanted;
  std::map<std::string, std::pair<TGUID, uint8_t>> which;
  for (uint8_t code : {4, 8, 16})
    for (const TGUID& u : FServer->LinkedChannels(code)) {
      const std::string name = ConsumerName(u, code);
      wanted.insert(name);
      which[name] = {u, code};
    }
  for (auto it = FConsumers.begin(); it != FConsumers.end();) {
    if (wanted.count(it->first)) {
      ++it;
      continue;
    }
    Drop(it->second);
    it = FConsumers.erase(it);
  }
  if (FUp && FStreamReady)
    for (const auto& [name, target] : which) {
      if (FConsumers.count(name)) continue;
      const std::string subject = KzNatsSubject(FCluster, target.second, false, target.first);
      natsSubscription* sub = OpenConsumer(name, subject);
      if (!sub) continue;
      TConsumer& c = FConsumers[name];
      c.Sub = sub;
      c.User = target.first;
      c.Code = target.second;
    }
  std::lock_guard<std::mutex> g(FLock);
  FCount = FConsumers.size();
}

natsSubscription* TKzNatsReliable::OpenConsumer(const std::string& Name, const std::string& Subject) {
  jsConsumerInfo* ci = nullptr;
  jsErrCode err = static_cast<jsErrCode>(0);
  if (js_GetConsumerInfo(&ci, FJs, FStream.c_str(), Name.c_str(), nullptr, &err) != NATS_OK) {
    // The user's first consumer: it starts a little before the channel
    // opened here, so nothing sent to the user meanwhile is missed.
    jsConsumerConfig cc;
    jsConsumerConfig_Init(&cc);
    cc.Durable = Name.c_str();
    cc.FilterSubject = Subject.c_str();
    cc.AckPolicy = js_AckExplicit;
    cc.AckWait = kAckWaitMs * kNsPerMs;
    cc.DeliverPolicy = js_DeliverByStartTime;
    cc.OptStartTime = (std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count()) -
                      kStartBeforeMs * kNsPerMs;
    cc.MaxAckPending = static_cast<int64_t>(kMostPending) * 4;
    cc.InactiveThreshold = kKeepMs * kNsPerMs;
    if (js_AddConsumer(&ci, FJs, FStream.c_str(), &cc, nullptr, &err) != NATS_OK) {
      FLog("NATS: no consumer for a user's kept kind (" + std::to_string(static_cast<int>(err)) + ")");
      return nullptr;
    }
  }
  jsConsumerInfo_Destroy(ci);
  jsSubOptions so;
  jsSubOptions_Init(&so);
  so.Stream = FStream.c_str();
  so.Consumer = Name.c_str();
  natsSubscription* sub = nullptr;
  if (js_PullSubscribe(&sub, FJs, Subject.c_str(), Name.c_str(), nullptr, &so, &err) != NATS_OK) {
    FLog("NATS: a user's kept kind could not be read (" + std::to_string(static_cast<int>(err)) + ")");
    return nullptr;
  }
  return sub;
}

void TKzNatsReliable::Fetch(TConsumer& C) {
  C.Dirty = false;
  C.LastFetch = KzMGetTickCount();
  jsFetchRequest req;
  jsFetchRequest_Init(&req);
  req.Batch = kFetchBatch;
  req.NoWait = true;
  req.Expires = 1000 * kNsPerMs;
  natsMsgList list{nullptr, 0};
  const natsStatus s = natsSubscription_FetchRequest(&list, C.Sub, &req);
  bool going = true;
  for (int i = 0; i < list.Count; ++i) {
    natsMsg* m = list.Msgs[i];
    list.Msgs[i] = nullptr;
    if (going) {
      going = Take(C, m);
    } else {
      natsMsg_NakWithDelay(m, 200 * kNsPerMs, nullptr);
      natsMsg_Destroy(m);
    }
  }
  natsMsgList_Destroy(&list);
  if (s == NATS_OK && list.Count == kFetchBatch) C.Dirty = true;  // there may be more
}

void TKzNatsReliable::Remember(TConsumer& C, natsMsg* Msg) {
  const char* id = MsgId(Msg);
  if (!id || !C.Seen.insert(id).second) return;
  C.SeenOrder.emplace_back(id);
  if (C.SeenOrder.size() > kMostSeen) {
    C.Seen.erase(C.SeenOrder.front());
    C.SeenOrder.pop_front();
  }
}

bool TKzNatsReliable::Take(TConsumer& C, natsMsg* Msg) {
  if (const char* id = MsgId(Msg); id && C.Seen.count(id)) {
    natsMsg_Ack(Msg, nullptr);
    natsMsg_Destroy(Msg);
    return true;
  }
  const char* piece = nullptr;
  if (natsMsgHeader_Get(Msg, kPieceHeader, &piece) != NATS_OK) piece = nullptr;
  const auto* data = reinterpret_cast<const uint8_t*>(natsMsg_GetData(Msg));
  const size_t size = static_cast<size_t>(natsMsg_GetDataLength(Msg));
  if (piece) {
    unsigned index = 0, total = 0;
    char id[96] = {0};
    if (std::sscanf(piece, "%95s %u %u", id, &index, &total) != 3 || total == 0 || index >= total ||
        index != C.Pieces.size()) {
      // Not the next piece of the packet being joined: that one is lost.
      for (natsMsg* m : C.Pieces) natsMsg_Ack(m, nullptr), natsMsg_Destroy(m);
      C.Pieces.clear();
      C.Joined.clear();
      if (index != 0) {
        natsMsg_Ack(Msg, nullptr);
        natsMsg_Destroy(Msg);
        return true;
      }
    }
    C.Pieces.push_back(Msg);
    C.Joined.insert(C.Joined.end(), data, data + size);
    if (C.Pieces.size() < total) return true;
  }
  TPending p;
  if (piece) {
    p.Msgs.swap(C.Pieces);
  } else {
    p.Msgs.push_back(Msg);
  }
  const std::vector<uint8_t> joined = std::move(C.Joined);
  C.Joined.clear();
  bool refused = false;
  std::shared_ptr<TKzClientRedirect> ch = piece ? FServer->DeliverKept(C.User, joined.data(), joined.size(), p.Mark, refused)
                                                : FServer->DeliverKept(C.User, data, size, p.Mark, refused);
  if (!ch && !refused) {
    // No channel here (any more): back to the stream for whoever holds it next.
    for (natsMsg* m : p.Msgs) natsMsg_NakWithDelay(m, 200 * kNsPerMs, nullptr), natsMsg_Destroy(m);
    return false;
  }
  if (!ch) {  // the user does not take it, as on one relay
    for (natsMsg* m : p.Msgs) natsMsg_Ack(m, nullptr), natsMsg_Destroy(m);
    return true;
  }
  ++FDelivered;
  for (natsMsg* m : p.Msgs) Remember(C, m);
  p.Channel = ch;
  p.Touched = KzMGetTickCount();
  C.Pending.push_back(std::move(p));
  return true;
}

void TKzNatsReliable::Settle(TConsumer& C, bool GiveAllBack) {
  const uint64_t now = KzMGetTickCount();
  for (auto it = C.Pending.begin(); it != C.Pending.end();) {
    std::shared_ptr<TKzClientRedirect> ch = it->Channel.lock();
    const bool gone = GiveAllBack || !ch || ch->IsFinished();
    if (!gone && ch->BytesDone() < it->Mark) {
      if (now - it->Touched >= kTouchEveryMs) {
        for (natsMsg* m : it->Msgs) natsMsg_InProgress(m, nullptr);
        it->Touched = now;
      }
      ++it;
      continue;
    }
    for (natsMsg* m : it->Msgs) {
      if (gone) {
        if (const char* id = MsgId(m)) C.Seen.erase(id);  // to be taken again
        natsMsg_Nak(m, nullptr);
      } else {
        natsMsg_Ack(m, nullptr);
        ++FAcked;
      }
      natsMsg_Destroy(m);
    }
    it = C.Pending.erase(it);
  }
}

void TKzNatsReliable::Drop(TConsumer& C) {
  Settle(C, false);
  Settle(C, true);
  for (natsMsg* m : C.Pieces) natsMsg_Nak(m, nullptr), natsMsg_Destroy(m);
  C.Pieces.clear();
  // Destroy only: the durable consumer stays for the relay that takes the user next.
  natsSubscription_Destroy(C.Sub);
  C.Sub = nullptr;
}

}  // namespace kz
