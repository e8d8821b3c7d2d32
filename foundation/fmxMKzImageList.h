// Decoded frames waiting to be drawn: one queue per (source identity, video
// index) inside one list, oldest first. Decoding threads add, drawing
// threads take; frames cross threads only under this list's lock, as copies
// made here or by exchanging pixels with an item the list no longer needs.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzType.h"
#include "foundation/fmxMKzTypesThreads.h"

namespace kz {

// One decoded frame.
struct TKzImageItem {
  TKzHeaderPack HeaderPack;  // GUIDFrom names the source
  TKzMBitmap Image;
  int32_t hClient = 0;    // connection handle of the source
  int64_t StartTime = 0;  // timestamp in the sender's millisecond clock
  int64_t DiffTime = 0;   // caller-supplied delay in milliseconds
  uint16_t VideoIndex = 0;
  double Pts = 0;  // presentation timestamp from the decoder
};

// One frame on its way from a receiving thread to a decoder.
struct TKzDecodeData {
  TKzHeaderPack HeaderPack;
  TKzMBitmap Image;
  int32_t hClient = 0;
  int64_t StartTime = 0;
  int64_t DiffTime = 0;
  uint16_t VideoIndex = 0;
};

// Every operation takes the list lock itself (recursive, entered with
// SafeEnter) unless it says otherwise, and may be called from any thread.
// Items returned stay valid only while the caller holds Lock. The list calls
// into the timing registry (fmxMKzGUIDInfo), never the other way round.
class TKzImageList {
public:
  TKzImageList() = default;
  ~TKzImageList();
  TKzImageList(const TKzImageList&) = delete;
  TKzImageList& operator=(const TKzImageList&) = delete;

  void Lock();
  void Unlock();
  bool Locked() const { return LockCount.load(std::memory_order_acquire) != 0; }
  int32_t GetItemCount();

  // Mode 1: the newest frame replaces the one waiting for that source and
  // video index (the timing registry is left alone). Any other mode queues
  // the frame, first dropping the oldest of that source and video index when
  // more than Mode are waiting. A new item updates the timing registry
  // (GetGUIDInfoWithCreate(GUIDFrom, UpdateTime, StartTime)). Copies Bitmap
  // (outside the lock when it makes a new item); returns the item written.
  TKzImageItem* AddImageGUID(const TKzHeaderPack& Header, uint16_t VideoIndex, const TKzMBitmap& Bitmap,
                             int32_t hClient, int64_t StartTime, int64_t DiffTime, int32_t Mode, bool UpdateTime,
                             double Pts);
  // As AddImageGUID, but the frame's pixels are taken over instead of
  // copied: Bitmap comes back holding the pixels of a frame the list no
  // longer needs (the one replaced, or a recycled item's; empty when none
  // was at hand), for the caller to overwrite with its next frame.
  TKzImageItem* SwapImageGUID(const TKzHeaderPack& Header, uint16_t VideoIndex, TKzMBitmap& Bitmap, int32_t hClient,
                              int64_t StartTime, int64_t DiffTime, int32_t Mode, bool UpdateTime, double Pts);
  // Appends a copy of Bitmap as a new item, then updates the timing registry.
  TKzImageItem* AddGUID(const TKzHeaderPack& Header, uint16_t VideoIndex, const TKzMBitmap& Bitmap, int32_t hClient,
                        int64_t StartTime, int64_t DiffTime, bool UpdateTime, double Pts);
  // The first item of that source and video index, or null.
  TKzImageItem* GetGUID(const TKzHeaderPack& Header, uint16_t VideoIndex);
  // The first item of that source: image opaque white, StartTime := now, DiffTime 0.
  void ClearData(const TKzHeaderPack& Header);
  // Frees the first item of that source.
  void DeleteGUID(const TKzHeaderPack& Header);
  // No lock taken: the caller holds Lock.
  void DeleteIndex(int32_t Index);
  // MaxAge 0: frees every item. Otherwise, from the newest item back to the
  // first whose source has no timing record, frees the items due before
  // CurrentTime - MaxAge - 100 ms (CurrentTime 0: now).
  void ClearAllData(uint32_t MaxAge, int64_t CurrentTime);
  // Frees every item, then empties the whole timing registry.
  void Clear();
  // Takes back an item its consumer has finished with, so that the next
  // frame added reuses its pixels (a few are kept, the rest freed). Any thread.
  void Release(std::unique_ptr<TKzImageItem> Item);

  // Nested Lock calls not yet matched by Unlock.
  std::atomic<int32_t> LockCount{0};
  // The frames, oldest first; walk them only under Lock.
  std::vector<std::unique_ptr<TKzImageItem>> List;

private:
  using TItemPtr = std::unique_ptr<TKzImageItem>;
  int32_t IndexOf(const TGUID& GUIDFrom) const;
  int32_t IndexOf(const TGUID& GUIDFrom, uint16_t VideoIndex) const;
  // The frame to store: copied from Copy, or exchanged with Swap.
  struct TFrameSource {
    const TKzMBitmap* Copy;
    TKzMBitmap* Swap;
    void Into(TKzMBitmap& Image) const;
  };
  TKzImageItem* Add(const TKzHeaderPack& Header, uint16_t VideoIndex, const TFrameSource& Frame, int32_t hClient,
                    int64_t StartTime, int64_t DiffTime, int32_t Mode, bool UpdateTime, double Pts);
  TItemPtr MakeItem(const TKzHeaderPack& Header, uint16_t VideoIndex, const TFrameSource& Frame, int32_t hClient,
                    int64_t StartTime, int64_t DiffTime, double Pts);
  // Caller holds the lock. Keeps a few freed items so the next frames reuse their pixels.
  void Recycle(TItemPtr Item);

  static constexpr size_t MaxSpareItems = 8;
  TKzCriticalSection FCriticalSection;  // guards List and FSpares
  std::vector<TItemPtr> FSpares;
};

}  // namespace kz
