// One source's playback (a GUID and an audio index): an open output device
// with eight buffers, the queue of blocks waiting for their time, and the two
// timers that start the next block and refill the device.
//
// Blocks are scheduled against the source's clock in the timing registry: a
// block stamped T plays at T + max(latency - its duration, 100) on that
// clock. A block that starts where the last played one ended (within 5 ms) is
// played at once; one that would leave a gap waits until it is due, so a
// block arriving late can still take its place; one whose place has already
// played (or that is over 10 s late) is dropped where dropping is allowed.
#pragma once
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/fmxMKzGUIDInfo.h"
#include "foundation/fmxMKzTrack.h"
#include "platform/fmxMKzPlatformTimerQueue.h"
#include "platform/fmxMKzPlatformWaveOut.h"

namespace kz {

constexpr int32_t KZ_PLAY_BUFFERS = 8;
constexpr int64_t KZ_PLAY_MAX_QUEUED = 409600;
constexpr int64_t KZ_PLAY_CONTIGUOUS_MS = 5;
constexpr int64_t KZ_PLAY_MIN_DELAY_MS = 100;
constexpr int64_t KZ_PLAY_MAX_LATENESS_MS = 10000;
constexpr uint32_t KZ_PLAY_REFILL_MS = 100;

// What an item has done, for tools and tests.
struct TKzPlayItemStats {
  uint64_t BlocksPlayed = 0;
  uint64_t BlocksDropped = 0;
  uint32_t Underruns = 0;
  int64_t QueuedBytes = 0;
  uint32_t QueuedMs = 0;
};

class TKzPlayItem {
public:
  // Any thread, never blocks. Latency in ms.
  TKzPlayItem(const TGUID& GUID, uint16_t AudioIndex, const TKzAudioInfo& Format, int32_t DeviceId,
              uint16_t BufferDuration, int64_t Latency);
  // DestroySound. Not from the item's own callbacks.
  ~TKzPlayItem();
  TKzPlayItem(const TKzPlayItem&) = delete;
  TKzPlayItem& operator=(const TKzPlayItem&) = delete;

  // Opens the device; false (and the item stays inactive) when it cannot.
  // The creating thread; blocks while the system opens the device.
  bool InitSound();
  // Inactive, device closed, timers gone; no callback runs after it returns.
  // Any thread but the item's own callbacks; waits for them.
  void DestroySound();
  // Queues Size bytes of Stream (from position 0) stamped StartTime (sender
  // ms) lasting Duration ms, and plays what is due. Any thread; never blocks
  // for long.
  void AddToBuffer(TMemoryStream& Stream, int32_t Size, int64_t StartTime, uint32_t Duration, bool AllowDrop);
  // Inactive, timers disarmed, device paused, the source's playback end
  // forgotten (its clock stays), queue emptied. Any thread.
  void Stop();
  bool Stopped() const { return FStopped.load(); }
  // Empties the queue and what waits for the device. Any thread.
  void ClearBuffer();
  // Frames the device has played, -1 when it is not open. Any thread.
  int64_t GetPosition() const;
  // Any thread.
  void SetLatency(int64_t Latency);
  int64_t Latency() const { return FLatency.load(); }

  const TGUID& GUID() const { return FGUID; }
  uint16_t AudioIndex() const { return FAudioIndex; }
  const TKzAudioInfo& Format() const { return FFormat; }
  bool Active() const { return FActive.load(); }
  uint32_t BufferSize() const { return FBufferSize; }
  int32_t FreeBuffers() const { return FFreeCount.load(); }
  TKzPlayItemStats Stats() const;

  // The size of each of the eight buffers for a format and duration (ms):
  // a power of two, at most 64 KiB. Pure.
  static uint32_t BufferSizeFor(const TKzAudioInfo& Format, uint16_t BufferDuration);

private:
  enum class TFate { kzfPlay, kzfDrop, kzfWait };
  // All under FLock.
  void PlayTracks();
  bool CanStartTrack();
  void MoveDueTracks();
  void UpdateTimer();
  void WriteToDevice();
  void RemoveForData(int64_t Bytes);
  TKzTrackData& GetFreeTrackItem();
  void InsertLast();
  void RemoveHead();
  TFate FateOf(const TKzTrackData& Track, const TKzGUIDTimes& Clock, int64_t Now) const;
  // The device's thread: counts a free buffer and arms the refill.
  void DeviceDone(TKzWaveOutBuffer* Buffer);
  // The timer queue's thread.
  void OnTimer();

  const TGUID FGUID;
  const uint16_t FAudioIndex;
  const TKzAudioInfo FFormat;
  const int32_t FDeviceId;
  const uint16_t FBufferDuration;
  std::atomic<int64_t> FLatency;
  std::atomic<bool> FActive{false};
  std::atomic<bool> FStopped{false};

  mutable std::mutex FLock;  // guards the queue, the output stream, the buffers' contents and the counters
  bool FAllowDrop = true;
  TKzGUIDInfoRef FClock;
  bool FStarted = false;  // played a block since created
  std::vector<std::unique_ptr<TKzTrackData>> FTracks;  // [0, FTrackCount) queued by time; the rest kept for reuse
  size_t FTrackCount = 0;
  int64_t FQueuedBytes = 0;
  TMemoryStream FOutput;  // bytes ready for the device
  uint32_t FBufferSize = 0;
  std::array<std::vector<uint8_t>, KZ_PLAY_BUFFERS> FBuffers;
  std::array<TKzWaveOutBuffer, KZ_PLAY_BUFFERS> FHeaders;
  int32_t FNextBuffer = 0;
  std::atomic<int32_t> FFreeCount{0};
  int64_t FTimerDue = -1;  // the deadline the next-track timer was armed for
  uint64_t FPlayed = 0;
  uint64_t FDropped = 0;

  mutable std::mutex FDeviceLock;  // guards FDevice being closed against GetPosition
  std::unique_ptr<IKzWaveOut> FDevice;
  std::unique_ptr<TKzTimerQueue> FTimers;
  TKzTimerQueue::TTimerId FNextTrackTimer = 0;
  TKzTimerQueue::TTimerId FPlayTimer = 0;
};

}  // namespace kz
