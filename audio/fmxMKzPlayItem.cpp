#include "audio/fmxMKzPlayItem.h"

#include <algorithm>
#include <cstring>

#include "audio/fmxMKzAudioFuncs.h"

namespace kz {

TKzPlayItem::TKzPlayItem(const TGUID& GUID, uint16_t AudioIndex, const TKzAudioInfo& Format, int32_t DeviceId,
                         uint16_t BufferDuration, int64_t Latency)
    : FGUID(GUID),
      FAudioIndex(AudioIndex),
      FFormat(Format),
      FDeviceId(DeviceId),
      FBufferDuration(BufferDuration),
      FLatency(Latency) {}

TKzPlayItem::~TKzPlayItem() { DestroySound(); }

uint32_t TKzPlayItem::BufferSizeFor(const TKzAudioInfo& Format, uint16_t BufferDuration) {
  const int64_t perSecond = int64_t(KzBitsToInt(Format.BitsPerSample) / 8 * 1024) * (Format.SamplesPerSec / 1024);
  const int64_t size = GetMaxPower2(perSecond * BufferDuration / 1000, true);
  return static_cast<uint32_t>(std::clamp<int64_t>(size, 1, 65536));
}

bool TKzPlayItem::InitSound() {
  const TKzWaveOutFormat format{FFormat.SamplesPerSec, KzBitsToInt(FFormat.BitsPerSample), FFormat.Channels};
  if (format.Channels < 1 || format.SamplesPerSec < 1) return false;
  FBufferSize = BufferSizeFor(FFormat, FBufferDuration);
  // Whole frames in every buffer.
  FBufferSize = std::max<uint32_t>(FBufferSize - FBufferSize % format.BlockAlign(), format.BlockAlign());
  const uint8_t silence = format.BitsPerSample == 8 ? 128 : 0;
  for (int32_t i = 0; i < KZ_PLAY_BUFFERS; ++i) {
    FBuffers[i].assign(FBufferSize, silence);
    FHeaders[i].Data = FBuffers[i].data();
    FHeaders[i].BufferLength = FBufferSize;
  }
  FTimers = std::make_unique<TKzTimerQueue>();
  FNextTrackTimer = FTimers->Create([this] { OnTimer(); });
  FPlayTimer = FTimers->Create([this] { OnTimer(); });
  std::unique_ptr<IKzWaveOut> device = KzWaveOutBackend().CreateWaveOut();
  if (!device->Open(FDeviceId, format, [this](TKzWaveOutBuffer* Buffer) { DeviceDone(Buffer); })) {
    FTimers.reset();
    return false;
  }
  {
    std::lock_guard<std::mutex> g(FDeviceLock);
    FDevice = std::move(device);
  }
  FFreeCount = KZ_PLAY_BUFFERS;
  FActive = true;
  return true;
}

void TKzPlayItem::DestroySound() {
  {
    std::lock_guard<std::mutex> g(FLock);
    FActive = false;
    FTrackCount = 0;
    FQueuedBytes = 0;
    FOutput.SetSize(0);
  }
  // The device first: no completion (which arms a timer) comes after its Close.
  {
    std::lock_guard<std::mutex> g(FDeviceLock);
    if (FDevice) FDevice->Close();
    FDevice.reset();
  }
  // Waits for a running timer callback, which finds the item inactive.
  FTimers.reset();
}

void TKzPlayItem::ClearBuffer() {
  std::lock_guard<std::mutex> g(FLock);
  FTrackCount = 0;
  FQueuedBytes = 0;
  FOutput.SetSize(0);
}

void TKzPlayItem::Stop() {
  {
    std::lock_guard<std::mutex> g(FLock);
    FActive = false;
    FStopped = true;
    if (FTimers) {
      FTimers->Cancel(FNextTrackTimer);
      FTimers->Cancel(FPlayTimer);
    }
    FTrackCount = 0;
    FQueuedBytes = 0;
    FOutput.SetSize(0);
    // The clock's anchor also paces the source's video: only the audio's end goes.
    if (TKzGUIDInfoRef clock = GetGUIDInfo(FGUID)) clock->PlaybackEndTime = 0;
  }
  std::lock_guard<std::mutex> g(FDeviceLock);
  if (FDevice) {
    FDevice->Pause();
    FDevice->Reset();
  }
}

int64_t TKzPlayItem::GetPosition() const {
  std::lock_guard<std::mutex> g(FDeviceLock);
  return FDevice ? FDevice->Position() : -1;
}

void TKzPlayItem::SetLatency(int64_t Latency) { FLatency = Latency; }

TKzPlayItemStats TKzPlayItem::Stats() const {
  TKzPlayItemStats s;
  {
    std::lock_guard<std::mutex> g(FLock);
    s.BlocksPlayed = FPlayed;
    s.BlocksDropped = FDropped;
    s.QueuedBytes = FQueuedBytes;
    for (size_t i = 0; i < FTrackCount; ++i) s.QueuedMs += FTracks[i]->MSecTime;
  }
  std::lock_guard<std::mutex> g(FDeviceLock);
  s.Underruns = FDevice ? FDevice->Underruns() : 0;
  return s;
}

void TKzPlayItem::AddToBuffer(TMemoryStream& Stream, int32_t Size, int64_t StartTime, uint32_t Duration,
                              bool AllowDrop) {
  const int32_t align = KzBitsToInt(FFormat.BitsPerSample) / 8 * FFormat.Channels;
  if (align <= 0 || FFormat.SamplesPerSec <= 0) return;
  Size = static_cast<int32_t>(std::min<int64_t>(Size, Stream.Size()));
  Size -= Size % align;  // the device takes whole frames only
  if (Size <= 0) return;
  std::lock_guard<std::mutex> g(FLock);
  if (!FActive) return;
  FAllowDrop = AllowDrop;
  if (FQueuedBytes + Size > KZ_PLAY_MAX_QUEUED) RemoveForData(FQueuedBytes + Size - KZ_PLAY_MAX_QUEUED);
  // Looked up each time: it keeps the record from expiring.
  FClock = GetGUIDInfoWithCreate(FGUID, false, StartTime);
  if (FClock->ReceiveTime == 0) FClock->SetNewStartTime(StartTime);  // cleared meanwhile
  TKzTrackData& t = GetFreeTrackItem();
  t.UserGUID = FGUID;
  t.SizeData = Size;
  t.Data.SetSize(Size);
  std::memcpy(t.Data.Memory(), Stream.Memory(), size_t(Size));
  t.StartTime = StartTime + std::max<int64_t>(FLatency.load() - int64_t(Duration), KZ_PLAY_MIN_DELAY_MS);
  t.MSecTime = Duration;
  t.AudioDeviceId = FDeviceId;
  t.AudioInfo = FFormat;
  InsertLast();
  FQueuedBytes += Size;
  PlayTracks();
}

TKzTrackData& TKzPlayItem::GetFreeTrackItem() {
  if (FTrackCount == FTracks.size()) FTracks.push_back(std::make_unique<TKzTrackData>());
  return *FTracks[FTrackCount];
}

void TKzPlayItem::InsertLast() {
  const int64_t start = FTracks[FTrackCount]->StartTime;
  // After the last queued track not later than it.
  const auto end = FTracks.begin() + FTrackCount;
  const auto at = std::upper_bound(FTracks.begin(), end, start,
                                   [](int64_t T, const std::unique_ptr<TKzTrackData>& D) { return T < D->StartTime; });
  std::rotate(at, end, end + 1);
  ++FTrackCount;
}

void TKzPlayItem::RemoveHead() {
  FQueuedBytes -= FTracks[0]->SizeData;
  std::rotate(FTracks.begin(), FTracks.begin() + 1, FTracks.begin() + FTrackCount);
  --FTrackCount;
}

void TKzPlayItem::RemoveForData(int64_t Bytes) {
  int64_t removed = 0;
  while (FTrackCount > 0 && removed < Bytes) {
    removed += FTracks[0]->SizeData;
    RemoveHead();
    ++FDropped;
  }
}

TKzPlayItem::TFate TKzPlayItem::FateOf(const TKzTrackData& Track, const TKzGUIDTimes& Clock, int64_t Now) const {
  // Until this item plays, the playback end is someone else's (or stale).
  if (FStarted) {
    if (std::abs(Track.StartTime - Clock.PlaybackEndTime) <= KZ_PLAY_CONTIGUOUS_MS) return TFate::kzfPlay;
    if (Track.StartTime < Clock.PlaybackEndTime) return FAllowDrop ? TFate::kzfDrop : TFate::kzfPlay;
  }
  const int64_t relative = Track.StartTime - Clock.StartTime;
  const int64_t elapsed = Now - Clock.ReceiveTime;
  if (relative < elapsed - KZ_PLAY_MAX_LATENESS_MS) return FAllowDrop ? TFate::kzfDrop : TFate::kzfPlay;
  return relative <= elapsed ? TFate::kzfPlay : TFate::kzfWait;
}

bool TKzPlayItem::CanStartTrack() {
  return FTrackCount > 0 && FateOf(*FTracks[0], FClock->Times(), int64_t(KzMGetTickCount())) != TFate::kzfWait;
}

void TKzPlayItem::MoveDueTracks() {
  TKzGUIDTimes clock = FClock->Times();
  const int64_t now = int64_t(KzMGetTickCount());
  while (FTrackCount > 0) {
    TKzTrackData& head = *FTracks[0];
    const TFate fate = FateOf(head, clock, now);
    if (fate == TFate::kzfWait) break;
    if (fate == TFate::kzfPlay) {
      FOutput.Seek(0, TSeekOrigin::soEnd);
      FOutput.Write(head.Data.Memory(), head.SizeData);
      clock.PlaybackEndTime = head.StartTime + head.MSecTime;
      FClock->PlaybackEndTime = clock.PlaybackEndTime;
      FStarted = true;
      ++FPlayed;
    } else {
      ++FDropped;
    }
    RemoveHead();
  }
}

void TKzPlayItem::PlayTracks() {
  if (!FActive) return;
  if (CanStartTrack()) MoveDueTracks();
  WriteToDevice();
  if (FTrackCount > 0) UpdateTimer();
}

void TKzPlayItem::UpdateTimer() {
  const TKzGUIDTimes clock = FClock->Times();
  const int64_t due = FTracks[0]->StartTime - clock.StartTime + clock.ReceiveTime;
  if (due == FTimerDue && FTimers->Armed(FNextTrackTimer)) return;
  const int64_t now = int64_t(KzMGetTickCount());
  FTimers->Arm(FNextTrackTimer, uint32_t(std::clamp<int64_t>(due - now, 1, KZ_PLAY_MAX_LATENESS_MS)));
  FTimerDue = due;
}

void TKzPlayItem::WriteToDevice() {
  const int32_t align = KzBitsToInt(FFormat.BitsPerSample) / 8 * FFormat.Channels;
  while (FOutput.Size() > 0 && FFreeCount.load() > 0) {
    const int32_t i = FNextBuffer;
    int64_t n = std::min<int64_t>(FBufferSize, FOutput.Size());
    n -= n % align;
    if (n <= 0) break;
    std::memcpy(FBuffers[i].data(), FOutput.Memory(), size_t(n));
    FHeaders[i].BufferLength = uint32_t(n);
    FFreeCount.fetch_sub(1);
    if (!FDevice->Write(&FHeaders[i])) {
      FFreeCount.fetch_add(1);
      break;  // the bytes stay for the next attempt
    }
    FOutput.DeleteFront(n);
    FNextBuffer = (i + 1) % KZ_PLAY_BUFFERS;
  }
}

void TKzPlayItem::DeviceDone(TKzWaveOutBuffer*) {
  if (!FActive) return;
  FFreeCount.fetch_add(1);
  // Never later: re-arming on every completion would postpone the refill.
  FTimers->ArmIfIdle(FPlayTimer, KZ_PLAY_REFILL_MS);
}

void TKzPlayItem::OnTimer() {
  std::lock_guard<std::mutex> g(FLock);
  PlayTracks();
}

}  // namespace kz
