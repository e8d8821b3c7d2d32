// The groups the relays of a cluster share (see the header).
#include "streaming/server/fmxMKzNatsGroups.h"

#include <nats/nats.h>

#include <cstdlib>

#include "streaming/server/fmxMKzNatsLink.h"

namespace kz {

namespace {

constexpr int64_t kWaitMs = 1000;  // the most a call waits for the server
constexpr const char* kCountKey = "count";
constexpr int kMostRetries = 8;

void AddField(std::string& Out, const std::string& Field) { Out += std::to_string(Field.size()) + ":" + Field; }

bool TakeField(const std::string& Text, size_t& At, std::string& Field) {
  const size_t colon = Text.find(':', At);
  if (colon == std::string::npos || colon == At || colon - At > 9) return false;
  const size_t n = std::strtoul(Text.c_str() + At, nullptr, 10);
  if (colon + 1 + n > Text.size()) return false;
  Field = Text.substr(colon + 1, n);
  At = colon + 1 + n;
  return true;
}

}  // namespace

std::string KzGroupRecordText(const TKzGroupRecord& Record) {
  std::string out;
  AddField(out, KzGUIDHex(Record.Owner));
  AddField(out, Record.Password);
  for (const std::string& v : Record.Values) AddField(out, v);
  return out;
}

bool KzGroupRecordFrom(const std::string& Text, TKzGroupRecord& Record) {
  size_t at = 0;
  std::string owner;
  if (!TakeField(Text, at, owner) || !KzGUIDFromHex(owner, Record.Owner) || !TakeField(Text, at, Record.Password))
    return false;
  Record.Values.clear();
  for (std::string v; at < Text.size();) {
    if (!TakeField(Text, at, v)) return false;
    Record.Values.push_back(v);
  }
  return true;
}

void TKzNatsGroups::Start(natsConnection* Conn) {
  std::lock_guard<std::mutex> g(FLock);
  FConn = Conn;
}

void TKzNatsGroups::Stop() {
  std::lock_guard<std::mutex> g(FLock);
  if (FKv) kvStore_Destroy(FKv);
  if (FJs) jsCtx_Destroy(FJs);
  FKv = nullptr;
  FJs = nullptr;
  FConn = nullptr;
}

bool TKzNatsGroups::Bound() {
  if (FKv) return true;
  if (!FConn || !FUp) return false;
  if (!FJs) {
    jsOptions o;
    jsOptions_Init(&o);
    o.Wait = kWaitMs;
    if (natsConnection_JetStream(&FJs, FConn, &o) != NATS_OK) return false;
  }
  if (js_KeyValue(&FKv, FJs, FBucket.c_str()) == NATS_OK) return true;
  kvConfig c;
  kvConfig_Init(&c);
  c.Bucket = FBucket.c_str();
  c.History = 1;
  c.StorageType = js_FileStorage;
  for (int replicas : {3, 1}) {
    c.Replicas = replicas;
    if (js_CreateKeyValue(&FKv, FJs, &c) == NATS_OK) return true;
  }
  FKv = nullptr;
  return js_KeyValue(&FKv, FJs, FBucket.c_str()) == NATS_OK;  // made by another relay meanwhile
}

bool TKzNatsGroups::CountOneMore(uint32_t Max) {
  for (int i = 0; i < kMostRetries; ++i) {
    kvEntry* e = nullptr;
    uint64_t rev = 0, n = 0;
    if (kvStore_Get(&e, FKv, kCountKey) == NATS_OK) {
      n = std::strtoull(std::string(kvEntry_ValueString(e)).c_str(), nullptr, 10);
      rev = kvEntry_Revision(e);
      kvEntry_Destroy(e);
    }
    if (n >= Max) return false;
    const std::string next = std::to_string(n + 1);
    const natsStatus s = rev ? kvStore_UpdateString(nullptr, FKv, kCountKey, next.c_str(), rev)
                             : kvStore_CreateString(nullptr, FKv, kCountKey, next.c_str());
    if (s == NATS_OK) return true;  // else another relay changed it first: read again
  }
  return false;
}

TKzGroupClaim TKzNatsGroups::Claim(const TGUID& Group, TKzGroupRecord& Record, uint32_t MaxGroups) {
  std::lock_guard<std::mutex> g(FLock);
  if (!Bound()) return TKzGroupClaim::kzgcAlone;
  const std::string key = "g." + KzGUIDHex(Group), text = KzGroupRecordText(Record);
  if (kvStore_Create(nullptr, FKv, key.c_str(), text.data(), static_cast<int>(text.size())) == NATS_OK) {
    if (MaxGroups == 0 || CountOneMore(MaxGroups)) return TKzGroupClaim::kzgcCreated;
    kvStore_Purge(FKv, key.c_str(), nullptr);  // over the limit: as if never made
    return TKzGroupClaim::kzgcFull;
  }
  kvEntry* e = nullptr;
  if (kvStore_Get(&e, FKv, key.c_str()) != NATS_OK) return TKzGroupClaim::kzgcAlone;
  const std::string stored(static_cast<const char*>(kvEntry_Value(e)), static_cast<size_t>(kvEntry_ValueLen(e)));
  kvEntry_Destroy(e);
  return KzGroupRecordFrom(stored, Record) ? TKzGroupClaim::kzgcExists : TKzGroupClaim::kzgcAlone;
}

std::vector<TGUID> TKzNatsGroups::Groups() {
  std::lock_guard<std::mutex> g(FLock);
  std::vector<TGUID> out;
  if (!Bound()) return out;
  kvWatchOptions o;
  kvWatchOptions_Init(&o);
  o.Timeout = kWaitMs;
  kvKeysList keys{nullptr, 0};
  if (kvStore_Keys(&keys, FKv, &o) != NATS_OK) return out;
  for (int i = 0; i < keys.Count; ++i) {
    const std::string key = keys.Keys[i];
    if (TGUID group; key.rfind("g.", 0) == 0 && KzGUIDFromHex(key.substr(2), group)) out.push_back(group);
  }
  kvKeysList_Destroy(&keys);
  return out;
}

}  // namespace kz
