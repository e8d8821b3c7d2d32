#include "foundation/fmxMKzGUIDInfo.h"

#include <mutex>
#include <unordered_map>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformTimer.h"

namespace kz {

namespace {
// Sender timestamps come from the network: arithmetic on them saturates.
int64_t SatAdd(int64_t A, int64_t B) {
  int64_t r;
  if (!__builtin_add_overflow(A, B, &r)) return r;
  return B > 0 ? INT64_MAX : INT64_MIN;
}
int64_t SatSub(int64_t A, int64_t B) {
  int64_t r;
  if (!__builtin_sub_overflow(A, B, &r)) return r;
  return B < 0 ? INT64_MAX : INT64_MIN;
}
int64_t Now() { return static_cast<int64_t>(KzMGetTickCount()); }
}  // namespace

int64_t TKzGUIDTimes::DueTime(int64_t T) const { return SatAdd(T, SatSub(ReceiveTime, StartTime)); }

// The expiry timer: a framework timer whose handler is UpdateGUIDList.
class TGUIDTimer : public TTimer {
public:
  TGUIDTimer() {
    OnTimer = [](TTimer*) { UpdateGUIDList(); };
    SetInterval(KZ_GUIDINFO_TIMER_INTERVAL);
    SetEnabled(true);
  }
};

class TKzGUIDInfoRegistry {
public:
  static TKzGUIDInfoRegistry& Instance() {
    // Never destroyed: records may be looked up during static teardown.
    static auto* r = new TKzGUIDInfoRegistry;
    return *r;
  }

  std::recursive_mutex Lock;  // guards Items, TimerWanted, Timer, Exiting; records' multi-field updates
  std::unordered_map<TGUID, TKzGUIDInfoRef, TGUIDHash> Items;

  // Caller holds Lock. Starts the expiry timer on the main thread the first
  // time the registry is used (again after a shutdown).
  void EnsureStarted() {
    if (TimerWanted || Exiting) return;
    TimerWanted = true;
    if (IsMainThread())
      StartTimer();
    else
      QueueOnMainThread([] { Instance().StartTimer(); });
  }

  // Main thread.
  void StartTimer() {
    std::lock_guard<std::recursive_mutex> g(Lock);
    if (TimerWanted && !Timer) Timer = new TGUIDTimer;
  }

  void Shutdown(bool AtExit) {
    TGUIDTimer* timer;
    std::unordered_map<TGUID, TKzGUIDInfoRef, TGUIDHash> dropped;
    {
      std::lock_guard<std::recursive_mutex> g(Lock);
      if (AtExit) Exiting = true;
      TimerWanted = false;
      timer = Timer;
      Timer = nullptr;
      dropped.swap(Items);
    }
    if (!timer) return;
    if (IsMainThread())
      delete timer;
    else
      QueueOnMainThread([timer] { delete timer; });
  }

  // Caller holds Lock. A hit refreshes the record's LastUpdate.
  TKzGUIDInfoRef* Find(const TGUID& G) {
    auto it = Items.find(G);
    if (it == Items.end()) return nullptr;
    it->second->LastUpdate = Now();
    return &it->second;
  }

private:
  bool TimerWanted = false;
  bool Exiting = false;
  TGUIDTimer* Timer = nullptr;  // created and freed on the main thread
};

namespace {
TKzGUIDInfoRegistry& Registry() { return TKzGUIDInfoRegistry::Instance(); }

using TRegistryLock = std::lock_guard<std::recursive_mutex>;

// Stops the timer and frees the records when static objects are torn down.
struct TGUIDInfoAtExit {
  ~TGUIDInfoAtExit() { Registry().Shutdown(true); }
} gGUIDInfoAtExit;
}  // namespace

// ---- TKzGUIDInfoItem

TKzGUIDInfoItem::TKzGUIDInfoItem(const TGUID& AGUID) : nGUID(AGUID), LastUpdate(Now()) {}

void TKzGUIDInfoItem::SetNewStartTime(int64_t T) {
  TRegistryLock g(Registry().Lock);
  StartTime = T;
  LastReceivedTime = T;
  ReceiveTime = Now();
}

void TKzGUIDInfoItem::Clear() {
  TRegistryLock g(Registry().Lock);
  StartTime = 0;
  ReceiveTime = 0;
  PlaybackEndTime = 0;
  LastReceivedTime = 0;
}

TKzGUIDTimes TKzGUIDInfoItem::Times() const {
  TRegistryLock g(Registry().Lock);
  return TKzGUIDTimes{StartTime, ReceiveTime, PlaybackEndTime, LastUpdate, LastReceivedTime};
}

// ---- Registry operations

TKzGUIDInfoRef GetGUIDInfo(const TGUID& GUID) {
  TKzGUIDInfoRegistry& r = Registry();
  TRegistryLock g(r.Lock);
  r.EnsureStarted();
  TKzGUIDInfoRef* item = r.Find(GUID);
  return item ? *item : nullptr;
}

bool GetGUIDInfoTimes(const TGUID& GUID, TKzGUIDTimes& Times) {
  TKzGUIDInfoRegistry& r = Registry();
  TRegistryLock g(r.Lock);
  r.EnsureStarted();
  TKzGUIDInfoRef* item = r.Find(GUID);
  if (!item) return false;
  Times = (*item)->Times();
  return true;
}

TKzGUIDInfoRef GetGUIDInfoWithCreate(const TGUID& GUID, bool Update, int64_t Time) {
  TKzGUIDInfoRegistry& r = Registry();
  TRegistryLock g(r.Lock);
  r.EnsureStarted();
  const int64_t now = Now();
  TKzGUIDInfoRef* found = r.Find(GUID);
  if (!found) {
    auto item = std::make_shared<TKzGUIDInfoItem>(GUID);
    item->ReceiveTime = now;
    item->StartTime = Time;
    item->LastReceivedTime = Time;
    item->PlaybackEndTime = Time;
    item->LastUpdate = now;
    r.Items.emplace(GUID, item);
    return item;
  }
  TKzGUIDInfoItem& rec = **found;
  if (!Update) return *found;
  if (SatAdd(Time, 100) < rec.LastReceivedTime) {
    // The sender's clock went back: a restarted stream.
    rec.SetNewStartTime(Time);
  } else {
    const int64_t latency = SatSub(now, Time);
    const int64_t offset = SatSub(rec.ReceiveTime, rec.StartTime);
    if (offset > latency) rec.ReceiveTime = SatSub(rec.ReceiveTime, SatSub(offset, latency));
  }
  rec.LastReceivedTime = Time;
  return *found;
}

void ClearGuidInfo(const TGUID& GUID) {
  TKzGUIDInfoRegistry& r = Registry();
  TRegistryLock g(r.Lock);
  auto it = r.Items.find(GUID);
  if (it != r.Items.end()) it->second->Clear();
}

void ClearAllGUID() {
  std::unordered_map<TGUID, TKzGUIDInfoRef, TGUIDHash> dropped;
  TKzGUIDInfoRegistry& r = Registry();
  TRegistryLock g(r.Lock);
  dropped.swap(r.Items);
}

size_t GetGUIDInfoCount() {
  TKzGUIDInfoRegistry& r = Registry();
  TRegistryLock g(r.Lock);
  return r.Items.size();
}

void UpdateGUIDList() {
  TKzGUIDInfoRegistry& r = Registry();
  TRegistryLock g(r.Lock);
  const int64_t now = Now();
  std::erase_if(r.Items, [now](const auto& kv) { return SatSub(now, kv.second->LastUpdate) > KZ_GUIDINFO_EXPIRY; });
}

void KzGUIDInfoShutdown() { Registry().Shutdown(false); }

}  // namespace kz
