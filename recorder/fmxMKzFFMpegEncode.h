// The recorder's encoder thread: one picture per frame period of the
// platform clock, the last one received repeated when the source is slower,
// and the audio that arrived in between, through the FFmpeg engine's
// encoding half. Producers only swap a picture in or append audio.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ffmpeg/fmxMKzFFmpeg.h"
#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzTrack.h"
#include "foundation/fmxMKzTypesThreads.h"

namespace kz {

// What the encoder thread has done so far.
struct TKzRecordStats {
  int64_t Steps = 0;           // frame periods passed since the file opened
  int64_t FramesEncoded = 0;   // steps written
  int64_t FramesRepeated = 0;  // steps that showed the previous picture again
  int64_t FramesSkipped = 0;   // steps left out to catch up (more than a second behind)
  int64_t AudioDroppedBytes = 0;  // incoming audio lost beyond two seconds of queue
  double AudioSeconds = 0;     // audio encoded
  int64_t BytesWritten = 0;    // packet bytes written to the file
};

class TKzFFMpegEncode : public TKzBaseThread {
public:
  // A frame rate ≤ 0 is refused (EKzMediaError). Created suspended; the
  // engine exists only when FFmpeg is supported. Owner is the Sender of the
  // engine's events. Creating thread, never blocks.
  TKzFFMpegEncode(void* Owner, const std::string& FileName, int32_t FramePerSec);
  ~TKzFFMpegEncode() override;

  // The engine to configure before Run; nullptr without FFmpeg.
  TKzMFFMPEG* FFMpeg() { return FFMpeg_.get(); }
  // Opens the file and starts the thread. With DeferOpen (size taken from
  // the first picture) the thread opens it when the first picture arrives or
  // two seconds after the start, whichever is first. False when the file
  // could not be opened (reported through the engine's OnError). The owner's
  // thread; blocks while the file opens.
  bool Run(bool DeferOpen);
  // Whether the file is open and being written. Any thread.
  bool IsOpened() const { return FOpened.load(std::memory_order_acquire); }
  // Whether the thread runs and has not given up. Any thread.
  bool IsRunning() const { return Started() && !Finished() && !FFailed.load(std::memory_order_acquire); }

  // Producers, any thread, never wait for encoding. Nothing is taken while paused.
  void AddFrame(const TKzMBitmap& Bitmap);
  void AddTrack(const TKzMTrack& Track);
  void AddTrackData(const uint8_t* Data, int32_t Size);
  // Drops the queued audio and picture. Any thread.
  void Clear();
  // Finishes the file and ends the thread; clears the buffers. Owner's thread; blocks.
  void StopMedia();
  void Abort() override;

  std::atomic<bool> Paused{false};
  TKzRecordStats Stats();
  const std::string& OutputFileName() const { return FOutputFileName; }

protected:
  void DoExecute() override;
  void TerminatedSet() override;

private:
  bool OpenFile();
  bool ReadyToOpen(uint64_t Now, uint64_t T0);
  // Moves the queued audio and the newest picture to the encoder's side;
  // false when there is nothing to encode this step. NextDueMs: when the
  // following step is due.
  bool FillVideoFrameAndAudio(uint64_t NextDueMs);
  void NextAudioFragment(uint8_t* Buffer, int32_t& Samples, bool Flush);

  void* Owner;
  int32_t FFramePerSec;
  std::string FOutputFileName;
  std::unique_ptr<TKzMFFMPEG> FFMpeg_;
  bool FDeferOpen = false;
  std::atomic<bool> FOpened{false}, FFailed{false};
  std::atomic<bool> FFirstFrameReceived{false};
  // Under FTempLastFrameLock: a picture waits in TempLastFrame, since when,
  // and when the step that takes it is due (none before the first step).
  bool FNewPicture = false;
  uint64_t FWaitingSinceMs = 0, FTakeDueMs = UINT64_MAX;
  std::mutex FTempTracksLock, FTracksLock, FTempLastFrameLock, FLastFrameLock;
  TKzMTrack TempTracks{1}, Tracks{1};  // interleaved PCM of the incoming format in channel 0
  TKzMBitmap TempLastFrame, LastFrame;
  std::mutex FStatsLock;
  TKzRecordStats FStats;
};

}  // namespace kz
