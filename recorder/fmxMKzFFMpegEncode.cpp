#include "recorder/fmxMKzFFMpegEncode.h"

#include <algorithm>
#include <vector>

#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "foundation/fmxMKzErrors.h"
#include "platform/fmxMKzPlatformClock.h"

namespace kz {

namespace {
// More than this behind the clock, the missed steps are left out.
constexpr uint64_t KzMaxLagMs = 1000;
// Incoming audio kept waiting at most this long; older audio is dropped.
constexpr int64_t KzMaxAudioQueueMs = 2000;
// Without a picture, a file sized by its pictures opens this late at the latest.
constexpr uint64_t KzAutoSizeWaitMs = 2000;
}  // namespace

TKzFFMpegEncode::TKzFFMpegEncode(void* AOwner, const std::string& FileName, int32_t FramePerSec)
    : TKzBaseThread(true, "TKzFFMpegEncode"), Owner(AOwner), FFramePerSec(FramePerSec), FOutputFileName(FileName) {
  if (FramePerSec <= 0) throw EKzMediaError("The frame rate must be positive");
  if (!IsSupportedFFmpeg()) return;
  FFMpeg_ = std::make_unique<TKzMFFMPEG>(Owner);
  FFMpeg_->EncodeSettings.FramePerSec = FramePerSec;
  FFMpeg_->OnNextVideoFrame = [this](AVFrame* Frame) {
    return !LastFrame.IsEmpty() && FFMpeg_->PictureToEncoderFrame(LastFrame, Frame);
  };
  FFMpeg_->OnNextAudioFragment = [this](uint8_t* Buffer, int32_t& Samples, bool Flush) {
    NextAudioFragment(Buffer, Samples, Flush);
  };
}

TKzFFMpegEncode::~TKzFFMpegEncode() {
  if (Started()) {
    Terminate();
    WaitFor();
  }
  if (FFMpeg_) FFMpeg_->VideoEncodeDeinit();
}

bool TKzFFMpegEncode::OpenFile() {
  if (!FFMpeg_) return false;
  TKzFFmpegEncodeSettings& s = FFMpeg_->EncodeSettings;
  {
    std::lock_guard<std::mutex> g(FTempLastFrameLock);
    if (FDeferOpen && !TempLastFrame.IsEmpty()) {
      s.VideoWidth = TempLastFrame.Width() & ~1;
      s.VideoHeight = TempLastFrame.Height() & ~1;
    }
  }
  const bool ok = FFMpeg_->VideoEncodeFile(FOutputFileName);
  FOpened.store(ok, std::memory_order_release);
  if (!ok) FFailed.store(true, std::memory_order_release);
  return ok;
}

bool TKzFFMpegEncode::Run(bool DeferOpen) {
  FDeferOpen = DeferOpen;
  if (!FFMpeg_) return false;
  if (!DeferOpen && !OpenFile()) return false;
  StartThread(this);
  return true;
}

void TKzFFMpegEncode::AddFrame(const TKzMBitmap& Bitmap) {
  if (Paused.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> g(FTempLastFrameLock);
  const uint64_t now = PlatformTickCount();
  // An encoder behind the clock: the picture waiting came at or after the
  // time of the step that takes it, so a newer one would only lie further
  // from that step (and from its sound). Not copied.
  if (FNewPicture && FWaitingSinceMs >= FTakeDueMs) return;
  TempLastFrame.AssignKzMBitmap(Bitmap);
  FNewPicture = true;
  FWaitingSinceMs = now;
  // A file waiting for its first picture opens now.
  if (!FFirstFrameReceived.exchange(true, std::memory_order_acq_rel)) PlatformWakeClockWaiters();
}

void TKzFFMpegEncode::AddTrack(const TKzMTrack& Track) {
  if (Paused.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> g(FTempTracksLock);
  TempTracks.Add(Track);
}

void TKzFFMpegEncode::AddTrackData(const uint8_t* Data, int32_t Size) {
  if (Paused.load(std::memory_order_acquire) || Size <= 0) return;
  std::lock_guard<std::mutex> g(FTempTracksLock);
  TempTracks.AddAllDataFromBuffers({Data}, Size);
}

void TKzFFMpegEncode::Clear() {
  {
    std::lock_guard<std::mutex> t(FTempTracksLock);
    std::lock_guard<std::mutex> m(FTracksLock);
    TempTracks.Clear();
    Tracks.Clear();
  }
  std::lock_guard<std::mutex> t(FTempLastFrameLock);
  std::lock_guard<std::mutex> m(FLastFrameLock);
  TempLastFrame.SetSize(0, 0);
  FNewPicture = false;
}

void TKzFFMpegEncode::Abort() {
  TKzBaseThread::Abort();
  PlatformWakeClockWaiters();
}

void TKzFFMpegEncode::TerminatedSet() {
  TKzBaseThread::TerminatedSet();
  PlatformWakeClockWaiters();
}

void TKzFFMpegEncode::StopMedia() {
  Abort();
  if (Started()) WaitFor();
  if (FFMpeg_) FFMpeg_->VideoEncodeDeinit();
  FOpened.store(false, std::memory_order_release);
  Clear();
}

TKzRecordStats TKzFFMpegEncode::Stats() {
  TKzRecordStats s;
  {
    std::lock_guard<std::mutex> g(FStatsLock);
    s = FStats;
  }
  return s;
}

bool TKzFFMpegEncode::FillVideoFrameAndAudio(uint64_t NextDueMs) {
  if (!FFMpeg_) return false;
  if (Paused.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> g(FTempLastFrameLock);
    FTakeDueMs = NextDueMs;  // the first pictures after the pause are not held as late ones
    return false;
  }
  const TKzFFmpegEncodeSettings& s = FFMpeg_->EncodeSettings;
  const bool audio = FFMpeg_->HasAudioStream();
  if (audio) {
    std::lock_guard<std::mutex> t(FTempTracksLock);
    std::lock_guard<std::mutex> m(FTracksLock);
    Tracks.Add(TempTracks);
    TempTracks.Clear();
    // An encoder that cannot keep up loses the oldest audio, never memory.
    const int32_t frameBytes = std::max(1, s.InAudio.Channels * (s.InAudio.BitsPerSample == TKzBitsPerSample::kzbps8 ? 1 : 2));
    const int64_t limit = int64_t(s.InAudio.SamplesPerSec) * KzMaxAudioQueueMs / 1000 * frameBytes;
    if (Tracks.DataSize > limit) {
      const int32_t drop = int32_t((Tracks.DataSize - limit) / frameBytes * frameBytes);
      std::vector<uint8_t> scratch(static_cast<size_t>(drop));
      Tracks.ExtractData(scratch.data(), drop, 0);
      std::lock_guard<std::mutex> g(FStatsLock);
      FStats.AudioDroppedBytes += drop;
    }
  }
  bool repeated = false;
  {
    std::lock_guard<std::mutex> t(FTempLastFrameLock);
    std::lock_guard<std::mutex> m(FLastFrameLock);
    if (FNewPicture) {
      LastFrame.SwapPixels(TempLastFrame);
      FNewPicture = false;
    } else {
      repeated = !LastFrame.IsEmpty();
    }
    FTakeDueMs = NextDueMs;
  }
  const bool go = audio || FFirstFrameReceived.load(std::memory_order_acquire) || FFMpeg_->HasVideoStream();
  if (go && repeated) {
    std::lock_guard<std::mutex> g(FStatsLock);
    ++FStats.FramesRepeated;
  }
  return go;
}

void TKzFFMpegEncode::NextAudioFragment(uint8_t* Buffer, int32_t& Samples, bool Flush) {
  const TKzFFmpegEncodeSettings& s = FFMpeg_->EncodeSettings;
  const int32_t frameBytes = s.InAudio.Channels * (s.InAudio.BitsPerSample == TKzBitsPerSample::kzbps8 ? 1 : 2);
  const int64_t needed = int64_t(Samples) * frameBytes;
  if (frameBytes <= 0 || needed > FFMpeg_->AudioFragmentCapacity()) {
    if (FFMpeg_->OnError) FFMpeg_->OnError(Owner, 13, "Too small input buffer for audio encoding");
    Samples = 0;
    return;
  }
  std::lock_guard<std::mutex> g(FTracksLock);
  if (Tracks.DataSize >= needed) {
    Tracks.ExtractData(Buffer, int32_t(needed), 0);
  } else if (Flush) {
    const int32_t whole = Tracks.DataSize / frameBytes * frameBytes;
    Tracks.ExtractData(Buffer, whole, 0);
    Tracks.Clear();  // a partial sample frame at the very end is not audio
    Samples = whole / frameBytes;
  } else {
    Samples = 0;
  }
}

bool TKzFFMpegEncode::ReadyToOpen(uint64_t Now, uint64_t T0) {
  return FFirstFrameReceived.load(std::memory_order_acquire) || Now - T0 >= KzAutoSizeWaitMs;
}

void TKzFFMpegEncode::DoExecute() {
  TThread::RaisePriority();
  const auto cancelled = [this] { return Terminated(); };
  const uint64_t t0 = PlatformTickCount();
  const int64_t fps = FFramePerSec;
  int64_t step = 0;  // the clock's step: frame n is due at t0 + n × 1000 / fps
  int64_t pts = 0;   // the file's frame number: paused steps are not counted
  while (!Terminated()) {
    const uint64_t now = PlatformTickCount();
    if (!IsOpened()) {
      if (!ReadyToOpen(now, t0)) {
        PlatformWaitUntil(t0 + KzAutoSizeWaitMs,
                          [this] { return Terminated() || FFirstFrameReceived.load(std::memory_order_acquire); });
        continue;
      }
      if (!OpenFile()) break;
    }
    const uint64_t due = t0 + uint64_t(step * 1000 / fps);
    if (now < due) {
      if (!PlatformWaitUntil(due, cancelled)) break;
      continue;
    }
    if (now - due > KzMaxLagMs) {
      // Far behind: the missed steps are left out, stamps keep the clock's spacing.
      const int64_t current = int64_t(now - t0) * fps / 1000;
      const int64_t missed = std::max<int64_t>(0, current - step);
      step += missed;
      if (!Paused.load(std::memory_order_acquire)) pts += missed;
      std::lock_guard<std::mutex> g(FStatsLock);
      FStats.FramesSkipped += missed;
    }
    if (FillVideoFrameAndAudio(t0 + uint64_t((step + 1) * 1000 / fps))) {
      if (!FFMpeg_->EncodeVideoFrameAndAudio(pts)) {
        FFailed.store(true, std::memory_order_release);  // writing failed: reported once, the file is finished
        break;
      }
      ++pts;
      const TKzFFmpegEncodeStats e = FFMpeg_->EncodeStats();
      const int32_t rate = FFMpeg_->GetOutputAudioSampleRate();
      std::lock_guard<std::mutex> g(FStatsLock);
      ++FStats.FramesEncoded;
      FStats.BytesWritten = e.BytesWritten;
      FStats.AudioSeconds = rate > 0 ? double(e.AudioSamples) / rate : 0;
    }
    ++step;
    std::lock_guard<std::mutex> g(FStatsLock);
    FStats.Steps = step;
  }
  if (FFMpeg_) FFMpeg_->VideoEncodeDeinit();
  FOpened.store(false, std::memory_order_release);
}

}  // namespace kz
