// The device-independent front of playback: one play item per (GUID, audio
// index), created on a source's first block and replaced when its format
// changes.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/fmxMKzPlayItem.h"

namespace kz {

using TKzPlayItemRef = std::shared_ptr<TKzPlayItem>;

// All operations: any thread. Those that create or delete items block while
// the system opens or closes a device.
class TKzPlayList {
public:
  TKzPlayList() = default;
  ~TKzPlayList() { DeleteAll(); }
  TKzPlayList(const TKzPlayList&) = delete;
  TKzPlayList& operator=(const TKzPlayList&) = delete;

  // The item of (GUID, index) or null.
  TKzPlayItemRef GetGUID(const TGUID& GUID, uint16_t AudioIndex) const;
  // The item of (GUID, index) in Format, created (or recreated when its format
  // differs or it was stopped) on BufferDuration, with the list's latency.
  TKzPlayItemRef PlayGUID(const TGUID& GUID, uint16_t AudioIndex, const TKzAudioInfo& Format,
                          uint16_t BufferDuration);
  void StopGUID(const TGUID& GUID, uint16_t AudioIndex);
  void DeleteGUID(const TGUID& GUID, uint16_t AudioIndex);
  void DeleteAll();
  // Stops every item.
  void Stop();
  // Empties the queues of every index of GUID.
  void ClearBuffer(const TGUID& GUID);
  void ClearBufferAtAudioIndex(const TGUID& GUID, uint16_t AudioIndex);
  // Latency (ms) of every item and of those created later.
  void SetAudioLatency(uint16_t Latency);
  uint16_t AudioLatency() const { return FLatency.load(); }
  void SetDeviceId(int32_t DeviceId) { FDeviceId = DeviceId; }
  int32_t DeviceId() const { return FDeviceId.load(); }
  std::vector<TKzPlayItemRef> Items() const;

private:
  // Takes the matching items out of the list, under the lock.
  std::vector<TKzPlayItemRef> Take(const TGUID& GUID, int32_t AudioIndex);
  mutable std::mutex FLock;  // guards FItems
  std::vector<TKzPlayItemRef> FItems;
  std::atomic<uint16_t> FLatency{1000};
  std::atomic<int32_t> FDeviceId{-1};
};

class TKzPlaySound {
public:
  // Any thread, never blocks.
  TKzPlaySound(uint16_t BufferDuration, int32_t DeviceId);

  // Plays one block of a source (see TKzPlayItem::AddToBuffer). Any thread.
  void PlayAudio(const TGUID& GUID, uint16_t AudioIndex, TMemoryStream& Stream, int32_t Size, bool AllowDrop,
                 const TKzAudioInfo& Format, int64_t StartTime, uint32_t Duration);
  // Frames the source's device has played, -1 without an item. Any thread.
  int64_t GetPosition(const TGUID& GUID, uint16_t AudioIndex) const;
  void ClearBuffer(const TGUID& GUID) { FList.ClearBuffer(GUID); }
  // Deletes every item. Any thread.
  void SetBufferDuration(uint16_t Value);
  uint16_t BufferDuration() const { return FBufferDuration.load(); }
  void SetAudioLatency(uint16_t Latency) { FList.SetAudioLatency(Latency); }
  TKzPlayList& List() { return FList; }
  const TKzPlayList& List() const { return FList; }

private:
  std::atomic<uint16_t> FBufferDuration;
  TKzPlayList FList;
};

}  // namespace kz
