// The draw thread of a multi-source pipeline: keeps one timeline per sender
// and video index. Each frame is shown VideoLatency ms after its sender's
// timestamp maps to local time (the process-wide timing registry), newest
// due frame per source first; then it is smoothed, rotated, run through the
// owner's motion detection and handed to every consumer, and the image
// event and regions reach the main thread.
//
// The frames waiting out VideoLatency are decoded pictures; their pixels
// together are held under MaxQueuedBytes: above it the oldest waiting
// frames count as due, so a source catches up (its newest such frame shown)
// rather than many sources of large pictures filling memory.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/fmxMKzBitmapFilters.h"
#include "foundation/fmxMKzImageList.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "video/fmxMKzConsumers.h"
#include "video/fmxMKzMultiMainThreadFrames.h"
#include "video/fmxMKzMultiSourceOwner.h"
#include "video/fmxMKzPipelineThread.h"

namespace kz {

class TKzImageWrapper;

class TKzMultiDrawImage : public TKzPipelineThread {
public:
  // Frames kept per source and video index while a latency applies.
  static constexpr int32_t QueueMode = 50;
  // Pixel bytes of the waiting frames of all sources, at most (default).
  static constexpr int64_t DefaultMaxQueuedBytes = 512 << 20;

  // Created suspended. Owner's thread.
  TKzMultiDrawImage(IKzMultiSourceOwner& Owner, int32_t MaxImageCount, TKzConsumerLists& Consumers);
  ~TKzMultiDrawImage() override;

  // Queues the first Count frames of Data (slot 0 the newest), oldest first,
  // anchoring each source's timeline on their timestamps; empty bitmaps are
  // skipped. With VideoLatency 0 a frame replaces the one waiting for its
  // source. The decode thread.
  void DrawImages(int32_t Count, const TKzDecodeData* Data);
  // Queues one finished frame decoded elsewhere. Any thread.
  void Draw(const TKzHeaderPack& Header, const TKzMBitmap& Bitmap, uint16_t VideoIndex, int64_t StartTime,
            int64_t DiffTime, int32_t Client);
  // Whether anybody takes frames (image event, regions, consumers). Any thread, never blocks.
  bool HasConsumers();
  // The size the next frame should be decoded at: full for the image event
  // and motion regions, else what the consumers ask for. Any thread; blocks
  // only for a change of the consumer lists.
  TKzDecodeSize WantedDecodeSize();
  TKzConsumerLists& Consumers() { return FConsumers; }

  // The display lock, held while frames go to consumers; owners change the
  // consumer lists under it. Any thread (main: SafeEnter).
  void LockDisplay() { FDisplaySection.SafeEnter(); }
  void UnlockDisplay() { FDisplaySection.Leave(); }

  void Run() { StartThread(this); }

  // Settings; any thread.
  void SetOnGetImage(TKzGetImageEvent Event) { FMainFrames.SetOnGetImage(std::move(Event)); }
  uint32_t VideoLatency() const { return FVideoLatency.load(); }
  void SetVideoLatency(uint32_t Value) { FVideoLatency.store(Value); }
  TKzRotation Rotation() const { return FRotation.load(); }
  void SetRotation(TKzRotation Value) { FRotation.store(Value); }
  bool SmoothImage() const { return FSmoothImage.load(); }
  void SetSmoothImage(bool Value) { FSmoothImage.store(Value); }
  int64_t MaxQueuedBytes() const { return FMaxQueuedBytes.load(); }
  void SetMaxQueuedBytes(int64_t Value) { FMaxQueuedBytes.store(Value); }
  int32_t MaxImageCount() const { return FMaxImageCount.load(); }
  void SetMaxImageCount(int32_t Value) { FMaxImageCount.store(Value); }
  // Frames handed to consumers so far; queued frames. Any thread.
  uint64_t DrawnFrames() const { return FDrawn.load(); }
  int32_t QueuedFrames();

protected:
  uint32_t Pass() override;
  // Frees every queued frame.
  void DoClear() override;

private:
  void DisplayDue();
  void DisplayAll();
  uint32_t NextWait();
  void OutputImage(TKzImageItem& Item);
  void Queue(const TKzHeaderPack& Header, const TKzMBitmap& Bitmap, uint16_t VideoIndex, int32_t Client,
             int64_t StartTime, int64_t DiffTime);
  std::unique_ptr<TKzImageWrapper>& SmoothOf(const TGUID& GUIDFrom, uint16_t VideoIndex);

  IKzMultiSourceOwner& FOwner;
  TKzConsumerLists& FConsumers;

  TCriticalSection FSection;  // guards FTmp
  TKzImageList FTmp;

  TKzCriticalSection FAccessSection;   // held for one pass: FImages, FSmooth, FSenderImg
  TKzCriticalSection FDisplaySection;  // held while frames go out; guards the consumer lists
  TKzImageList FImages;
  std::unique_ptr<TKzImageWrapper> FSenderImg;
  struct TSmooth {
    TGUID GUIDFrom;
    uint16_t VideoIndex;
    std::unique_ptr<TKzImageWrapper> Img;
  };
  std::vector<TSmooth> FSmooth;

  TKzMultiMainThreadFrames FMainFrames;
  std::atomic<uint32_t> FVideoLatency{1000};
  std::atomic<TKzRotation> FRotation{TKzRotation::kzrNone};
  std::atomic<bool> FSmoothImage{false};
  std::atomic<int32_t> FMaxImageCount;
  std::atomic<int64_t> FMaxQueuedBytes{DefaultMaxQueuedBytes};
  std::atomic<uint64_t> FDrawn{0};
};

}  // namespace kz
