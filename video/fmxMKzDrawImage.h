// The draw thread of a single source: takes decoded frames, optionally
// delays and paces them (Latency), smooths, rotates, runs motion detection,
// records Motion-JPEG, and hands a copy of each frame to every registered
// consumer and to the owner's image events (on the main thread).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/fmxMKzBitmapFilters.h"
#include "foundation/fmxMKzImageList.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "video/fmxMKzConsumers.h"
#include "video/fmxMKzMainThreadFrames.h"
#include "video/fmxMKzPipelineThread.h"
#include "video/fmxMKzVideoEvents.h"

namespace kz {

class TKzImageWrapper;

// Motion detection for one output frame: runs the detector on Frame (and
// updates its reference image); returns the detector whose regions the
// owner's regions event should see, or null when nothing is to be reported.
// Runs on the draw thread.
using TKzMotionStep = std::function<TKzMotionDetector*(TKzMBitmap& Frame)>;

class TKzDrawImage : public TKzPipelineThread {
public:
  // Created suspended. A null GUID gets a fresh identity so that every
  // source keeps its own timing record. Owner's thread.
  TKzDrawImage(TComponent* Owner, const TGUID& GUID, TKzConsumerLists& Consumers);
  ~TKzDrawImage() override;

  // Queues a frame (mode 1 when Latency is 0: the newest replaces the one
  // waiting; else up to 50 wait). Empty bitmaps are ignored. Any thread.
  void AddToBuffer(const TKzMBitmap& Bitmap, double Pts);
  // The same, but the frame's pixels are handed over instead of copied:
  // Bitmap comes back holding the pixels of an earlier frame (or empty),
  // ready to be overwritten by the next one. Any thread.
  void AddToBufferSwap(TKzMBitmap& Bitmap, double Pts);
  // Outputs a finished frame at once under the display lock (Latency 0
  // sources that decode elsewhere). The calling (decoding) thread.
  void OutputImageProtected(const TKzMBitmap& Bitmap, double Pts);
  // The same, but the frame's pixels become the snapshot instead of being
  // copied: Bitmap comes back, at its own size, holding an earlier frame's
  // pixels, ready to be overwritten by the next one. The calling (decoding) thread.
  void OutputImageSwap(TKzMBitmap& Bitmap, double Pts);
  // Starts or stops Motion-JPEG recording of the output frames. Any thread.
  void SetFileInfo(const std::string& FileName, bool ToFile);
  // The newest frame handed in, rotated, and its pts; false when there is
  // none. Any thread.
  bool GetCurrentImage(TKzMBitmap& Bitmap, double& Pts);
  std::unique_ptr<TKzImageWrapper> GetSnapShot(double& Pts);
  // Milliseconds since creation; milliseconds since the previous call (0
  // when more than 1000). Any thread.
  int64_t GetStartTime();
  int64_t GetDiffTime();

  // The image lock (queue and snapshot) and the display lock (held while
  // frames go to consumers). Any thread; the display lock with SafeEnter.
  void LockImage() { FSection.Enter(); }
  void UnlockImage() { FSection.Leave(); }
  void LockDisplay() { FDisplaySection.SafeEnter(); }
  void UnlockDisplay() { FDisplaySection.Leave(); }

  void Run() { StartThread(this); }

  // Settings; any thread.
  void SetOnGetImage(TKzImageEvent Event) { FMainFrames.SetOnGetImage(std::move(Event)); }
  void SetOnGetImageEx(TKzImageEventEx Event) { FMainFrames.SetOnGetImageEx(std::move(Event)); }
  // The regions event runs on the main thread while the draw thread waits,
  // so the detector's regions stay as they are for the handler.
  void SetOnGetRegions(TKzGetRegionsEvent Event);
  void SetMotionStep(TKzMotionStep Step);
  bool HasImageEvents() const { return FMainFrames.HasEvents(); }
  bool SmoothImage() const { return FSmoothImage.load(); }
  void SetSmoothImage(bool Value) { FSmoothImage.store(Value); }
  TKzRotation Rotation() const { return FRotation.load(); }
  void SetRotation(TKzRotation Value) { FRotation.store(Value); }
  int32_t Latency() const { return FLatency.load(); }
  void SetLatency(int32_t Value) { FLatency.store(Value); }
  const TGUID& GUID() const { return FGUID; }
  // Number and tick count of the last frame output (0 before the first).
  int32_t LastFrameIndex() const { return FLastFrameIndex.load(); }
  int64_t LastFrameTickCount() const { return FLastFrameTick.load(); }
  // Counts a frame as output: the draw thread for every frame it hands on,
  // the decoder for frames nobody wanted as pictures. Any thread.
  void CountFrame();
  // Whether anybody consumes frames (events or consumers). Any thread.
  bool HasConsumers();
  // The size the next frame should be decoded at: full for the image
  // events, motion detection and Motion-JPEG recording (they work on the
  // source's picture), else what the consumers ask for. Any thread; blocks
  // only for a change of the consumer lists.
  TKzDecodeSize WantedDecodeSize();
  TKzConsumerLists& Consumers() { return FConsumers; }

protected:
  uint32_t Pass() override;
  // Frees every queued frame.
  void DoClear() override;

private:
  // AddToBuffer's body; Swap (the same bitmap) hands its pixels over.
  void Queue(const TKzMBitmap& Bitmap, TKzMBitmap* Swap, double Pts);
  // Makes Bitmap the snapshot of a frame output at once; Swap (the same
  // bitmap) hands its pixels over when the size allows.
  void SetSnapshot(const TKzMBitmap& Bitmap, TKzMBitmap* Swap, double Pts);
  // What output does to a frame, read once per pass.
  struct TOutputSettings {
    bool Smooth = false;
    TKzRotation Rotation = TKzRotation::kzrNone;
    TKzMotionStep MotionStep;  // both set, or both empty
    TKzGetRegionsEvent OnGetRegions;
    // Rotation in place and the regions handler change the frame itself.
    bool ChangesFrame() const { return (Rotation != TKzRotation::kzrNone && !Smooth) || MotionStep; }
  };
  TOutputSettings CurrentSettings();
  // Returns how many of the queued frames were left out (older than the
  // latency allows).
  size_t OutputQueued(const TOutputSettings& Settings);
  // Hands the output frames back to the queue, whose next frames reuse their pixels.
  void RecycleImages();
  // The wait before the next pass: until the first frame left out is due
  // (forever when every frame was output).
  uint32_t NextWait(size_t LeftOut);
  void OutputImage(TKzMBitmap& Bitmap, int64_t DiffTime, double Pts, const TOutputSettings& Settings);
  void DetectMotion(TKzMBitmap& Frame, const TOutputSettings& Settings);
  const TKzImageItem* NewestQueued() const;
  // After output: the lent frame's pixels become the snapshot.
  void TakeBackSnapshot();
  void HandToConsumers(TKzMBitmap& Frame, double Pts);
  void RecordFrame(const TKzMBitmap& Frame);

  TComponent* FOwner;
  TKzConsumerLists& FConsumers;
  TGUID FGUID;
  TKzHeaderPack FHeader;  // GUIDFrom := FGUID, the rest zero

  TCriticalSection FSection;  // the image lock: FTmp, the snapshot fields below
  TKzImageList FTmp;
  TKzMBitmap FTmpImg;  // the snapshot when the newest frame is not queued or lent
  double FTmpImgPts = 0;
  bool FHasTmpImg = false;
  bool FNewestQueued = false;       // the newest frame handed in went through FTmp
  TKzImageItem* FLent = nullptr;    // that frame, while the draw thread outputs it

  TKzCriticalSection FDisplaySection;  // the display lock: output and the consumer lists
  TKzImageList FImages;                 // taken by the draw thread only
  TKzMBitmap FProtectedFrame;           // output copy of frames output at once, under the display lock
  std::unique_ptr<TKzImageWrapper> FSenderImg;
  std::unique_ptr<TKzImageWrapper> FSmoothImg;

  std::atomic<bool> FRecording{false};  // FFile is open
  TKzCriticalSection FFileSection;  // guards FFile, FFileName, FToFile
  std::unique_ptr<TFileStream> FFile;
  std::string FFileName;
  bool FToFile = false;

  std::mutex FMotionLock;  // guards FMotionStep, FOnGetRegions
  TKzMotionStep FMotionStep;
  TKzGetRegionsEvent FOnGetRegions;

  TKzMainThreadFrames FMainFrames;
  std::atomic<bool> FSmoothImage{false};
  std::atomic<TKzRotation> FRotation{TKzRotation::kzrNone};
  std::atomic<int32_t> FLatency{0};
  std::atomic<int32_t> FLastFrameIndex{0};
  std::atomic<int64_t> FLastFrameTick{0};

  std::mutex FTimeLock;  // guards FLastTickCount
  int64_t FLastTickCount = 0;
  int64_t FLastTickDraw = 0;  // draw thread only
  const int64_t FDrawStartTime;
};

}  // namespace kz
