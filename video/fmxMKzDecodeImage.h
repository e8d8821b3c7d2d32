// The decode thread of a single source: finds JPEG frames in the bytes it is
// handed (live: only the newest complete frame per pass; file mode: every
// frame, paced), or takes raw bitmaps, decodes them and queues the result on
// its draw thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "foundation/fmxMKzTypesThreads.h"
#include "video/Fmxmkzgraphicfuncs.h"
#include "video/fmxMKzDrawImage.h"
#include "video/fmxMKzPipelineThread.h"

namespace kz {

class TKzImageWrapper;

class TKzDecodeImage : public TKzPipelineThread {
public:
  // Producers are held back above this many waiting bytes.
  static constexpr int64_t MaxPendingBytes = 524288;
  // A stream that never completes a frame keeps at most this many bytes.
  static constexpr int64_t MaxDataBytes = 8 * 1024 * 1024;

  // Created suspended, with its draw thread. Owner's thread.
  TKzDecodeImage(TComponent* Owner, TKzConsumerLists& Consumers, const TGUID& GUID);
  ~TKzDecodeImage() override;

  // Hands over bytes (appended) or one raw frame (replacing what waits).
  // A change between the two empties what waits. The fetch thread.
  void CopyFrom(const TMemoryStream& Data, int64_t Size, bool BitmapMode, int32_t BPP, int32_t Width, int32_t Height);
  int64_t PendingBytes();
  // Bytes kept for searching (a partial frame). Any thread.
  int64_t BufferedBytes();
  // File mode decodes every frame, paced; leaving it finishes what waits and
  // then fires OnEndFileDecode. Any thread.
  void SetFileMode(bool Value);
  void SetFramePerSec(double Value);
  double FramePerSec() const { return FFramePerSec.load(); }
  void SetJpegIntegrity(TKzJpegIntegrity Value) { FJpegIntegrity.store(Value); }

  // Starts this thread and its draw thread. Owner's thread.
  void Run();

  // The newest JPEG frame decoded again at full size, when the decoder made
  // it smaller for the views (snapshots want the source's picture); false
  // when the newest frame was decoded at full size already. Any thread;
  // decodes on the caller's thread.
  bool NewestFrameFullSize(TKzMBitmap& Bitmap);

  // A frame cut on the source's thread while no consumer wants pictures:
  // checked, announced and counted as a decoded one would be, never
  // decoded. The source's thread; waits for the main thread at the first
  // frame, so call it holding no lock that the main thread takes.
  void CountFrame(const uint8_t* Frame, size_t Size);

  TKzDrawImage& Paint() { return *FPaint; }
  // The first frame has been announced. Reset by the owner before a start.
  std::atomic<bool> isStartVideo{false};
  std::atomic<bool> IsImgError{false};
  // Main thread (synchronously, the decoder waits): the first frame.
  // Set while the thread is idle (before a start).
  TNotifyEvent OnStartVideo;
  // Decode thread: each decoded frame; all data of a file decoded.
  TNotifyEvent OnFPS;
  TNotifyEvent OnEndFileDecode;
  // Replaces OnEndFileDecode while the thread runs: waits for a pass in
  // progress, so that the old handler is no longer running afterwards.
  // Any thread but the decode thread; blocks while a pass finishes.
  void SetOnEndFileDecode(TNotifyEvent Event);

protected:
  uint32_t Pass() override;
  // Empties what waits and fills the bitmap with opaque black.
  void DoClear() override;

private:
  void DecodeNewest();
  void DecodeAll();
  void DecodeBitmap();
  void Pace();
  void PaceLive();
  // The integrity check and, at the first frame, OnStartVideo; false when
  // the frame fails the check.
  bool Announce(const uint8_t* Frame, size_t Size);
  // OnFPS and the draw thread's frame count, for a frame not decoded.
  void Counted();
  // Decodes Data[Begin, End) as one JPEG frame.
  void LoadJPEGStream(int64_t Begin, int64_t End);
  void TrimUnsearchable();

  TComponent* FOwner;
  TKzDrawImage* FPaint;  // owned; freed through KzMFreeThread

  TCriticalSection FSection;  // guards FTmp and the hand-over mode fields
  TMemoryStream FTmp;
  bool FTmpBitmapMode = false;
  int32_t FTmpBPP = 0, FTmpWidth = 0, FTmpHeight = 0;

  TKzCriticalSection FAccessSection;  // held for a whole pass: FData, FImg, the mode fields
  TMemoryStream FData;
  int64_t FSearched = 0;  // bytes of FData already searched for an end marker
  bool FBitmapMode = false;
  int32_t FBitmapBPP = 0, FBitmapWidth = 0, FBitmapHeight = 0;
  bool FFileMode = false;
  bool FAllFileDataReceived = false;
  std::unique_ptr<TKzImageWrapper> FImg;
  int64_t FUpdateTimeOld = 0;
  int64_t FLiveDueMs = 0;  // when the last live frame was due

  std::mutex FScaledLock;  // guards FScaledFrame
  TMemoryStream FScaledFrame;  // the newest frame's bytes while it was decoded smaller

  std::atomic<double> FFramePerSec{25.0};
  std::atomic<TKzJpegIntegrity> FJpegIntegrity{TKzJpegIntegrity::kzjiNone};
};

}  // namespace kz
