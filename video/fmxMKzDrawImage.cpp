#include "video/fmxMKzDrawImage.h"

#include "platform/fmxMKzPlatformMainThread.h"

#include <algorithm>

#include "foundation/fmxMKzGUIDInfo.h"
#include "foundation/fmxMKzImageListMove.h"
#include "foundation/fmxMKzType.h"
#include "video/Fmxmkzgraphicfuncs.h"
#include "video/fmxMKzConsumerOutput.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzImageWrapper.h"

namespace kz {

namespace {
constexpr int32_t kQueueMode = 50;  // frames kept per source while a latency applies
constexpr int64_t kMinPause = 11;   // pacing never sleeps for less
}  // namespace

TKzDrawImage::TKzDrawImage(TComponent* Owner, const TGUID& GUID, TKzConsumerLists& Consumers)
    : TKzPipelineThread("TKzDrawImage"),
      FOwner(Owner),
      FConsumers(Consumers),
      FGUID(IsNull(GUID) ? KzCreateGUID() : GUID),
      FSenderImg(std::make_unique<TKzImageWrapper>()),
      FMainFrames(Owner),
      FDrawStartTime(static_cast<int64_t>(KzMGetTickCount())) {
  FHeader.GUIDFrom = FGUID;
  FLastTickCount = FDrawStartTime;
}

TKzDrawImage::~TKzDrawImage() { FImages.ClearAllData(0, 0); }

void TKzDrawImage::SetMotionStep(TKzMotionStep Step) {
  std::lock_guard<std::mutex> g(FMotionLock);
  FMotionStep = std::move(Step);
}

int64_t TKzDrawImage::GetStartTime() { return static_cast<int64_t>(KzMGetTickCount()) - FDrawStartTime; }

int64_t TKzDrawImage::GetDiffTime() {
  const int64_t now = static_cast<int64_t>(KzMGetTickCount());
  std::lock_guard<std::mutex> g(FTimeLock);
  int64_t diff = now - FLastTickCount;
  FLastTickCount = now;
  return diff > 1000 ? 0 : diff;
}

bool TKzDrawImage::HasConsumers() {
  return HasImageEvents() || KzHasListedConsumers(FDisplaySection, FConsumers);
}

TKzDecodeSize TKzDrawImage::WantedDecodeSize() {
  if (HasImageEvents() || FRecording.load()) return TKzDecodeSize::Full();
  {
    std::lock_guard<std::mutex> g(FMotionLock);
    if (FMotionStep && FOnGetRegions) return TKzDecodeSize::Full();
  }
  return FConsumers.WantedDecodeSize();
}

void TKzDrawImage::AddToBuffer(const TKzMBitmap& Bitmap, double Pts) { Queue(Bitmap, nullptr, Pts); }

void TKzDrawImage::AddToBufferSwap(TKzMBitmap& Bitmap, double Pts) { Queue(Bitmap, &Bitmap, Pts); }

void TKzDrawImage::Queue(const TKzMBitmap& Bitmap, TKzMBitmap* Swap, double Pts) {
  if (Bitmap.IsEmpty()) return;
  {
    std::lock_guard<TCriticalSection> g(FSection);
    FHasTmpImg = true;
    FNewestQueued = true;  // snapshots read it from the queue, no copy here
    const int32_t mode = FLatency.load() != 0 ? kQueueMode : 1;
    if (Swap != nullptr)
      FTmp.SwapImageGUID(FHeader, 0, *Swap, 0, GetStartTime(), GetDiffTime(), mode, false, Pts);
    else
      FTmp.AddImageGUID(FHeader, 0, Bitmap, 0, GetStartTime(), GetDiffTime(), mode, false, Pts);
  }
  Event()->SetEvent();
}

void TKzDrawImage::OutputImageProtected(const TKzMBitmap& Bitmap, double Pts) {
  if (Bitmap.IsEmpty()) return;
  const TOutputSettings settings = CurrentSettings();
  SetSnapshot(Bitmap, nullptr, Pts);
  TKzSafeLock g(FDisplaySection);
  FProtectedFrame.AssignKzMBitmap(Bitmap);  // same size as the last time: no allocation
  OutputImage(FProtectedFrame, GetDiffTime(), Pts, settings);
}

void TKzDrawImage::OutputImageSwap(TKzMBitmap& Bitmap, double Pts) {
  if (Bitmap.IsEmpty()) return;
  const TOutputSettings settings = CurrentSettings();
  {
    TKzSafeLock g(FDisplaySection);
    // Consumers copy what they keep, so the frame itself goes out unless
    // output changes it (the snapshot stays as it came).
    TKzMBitmap* frame = &Bitmap;
    if (settings.ChangesFrame()) {
      FProtectedFrame.AssignKzMBitmap(Bitmap);
      frame = &FProtectedFrame;
    }
    OutputImage(*frame, GetDiffTime(), Pts, settings);
  }
  SetSnapshot(Bitmap, &Bitmap, Pts);
}

void TKzDrawImage::SetSnapshot(const TKzMBitmap& Bitmap, TKzMBitmap* Swap, double Pts) {
  std::lock_guard<TCriticalSection> g(FSection);
  if (Swap && FTmpImg.Width() == Bitmap.Width() && FTmpImg.Height() == Bitmap.Height())
    FTmpImg.SwapPixels(*Swap);
  else
    FTmpImg.AssignKzMBitmap(Bitmap);
  FTmpImgPts = Pts;
  FHasTmpImg = true;
  FNewestQueued = false;
  FLent = nullptr;
}

void TKzDrawImage::SetFileInfo(const std::string& FileName, bool ToFile) {
  TKzSafeLock g(FFileSection);
  FFileName = FileName;
  FToFile = ToFile;
  if (!ToFile) {
    FFile.reset();
  } else if (!FFile && !FileName.empty()) {
    auto file = std::make_unique<TFileStream>(FileName, TFileMode::fmCreate);
    if (file->Valid()) FFile = std::move(file);
  }
  FRecording.store(FFile != nullptr);
}

// The newest frame handed in is the last one queued, else the one lent to
// the draw thread, else the snapshot copy. Caller holds the image lock and
// FTmp's lock.
const TKzImageItem* TKzDrawImage::NewestQueued() const {
  if (!FNewestQueued) return nullptr;
  if (!FTmp.List.empty()) return FTmp.List.back().get();
  return FLent;
}

bool TKzDrawImage::GetCurrentImage(TKzMBitmap& Bitmap, double& Pts) {
  std::lock_guard<TCriticalSection> g(FSection);
  if (!FHasTmpImg) return false;
  FTmp.Lock();
  const TKzImageItem* queued = NewestQueued();
  Bitmap.AssignKzMBitmap(queued ? queued->Image : FTmpImg);
  Pts = queued ? queued->Pts : FTmpImgPts;
  FTmp.Unlock();
  RotateImg(Bitmap, FRotation.load());
  return true;
}

void TKzDrawImage::TakeBackSnapshot() {
  std::lock_guard<TCriticalSection> g(FSection);
  if (!FLent) return;
  FTmpImg.SwapPixels(FLent->Image);
  FTmpImgPts = FLent->Pts;
  FLent = nullptr;
}

std::unique_ptr<TKzImageWrapper> TKzDrawImage::GetSnapShot(double& Pts) {
  auto wrapper = std::make_unique<TKzImageWrapper>();
  if (!GetCurrentImage(wrapper->GetBitmap(), Pts)) return nullptr;
  return wrapper;
}

void TKzDrawImage::DoClear() {
  {
    std::lock_guard<TCriticalSection> g(FSection);
    FTmp.Lock();
    if (const TKzImageItem* queued = NewestQueued()) {  // the snapshot outlives the queue
      FTmpImg.AssignKzMBitmap(queued->Image);
      FTmpImgPts = queued->Pts;
    }
    FNewestQueued = false;
    FLent = nullptr;
    FTmp.Unlock();
    FTmp.ClearAllData(0, 0);
  }
  FImages.ClearAllData(0, 0);
}

uint32_t TKzDrawImage::Pass() {
  const TOutputSettings settings = CurrentSettings();
  {
    std::lock_guard<TCriticalSection> g(FSection);
    KzMoveImages(FTmp, FImages, FLatency.load() != 0 ? kQueueMode : 1);
    // The newest frame is lent to snapshots while it is output unchanged;
    // a frame that output changes leaves a copy behind instead.
    FImages.Lock();
    if (FNewestQueued && !FImages.List.empty()) {
      TKzImageItem* newest = FImages.List.back().get();
      if (settings.ChangesFrame()) {
        FTmpImg.AssignKzMBitmap(newest->Image);
        FTmpImgPts = newest->Pts;
        FNewestQueued = false;
      } else {
        FLent = newest;
      }
    }
    FImages.Unlock();
  }
  size_t leftOut;
  {
    TKzSafeLock display(FDisplaySection);
    leftOut = OutputQueued(settings);
  }
  const uint32_t wait = NextWait(leftOut);
  TakeBackSnapshot();
  RecycleImages();
  return wait;
}

void TKzDrawImage::RecycleImages() {
  std::vector<std::unique_ptr<TKzImageItem>> done;
  FImages.Lock();
  done.swap(FImages.List);
  FImages.Unlock();
  for (auto& item : done) FTmp.Release(std::move(item));
}

// Outputs the frames within Latency of the newest (all of them without a
// latency), oldest first.
size_t TKzDrawImage::OutputQueued(const TOutputSettings& Settings) {
  FImages.Lock();
  auto& list = FImages.List;
  size_t first = 0;
  const int32_t latency = FLatency.load();
  if (latency >= 1)
    first = list.size() - KzFramesWithinLatency(list.size(), latency,
                                                [&](size_t i) { return list[list.size() - 1 - i]->DiffTime; });
  for (size_t i = first; i < list.size() && !Terminated(); ++i)
    OutputImage(list[i]->Image, list[i]->DiffTime, list[i]->Pts, Settings);
  FImages.Unlock();
  return first;
}

uint32_t TKzDrawImage::NextWait(size_t LeftOut) {
  FImages.Lock();
  uint32_t wait = KzWaitForever;
  if (LeftOut > 0 && !FImages.List.empty()) {
    TKzGUIDTimes times;
    if (GetGUIDInfoTimes(FGUID, times)) {
      const int64_t now = static_cast<int64_t>(KzMGetTickCount());
      const int64_t left = times.DueTime(FImages.List.front()->StartTime) - (now - FLatency.load());
      wait = left > 0 ? static_cast<uint32_t>(std::min<int64_t>(left, KzWaitForever - 1)) : 0;
    }
  }
  FImages.Unlock();
  return wait;
}

TKzDrawImage::TOutputSettings TKzDrawImage::CurrentSettings() {
  TOutputSettings s;
  s.Smooth = FSmoothImage.load();
  s.Rotation = FRotation.load();
  std::lock_guard<std::mutex> g(FMotionLock);
  if (FMotionStep && FOnGetRegions) {
    s.MotionStep = FMotionStep;
    s.OnGetRegions = FOnGetRegions;
  }
  return s;
}

void TKzDrawImage::OutputImage(TKzMBitmap& Bitmap, int64_t DiffTime, double Pts, const TOutputSettings& Settings) {
  TKzMBitmap* frame = &KzPrepareOutputFrame(Bitmap, Settings.Smooth, FSmoothImg, Settings.Rotation);
  DetectMotion(*frame, Settings);
  RecordFrame(*frame);

  const int64_t now = static_cast<int64_t>(KzMGetTickCount());
  const int64_t elapsed = now - FLastTickDraw;
  const int64_t remaining = DiffTime / 2 - elapsed;
  if (FLatency.load() > 0 && remaining >= kMinPause && elapsed < DiffTime)
    SleepUnlessTerminated(static_cast<uint32_t>(remaining));
  FLastTickDraw = static_cast<int64_t>(KzMGetTickCount());

  HandToConsumers(*frame, Pts);
}

void TKzDrawImage::SetOnGetRegions(TKzGetRegionsEvent Event) {
  std::lock_guard<std::mutex> g(FMotionLock);
  FOnGetRegions = std::move(Event);
}

void TKzDrawImage::DetectMotion(TKzMBitmap& Frame, const TOutputSettings& Settings) {
  if (!Settings.MotionStep) return;
  if (TKzMotionDetector* detector = Settings.MotionStep(Frame))
    Synchronize([&] { Settings.OnGetRegions(FOwner, Frame, *detector); });
}

void TKzDrawImage::RecordFrame(const TKzMBitmap& Frame) {
  TKzSafeLock g(FFileSection);
  if (FFile && !SaveToStreamMJPEG(*FFile, Frame)) FFile.reset();  // a full disk ends recording, not the stream
}

void TKzDrawImage::CountFrame() {
  int32_t index = FLastFrameIndex.load();
  while (!FLastFrameIndex.compare_exchange_weak(index, index >= 0x7FFFFFFE ? 0 : index + 1)) {
  }
  FLastFrameTick = static_cast<int64_t>(KzMGetTickCount());
}

void TKzDrawImage::HandToConsumers(TKzMBitmap& Frame, double Pts) {
  CountFrame();
  FMainFrames.Post(Frame, Pts);
  KzHandToConsumers(FOwner, FConsumers, Frame, true, 0, FGUID, FSmoothImg.get(),
                    *FSenderImg);
}

}  // namespace kz
