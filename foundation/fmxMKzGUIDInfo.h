// The process-wide source timing registry: one record per sender identity
// that maps the sender's millisecond timestamps onto local tick counts.
// A frame stamped T by the sender is due locally at T + ReceiveTime - StartTime.
//
// The registry starts on first use (with its expiry timer, which runs on the
// main thread every 60 s and frees records not looked up for an hour) and
// stops at process exit or on KzGUIDInfoShutdown. Its lock is the innermost
// of the media lists: the image list calls in while holding its own lock,
// the registry never calls out.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "foundation/Fmxmkzguidfuncs.h"

namespace kz {

// A consistent copy of one record's times.
struct TKzGUIDTimes {
  int64_t StartTime = 0;
  int64_t ReceiveTime = 0;
  int64_t PlaybackEndTime = 0;
  int64_t LastUpdate = 0;
  int64_t LastReceivedTime = 0;
  // Local tick at which a frame stamped T is due (saturating).
  int64_t DueTime(int64_t T) const;
};

class TKzGUIDInfoItem {
public:
  // Stores the identity, LastUpdate := current tick count, every other time 0.
  explicit TKzGUIDInfoItem(const TGUID& AGUID);
  TKzGUIDInfoItem(const TKzGUIDInfoItem&) = delete;
  TKzGUIDInfoItem& operator=(const TKzGUIDInfoItem&) = delete;

  // Each field may be read or written alone from any thread; to change or
  // read several together use the operations below, which hold the registry lock.
  const TGUID nGUID;
  std::atomic<int64_t> StartTime{0};        // sender timestamp that anchors the mapping
  std::atomic<int64_t> ReceiveTime{0};      // local tick that corresponds to StartTime
  std::atomic<int64_t> PlaybackEndTime{0};  // sender time up to which playback has advanced
  std::atomic<int64_t> LastUpdate{0};       // local tick of the last lookup; drives expiry
  std::atomic<int64_t> LastReceivedTime{0};  // newest sender timestamp seen

  // StartTime, LastReceivedTime := T; ReceiveTime := current tick. Any thread, never blocks for long.
  void SetNewStartTime(int64_t T);
  // Zeroes every time except LastUpdate. Any thread, never blocks for long.
  void Clear();
  // All times read together. Any thread, never blocks for long.
  TKzGUIDTimes Times() const;
};

// Records stay valid for whoever holds a reference, also after expiry.
using TKzGUIDInfoRef = std::shared_ptr<TKzGUIDInfoItem>;

// All of these: any thread; they block only on the registry lock, which is
// never held for long.

// The record of GUID or null; a hit refreshes its LastUpdate.
TKzGUIDInfoRef GetGUIDInfo(const TGUID& GUID);
// Like GetGUIDInfo, but copies the times under the lock. False when there is no record.
bool GetGUIDInfoTimes(const TGUID& GUID, TKzGUIDTimes& Times);
// The record of GUID, created when missing (ReceiveTime := now, the other
// times := Time). With Update, Time is a new sender timestamp: a jump back of
// more than 100 ms re-anchors the mapping; otherwise the mapping keeps the
// smallest delay seen between a timestamp and its arrival.
TKzGUIDInfoRef GetGUIDInfoWithCreate(const TGUID& GUID, bool Update, int64_t Time);
// Zeroes the times of GUID's record (the record and its LastUpdate stay).
void ClearGuidInfo(const TGUID& GUID);
// Frees every record.
void ClearAllGUID();
size_t GetGUIDInfoCount();
// Frees the records whose LastUpdate is more than an hour old (the expiry
// timer's handler).
void UpdateGUIDList();

constexpr uint32_t KZ_GUIDINFO_TIMER_INTERVAL = 60000;
constexpr int64_t KZ_GUIDINFO_EXPIRY = 3600000;

// Stops the expiry timer and frees every record; a later use starts the
// registry again. Main thread (elsewhere the timer is stopped there later); never blocks for long.
void KzGUIDInfoShutdown();

}  // namespace kz
