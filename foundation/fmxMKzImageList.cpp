#include "foundation/fmxMKzImageList.h"

#include "foundation/fmxMKzGUIDInfo.h"

namespace kz {

TKzImageList::~TKzImageList() = default;

void TKzImageList::Lock() {
  FCriticalSection.SafeEnter();
  LockCount.fetch_add(1, std::memory_order_acq_rel);
}

void TKzImageList::Unlock() {
  LockCount.fetch_sub(1, std::memory_order_acq_rel);
  FCriticalSection.Leave();
}

int32_t TKzImageList::GetItemCount() {
  TKzSafeLock g(FCriticalSection);
  return static_cast<int32_t>(List.size());
}

int32_t TKzImageList::IndexOf(const TGUID& GUIDFrom) const {
  for (size_t i = 0; i < List.size(); ++i)
    if (List[i]->HeaderPack.GUIDFrom == GUIDFrom) return static_cast<int32_t>(i);
  return -1;
}

int32_t TKzImageList::IndexOf(const TGUID& GUIDFrom, uint16_t VideoIndex) const {
  for (size_t i = 0; i < List.size(); ++i)
    if (List[i]->VideoIndex == VideoIndex && List[i]->HeaderPack.GUIDFrom == GUIDFrom) return static_cast<int32_t>(i);
  return -1;
}

void TKzImageList::Recycle(TItemPtr Item) {
  if (FSpares.size() < MaxSpareItems) FSpares.push_back(std::move(Item));
}

void TKzImageList::Release(TItemPtr Item) {
  TKzSafeLock g(FCriticalSection);
  Recycle(std::move(Item));
}

void TKzImageList::TFrameSource::Into(TKzMBitmap& Image) const {
  if (Swap != nullptr) {
    Image.SwapPixels(*Swap);
  } else {
    Image.AssignKzMBitmap(*Copy);
    Image.UpdateTime = Copy->UpdateTime;
  }
}

TKzImageList::TItemPtr TKzImageList::MakeItem(const TKzHeaderPack& Header, uint16_t VideoIndex,
                                              const TFrameSource& Frame, int32_t hClient, int64_t StartTime,
                                              int64_t DiffTime, double Pts) {
  TItemPtr item;
  {
    TKzSafeLock g(FCriticalSection);
    if (!FSpares.empty()) {
      item = std::move(FSpares.back());
      FSpares.pop_back();
    }
  }
  if (!item) item = std::make_unique<TKzImageItem>();
  item->HeaderPack = Header;
  Frame.Into(item->Image);
  item->hClient = hClient;
  item->StartTime = StartTime;
  item->DiffTime = DiffTime;
  item->VideoIndex = VideoIndex;
  item->Pts = Pts;
  return item;
}

TKzImageItem* TKzImageList::AddImageGUID(const TKzHeaderPack& Header, uint16_t VideoIndex, const TKzMBitmap& Bitmap,
                                         int32_t hClient, int64_t StartTime, int64_t DiffTime, int32_t Mode,
                                         bool UpdateTime, double Pts) {
  return Add(Header, VideoIndex, {&Bitmap, nullptr}, hClient, StartTime, DiffTime, Mode, UpdateTime, Pts);
}

TKzImageItem* TKzImageList::SwapImageGUID(const TKzHeaderPack& Header, uint16_t VideoIndex, TKzMBitmap& Bitmap,
                                          int32_t hClient, int64_t StartTime, int64_t DiffTime, int32_t Mode,
                                          bool UpdateTime, double Pts) {
  return Add(Header, VideoIndex, {nullptr, &Bitmap}, hClient, StartTime, DiffTime, Mode, UpdateTime, Pts);
}

TKzImageItem* TKzImageList::Add(const TKzHeaderPack& Header, uint16_t VideoIndex, const TFrameSource& Frame,
                                int32_t hClient, int64_t StartTime, int64_t DiffTime, int32_t Mode, bool UpdateTime,
                                double Pts) {
  const auto overwrite = [&](TKzImageItem& Item) {
    Item.hClient = hClient;
    Item.StartTime = StartTime;
    Item.DiffTime = DiffTime;
    Item.Pts = Pts;
    Frame.Into(Item.Image);
    return &Item;
  };
  if (Mode == 1) {
    TKzSafeLock g(FCriticalSection);
    const int32_t i = IndexOf(Header.GUIDFrom, VideoIndex);
    if (i >= 0) return overwrite(*List[i]);
  }
  TItemPtr item = MakeItem(Header, VideoIndex, Frame, hClient, StartTime, DiffTime, Pts);
  TKzImageItem* result;
  {
    TKzSafeLock g(FCriticalSection);
    if (Mode == 1) {
      // Another writer may have queued a frame of this source meanwhile.
      const int32_t i = IndexOf(Header.GUIDFrom, VideoIndex);
      if (i >= 0) {
        if (Frame.Swap != nullptr) {
          // The caller's frame went into the new item: that one replaces the waiting one.
          std::swap(List[i], item);
          Recycle(std::move(item));
          return List[i].get();
        }
        Recycle(std::move(item));
        return overwrite(*List[i]);
      }
    } else {
      int32_t count = 0, oldest = -1;
      for (size_t i = 0; i < List.size(); ++i) {
        if (List[i]->VideoIndex != VideoIndex || List[i]->HeaderPack.GUIDFrom != Header.GUIDFrom) continue;
        if (oldest < 0) oldest = static_cast<int32_t>(i);
        if (++count > Mode) {
          DeleteIndex(oldest);
          break;
        }
      }
    }
    List.push_back(std::move(item));
    result = List.back().get();
  }
  GetGUIDInfoWithCreate(Header.GUIDFrom, UpdateTime, StartTime);
  return result;
}

TKzImageItem* TKzImageList::AddGUID(const TKzHeaderPack& Header, uint16_t VideoIndex, const TKzMBitmap& Bitmap,
                                    int32_t hClient, int64_t StartTime, int64_t DiffTime, bool UpdateTime,
                                    double Pts) {
  TItemPtr item = MakeItem(Header, VideoIndex, {&Bitmap, nullptr}, hClient, StartTime, DiffTime, Pts);
  TKzImageItem* result;
  {
    TKzSafeLock g(FCriticalSection);
    List.push_back(std::move(item));
    result = List.back().get();
  }
  GetGUIDInfoWithCreate(Header.GUIDFrom, UpdateTime, StartTime);
  return result;
}

TKzImageItem* TKzImageList::GetGUID(const TKzHeaderPack& Header, uint16_t VideoIndex) {
  TKzSafeLock g(FCriticalSection);
  const int32_t i = IndexOf(Header.GUIDFrom, VideoIndex);
  return i >= 0 ? List[i].get() : nullptr;
}

void TKzImageList::ClearData(const TKzHeaderPack& Header) {
  TKzSafeLock g(FCriticalSection);
  const int32_t i = IndexOf(Header.GUIDFrom);
  if (i < 0) return;
  TKzImageItem& item = *List[i];
  item.Image.FillData(0xFF);
  item.StartTime = static_cast<int64_t>(KzMGetTickCount());
  item.DiffTime = 0;
}

void TKzImageList::DeleteGUID(const TKzHeaderPack& Header) {
  TKzSafeLock g(FCriticalSection);
  DeleteIndex(IndexOf(Header.GUIDFrom));
}

void TKzImageList::DeleteIndex(int32_t Index) {
  if (Index < 0 || Index >= static_cast<int32_t>(List.size())) return;
  TItemPtr item = std::move(List[Index]);
  List.erase(List.begin() + Index);
  Recycle(std::move(item));
}

void TKzImageList::ClearAllData(uint32_t MaxAge, int64_t CurrentTime) {
  TKzSafeLock g(FCriticalSection);
  if (MaxAge == 0) {
    List.clear();
    return;
  }
  const int64_t now = CurrentTime != 0 ? CurrentTime : static_cast<int64_t>(KzMGetTickCount());
  const int64_t limit = KzSatSub(KzSatSub(now, MaxAge), 100);
  for (int32_t i = static_cast<int32_t>(List.size()) - 1; i >= 0; --i) {
    TKzGUIDTimes times;
    if (!GetGUIDInfoTimes(List[i]->HeaderPack.GUIDFrom, times)) break;
    if (times.DueTime(List[i]->StartTime) < limit) DeleteIndex(i);
  }
}

void TKzImageList::Clear() {
  {
    TKzSafeLock g(FCriticalSection);
    List.clear();
    FSpares.clear();
  }
  ClearAllGUID();
}

}  // namespace kz
