// Incoming media collected per source: a data list holds one TKzDataItem
// per (source identity, key), each holding one media item per media index
// that accumulates the raw bytes of that stream. Network threads append,
// decoding threads read and empty the items under the list lock.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzType.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

class TKzDataItem;

// A video item keeps at most this many bytes, the oldest giving way first.
constexpr int64_t KZ_MAX_VIDEO_DATA = 8388608;

// Media items are not locked themselves: they are used under the lock of the
// list that holds them (or by the one thread that owns them).

// The bytes of one stream of a source; used as is for user and command data.
class TKzBaseDataItem {
public:
  TKzBaseDataItem(TKzDataItem* AOwner, int32_t AMediaIndex) : Owner(AOwner), MediaIndex(AMediaIndex) {}
  virtual ~TKzBaseDataItem() = default;
  TKzBaseDataItem(const TKzBaseDataItem&) = delete;
  TKzBaseDataItem& operator=(const TKzBaseDataItem&) = delete;

  // Empties Data (derived items also reset their description).
  virtual void Clear();
  // Empties Data only; a buffer of ordinary size is kept for the next chunks.
  void EmptyData();
  bool IsEqual(int32_t AMediaIndex) const { return MediaIndex == AMediaIndex; }
  // The chunk description this item stands for (used to forward it whole).
  virtual TKzInfo GetInfo() const;

  TKzDataItem* Owner;  // not owned
  int32_t MediaIndex;
  TMemoryStream Data;
};

class TKzVideoDataItem : public TKzBaseDataItem {
public:
  using TKzBaseDataItem::TKzBaseDataItem;
  using TKzBaseDataItem::IsEqual;
  // Empties Data, frees LastImg, zeroes ChangedImg and NumFrame.
  void Clear() override;
  TKzInfo GetInfo() const override;
  bool IsEqual(const TKzVideoInfo& Info) const { return VideoInfo.Encoding == Info.Encoding; }
  // The last decoded picture, created empty on first use.
  TKzMBitmap& GetLastImg();

  std::unique_ptr<TKzMBitmap> LastImg;
  TKzVideoInfo VideoInfo;
  uint16_t ChangedImg = 0;
  uint8_t NumFrame = 0;
  bool IsFirstChangedImg = false;
  // Leading bytes of Data a decoder has already searched for frame ends
  // without finding one; appending keeps it in step when old bytes give way.
  int64_t Searched = 0;
};

class TKzAudioDataItem : public TKzBaseDataItem {
public:
  static constexpr TKzAudioInfo DefaultAudioInfo{8000, TKzBitsPerSample::kzbps8, 1};
  using TKzBaseDataItem::TKzBaseDataItem;
  using TKzBaseDataItem::IsEqual;
  // Empties Data and restores 8000 samples/s, 8 bits, 1 channel.
  void Clear() override;
  TKzInfo GetInfo() const override;
  bool IsEqual(const TKzAudioInfo& Info) const { return AudioInfo == Info; }

  TKzAudioInfo AudioInfo = DefaultAudioInfo;
};

class TKzFileDataItem : public TKzBaseDataItem {
public:
  using TKzBaseDataItem::TKzBaseDataItem;
  using TKzBaseDataItem::IsEqual;
  // Empties Data and resets FileInfo (empty name, null GUID, offsets 0).
  void Clear() override;
  TKzInfo GetInfo() const override;
  bool IsEqual(const TKzFileInfo& Info) const { return FileInfo.FileGUID == Info.FileGUID; }

  TKzFileInfo FileInfo;
};

// One source's data of one data type, keyed by (connection handle * 256 + data
// type code). Its operations run under the lock of the list holding it (or on
// the one thread that owns it) and never block.
class TKzDataItem {
public:
  TKzDataItem(int32_t AKey, const TKzHeaderPack& AHeaderPack);
  TKzDataItem(const TKzDataItem&) = delete;
  TKzDataItem& operator=(const TKzDataItem&) = delete;

  // The first media item of that index; when there is none and Create, a new
  // one of the class TypeData calls for (null for an unknown data type).
  TKzBaseDataItem* GetDataByMediaIndex(int32_t MediaIndex, bool Create);
  // The media item the next chunk described by Info goes to; a changed video
  // encoding or audio format empties it first.
  TKzBaseDataItem* PrepareBaseDataItem(const TKzInfo& Info);
  // Appends Count bytes of Stream from its position (0: the whole stream)
  // without moving the position; nothing when fewer bytes are there. Returns
  // the media item, null for an unknown data type.
  TKzBaseDataItem* AddDataStream(const TMemoryStream& Stream, int64_t Count, const TKzInfo& Info);
  TKzBaseDataItem* AddDataBuffer(const void* Buffer, int64_t Count, const TKzInfo& Info);
  // Frees every media item.
  void Clear();

  uint8_t TypeData;  // the data type code: low byte of Key
  std::vector<std::unique_ptr<TKzBaseDataItem>> List;
  int32_t Key;
  TKzHeaderPack HeaderPack;

private:
  TKzBaseDataItem* Append(TKzBaseDataItem* Item, const uint8_t* Bytes, int64_t Count);
};

// Every operation takes the list lock itself (recursive, entered with
// SafeEnter so that the main thread is never blocked for long) unless it says
// otherwise, and may be called from any thread. A search matches an entry by
// HeaderPack.GUIDFrom and key (a key of 0 matches every key) and returns the
// first match in list order. Items and entries returned stay valid only while
// the caller holds LockList.
class TKzDataList {
public:
  TKzDataList() = default;
  ~TKzDataList();
  TKzDataList(const TKzDataList&) = delete;
  TKzDataList& operator=(const TKzDataList&) = delete;

  void LockList() { FListCriticalSection.SafeEnter(); }
  void UnlockList() { FListCriticalSection.Leave(); }

  // Appends the chunk to the matching entry, creating one when none matches.
  // Null for an empty stream (or an unknown data type).
  TKzBaseDataItem* AddDataGUID(const TKzHeaderPack& Header, const TMemoryStream& Stream, int32_t Key, int64_t Count,
                               const TKzInfo& Info);
  TKzBaseDataItem* AddBufGUID(const TKzHeaderPack& Header, const void* Buffer, int32_t Key, int64_t Count,
                              const TKzInfo& Info);
  // Always a new entry, filled when there are bytes.
  TKzBaseDataItem* AddGUID(const TKzHeaderPack& Header, const TMemoryStream& Stream, int32_t Key, int64_t Count,
                           const TKzInfo& Info);
  TKzBaseDataItem* AddGUID2(const TKzHeaderPack& Header, const void* Buffer, int32_t Key, int64_t Count,
                            const TKzInfo& Info);
  // Re-adds a whole media item (bytes, media index, description) under Header's source.
  TKzBaseDataItem* AddDataGUIDByItem(const TKzHeaderPack& Header, int32_t Key, const TKzBaseDataItem& Item);

  TKzDataItem* GetGUID(const TKzHeaderPack& Header, int32_t Key);
  // GetGUID, then its media item of that index (created when missing).
  TKzBaseDataItem* GetItemByGUID(const TKzHeaderPack& Header, int32_t Key, int32_t MediaIndex);
  void ClearData(const TKzHeaderPack& Header, int32_t Key);
  void DeleteGUID(const TKzHeaderPack& Header, int32_t Key);
  // The first entry with that key (0: the first entry).
  void ClearKey(int32_t Key);
  void DeleteKey(int32_t Key);
  // No lock taken: the caller holds LockList.
  void DeleteIndex(int32_t Index);
  void Clear();
  int32_t Count();

  // The entries in order of creation; walk them only under LockList.
  std::vector<std::unique_ptr<TKzDataItem>> List;

private:
  int32_t IndexOf(const TGUID& GUIDFrom, int32_t Key) const;
  int32_t IndexOfKey(int32_t Key) const;
  TKzDataItem* NewEntry(const TKzHeaderPack& Header, int32_t Key);

  TKzCriticalSection FListCriticalSection;  // guards List and everything in it
};

}  // namespace kz
