#include "video/fmxMKzMultiDrawImage.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "foundation/fmxMKzGUIDInfo.h"
#include "foundation/fmxMKzImageListMove.h"
#include "foundation/fmxMKzType.h"
#include "video/fmxMKzConsumerOutput.h"
#include "video/fmxMKzImageWrapper.h"

namespace kz {

namespace {

constexpr size_t kMaxSmoothCopies = 64;

int64_t PixelBytes(const TKzImageItem& Item) {
  return static_cast<int64_t>(Item.Image.Width()) * Item.Image.Height() * 4;
}

bool SameQueue(const TKzImageItem& A, const TKzImageItem& B) {
  return A.VideoIndex == B.VideoIndex && A.HeaderPack.GUIDFrom == B.HeaderPack.GUIDFrom;
}

// Local due times of frames for one pass, one registry lookup per source.
// A source whose record has gone (expired, or the registry was emptied) is
// anchored again on the frame, which makes that frame due now.
class TDueTimes {
public:
  int64_t Of(const TKzImageItem& Item) {
    const TGUID& g = Item.HeaderPack.GUIDFrom;
    for (const auto& [guid, times] : FCache)
      if (guid == g) return times.DueTime(Item.StartTime);
    TKzGUIDTimes times;
    if (!GetGUIDInfoTimes(g, times)) times = GetGUIDInfoWithCreate(g, false, Item.StartTime)->Times();
    FCache.emplace_back(g, times);
    return times.DueTime(Item.StartTime);
  }

private:
  std::vector<std::pair<TGUID, TKzGUIDTimes>> FCache;
};

}  // namespace

TKzMultiDrawImage::TKzMultiDrawImage(IKzMultiSourceOwner& Owner, int32_t MaxImageCount, TKzConsumerLists& Consumers)
    : TKzPipelineThread("TKzMultiDrawImage"),
      FOwner(Owner),
      FConsumers(Consumers),
      FSenderImg(std::make_unique<TKzImageWrapper>()),
      FMainFrames(Owner),
      FMaxImageCount(MaxImageCount) {}

TKzMultiDrawImage::~TKzMultiDrawImage() { FImages.ClearAllData(0, 0); }

bool TKzMultiDrawImage::HasConsumers() {
  return FMainFrames.HasImageEvent() || FOwner.HasRegionsHandler() ||
         KzHasListedConsumers(FDisplaySection, FConsumers);
}

TKzDecodeSize TKzMultiDrawImage::WantedDecodeSize() {
  if (FMainFrames.HasImageEvent() || FOwner.HasRegionsHandler()) return TKzDecodeSize::Full();
  return FConsumers.WantedDecodeSize();
}

void TKzMultiDrawImage::Queue(const TKzHeaderPack& Header, const TKzMBitmap& Bitmap, uint16_t VideoIndex,
                              int32_t Client, int64_t StartTime, int64_t DiffTime) {
  if (Bitmap.IsEmpty()) return;
  const int32_t mode = FVideoLatency.load() != 0 ? QueueMode : 1;
  FTmp.AddImageGUID(Header, VideoIndex, Bitmap, Client, StartTime, DiffTime, mode, true, 0);
}

void TKzMultiDrawImage::DrawImages(int32_t Count, const TKzDecodeData* Data) {
  if (Count <= 0 || !Data) return;
  {
    std::lock_guard<TCriticalSection> g(FSection);
    for (int32_t i = Count - 1; i >= 0; --i) {
      const TKzDecodeData& d = Data[i];
      Queue(d.HeaderPack, d.Image, d.VideoIndex, d.hClient, d.StartTime, d.DiffTime);
    }
  }
  Event()->SetEvent();
}

void TKzMultiDrawImage::Draw(const TKzHeaderPack& Header, const TKzMBitmap& Bitmap, uint16_t VideoIndex,
                             int64_t StartTime, int64_t DiffTime, int32_t Client) {
  if (Bitmap.IsEmpty()) return;
  {
    std::lock_guard<TCriticalSection> g(FSection);
    Queue(Header, Bitmap, VideoIndex, Client, StartTime, DiffTime);
  }
  Event()->SetEvent();
}

int32_t TKzMultiDrawImage::QueuedFrames() {
  int32_t n;
  {
    std::lock_guard<TCriticalSection> g(FSection);
    n = FTmp.GetItemCount();
  }
  return n + FImages.GetItemCount();
}

void TKzMultiDrawImage::DoClear() {
  {
    std::lock_guard<TCriticalSection> g(FSection);
    FTmp.ClearAllData(0, 0);
  }
  FImages.ClearAllData(0, 0);
}

uint32_t TKzMultiDrawImage::Pass() {
  TKzSafeLock access(FAccessSection);
  {
    std::lock_guard<TCriticalSection> g(FSection);
    KzMoveImages(FTmp, FImages, FVideoLatency.load() != 0 ? QueueMode : 1);
  }
  {
    TKzSafeLock display(FDisplaySection);
    if (FVideoLatency.load() > 0)
      DisplayDue();
    else
      DisplayAll();
  }
  return NextWait();
}

// Shows, per source and video index, the newest of the frames that are due;
// the older due ones go unseen, frames not yet due wait.
void TKzMultiDrawImage::DisplayDue() {
  FImages.Lock();
  auto& list = FImages.List;
  const int64_t ref = static_cast<int64_t>(KzMGetTickCount()) - FVideoLatency.load();
  TDueTimes due;
  std::vector<int64_t> dueAt(list.size());
  int64_t held = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    dueAt[i] = due.Of(*list[i]);
    held += PixelBytes(*list[i]);
  }
  // Over the bound the oldest waiting frames are due now.
  for (size_t i = 0; i < list.size() && held > FMaxQueuedBytes.load(); ++i) {
    dueAt[i] = std::min(dueAt[i], ref);
    held -= PixelBytes(*list[i]);
  }
  std::vector<std::unique_ptr<TKzImageItem>> done;
  for (size_t i = 0; i < list.size() && !Terminated(); ++i) {
    if (!list[i] || dueAt[i] > ref) continue;
    size_t shown = i;
    for (size_t k = i + 1; k < list.size(); ++k) {
      if (!list[k] || !SameQueue(*list[k], *list[shown])) continue;
      if (dueAt[k] > ref) break;
      done.push_back(std::move(list[shown]));
      shown = k;
    }
    OutputImage(*list[shown]);
    done.push_back(std::move(list[shown]));
  }
  list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
  FImages.Unlock();
  for (auto& item : done) FTmp.Release(std::move(item));
}

void TKzMultiDrawImage::DisplayAll() {
  std::vector<std::unique_ptr<TKzImageItem>> done;
  FImages.Lock();
  for (size_t i = 0; i < FImages.List.size() && !Terminated(); ++i) OutputImage(*FImages.List[i]);
  done.swap(FImages.List);
  FImages.Unlock();
  for (auto& item : done) FTmp.Release(std::move(item));
}

// Until the earliest waiting frame is due; without limit when none waits.
uint32_t TKzMultiDrawImage::NextWait() {
  FImages.Lock();
  uint32_t wait = KzWaitForever;
  if (!FImages.List.empty()) {
    const int64_t ref = static_cast<int64_t>(KzMGetTickCount()) - FVideoLatency.load();
    TDueTimes due;
    int64_t first = INT64_MAX;
    for (const auto& item : FImages.List) first = std::min(first, due.Of(*item));
    const int64_t left = first - ref;
    wait = left > 0 ? static_cast<uint32_t>(std::min<int64_t>(left, KzWaitForever - 1)) : 0;
  }
  FImages.Unlock();
  return wait;
}

std::unique_ptr<TKzImageWrapper>& TKzMultiDrawImage::SmoothOf(const TGUID& GUIDFrom, uint16_t VideoIndex) {
  for (TSmooth& s : FSmooth)
    if (s.VideoIndex == VideoIndex && s.GUIDFrom == GUIDFrom) return s.Img;
  if (FSmooth.size() >= kMaxSmoothCopies) FSmooth.erase(FSmooth.begin());
  FSmooth.push_back({GUIDFrom, VideoIndex, nullptr});
  return FSmooth.back().Img;
}

void TKzMultiDrawImage::OutputImage(TKzImageItem& Item) {
  const TGUID& from = Item.HeaderPack.GUIDFrom;
  try {
    Item.Image.UpdateBitmap();
    const bool smooth = FSmoothImage.load();
    std::unique_ptr<TKzImageWrapper> none;
    std::unique_ptr<TKzImageWrapper>& smoothImg = smooth ? SmoothOf(from, Item.VideoIndex) : none;
    TKzMBitmap& frame = KzPrepareOutputFrame(Item.Image, smooth, smoothImg, FRotation.load());
    std::shared_ptr<TKzMotionDetector> regions;
    if (FOwner.HasRegionsHandler()) regions = FOwner.MotionStep(frame, from, Item.VideoIndex);
    FMainFrames.Post(frame, Item.hClient, Item.HeaderPack, Item.VideoIndex, std::move(regions));
    KzHandToConsumers(FOwner.OwnerComponent(), FConsumers, frame, false, Item.VideoIndex, from, smoothImg.get(),
                      *FSenderImg);
    ++FDrawn;
  } catch (const std::exception& e) {
    KzPostMessageDebug(FOwner.OwnerComponent(), DATA_TYPE_VIDEO, std::string("frame output failed: ") + e.what());
  }
}

}  // namespace kz
