#include "foundation/fmxMKzDataList.h"

#include <algorithm>
#include <cstring>

namespace kz {

namespace {
// Empties a stream; a buffer of a few frames is kept for the next chunks,
// the larger one a burst left behind goes back (kept, the items of a
// receiver would each hold the largest burst they ever saw).
constexpr int64_t kKeptBufferBytes = 2 << 20;

void EmptyStream(TMemoryStream& S) {
  if (S.Capacity() > kKeptBufferBytes)
    S.Clear();
  else
    S.SetSize(0);
}
}  // namespace

// ---- Media items

void TKzBaseDataItem::Clear() { EmptyStream(Data); }

void TKzBaseDataItem::EmptyData() { EmptyStream(Data); }

TKzInfo TKzBaseDataItem::GetInfo() const {
  TKzInfo info;
  info.MediaIndex = static_cast<uint16_t>(MediaIndex);
  return info;
}

void TKzVideoDataItem::Clear() {
  TKzBaseDataItem::Clear();
  LastImg.reset();
  ChangedImg = 0;
  NumFrame = 0;
  Searched = 0;
}

TKzInfo TKzVideoDataItem::GetInfo() const {
  TKzInfo info = TKzBaseDataItem::GetInfo();
  info.VideoInfo = VideoInfo;
  return info;
}

TKzMBitmap& TKzVideoDataItem::GetLastImg() {
  if (!LastImg) LastImg = std::make_unique<TKzMBitmap>();
  return *LastImg;
}

void TKzAudioDataItem::Clear() {
  TKzBaseDataItem::Clear();
  AudioInfo = DefaultAudioInfo;
}

TKzInfo TKzAudioDataItem::GetInfo() const {
  TKzInfo info = TKzBaseDataItem::GetInfo();
  info.AudioInfo = AudioInfo;
  return info;
}

void TKzFileDataItem::Clear() {
  TKzBaseDataItem::Clear();
  FileInfo = TKzFileInfo{};
}

TKzInfo TKzFileDataItem::GetInfo() const {
  TKzInfo info = TKzBaseDataItem::GetInfo();
  info.FileInfo = FileInfo;
  return info;
}

// ---- TKzDataItem

TKzDataItem::TKzDataItem(int32_t AKey, const TKzHeaderPack& AHeaderPack)
    : TypeData(static_cast<uint8_t>(AKey & 0xFF)), Key(AKey), HeaderPack(AHeaderPack) {}

TKzBaseDataItem* TKzDataItem::GetDataByMediaIndex(int32_t MediaIndex, bool Create) {
  for (const auto& item : List)
    if (item->IsEqual(MediaIndex)) return item.get();
  if (!Create) return nullptr;
  std::unique_ptr<TKzBaseDataItem> item;
  switch (TypeData) {
    case DATA_TYPE_VIDEO: item = std::make_unique<TKzVideoDataItem>(this, MediaIndex); break;
    case DATA_TYPE_AUDIO: item = std::make_unique<TKzAudioDataItem>(this, MediaIndex); break;
    case DATA_TYPE_USERDATA:
    case DATA_TYPE_CMD: item = std::make_unique<TKzBaseDataItem>(this, MediaIndex); break;
    case DATA_TYPE_FILE: item = std::make_unique<TKzFileDataItem>(this, MediaIndex); break;
    default: return nullptr;
  }
  List.push_back(std::move(item));
  return List.back().get();
}

TKzBaseDataItem* TKzDataItem::PrepareBaseDataItem(const TKzInfo& Info) {
  switch (TypeData) {
    case DATA_TYPE_VIDEO: {
      auto* item = static_cast<TKzVideoDataItem*>(GetDataByMediaIndex(Info.MediaIndex, true));
      if (!item->IsEqual(Info.VideoInfo)) {
        item->Clear();
        item->VideoInfo = Info.VideoInfo;
      }
      return item;
    }
    case DATA_TYPE_AUDIO: {
      auto* item = static_cast<TKzAudioDataItem*>(GetDataByMediaIndex(Info.MediaIndex, true));
      if (!item->IsEqual(Info.AudioInfo)) {
        item->Clear();
        item->AudioInfo = Info.AudioInfo;
      }
      return item;
    }
    default: return GetDataByMediaIndex(0, true);
  }
}

TKzBaseDataItem* TKzDataItem::Append(TKzBaseDataItem* Item, const uint8_t* Bytes, int64_t Count) {
  TMemoryStream& d = Item->Data;
  int64_t old = d.Size();
  if (TypeData == DATA_TYPE_VIDEO && old + Count > KZ_MAX_VIDEO_DATA) {
    const int64_t keep = std::max<int64_t>(KZ_MAX_VIDEO_DATA - Count, 0);
    d.DeleteFront(old - keep);
    auto* video = static_cast<TKzVideoDataItem*>(Item);
    video->Searched = std::max<int64_t>(0, video->Searched - (old - keep));
    old = keep;
  }
  if (d.SetSize(old + Count)) memcpy(d.Memory() + old, Bytes, static_cast<size_t>(Count));
  return Item;
}

TKzBaseDataItem* TKzDataItem::AddDataStream(const TMemoryStream& Stream, int64_t Count, const TKzInfo& Info) {
  TKzBaseDataItem* item = PrepareBaseDataItem(Info);
  if (!item || Stream.Size() == 0) return item;
  int64_t from = Stream.Position();
  if (Count == 0) {
    Count = Stream.Size();
    from = 0;
  }
  if (Count < 0 || from < 0 || Stream.Size() - from < Count) return item;
  if (&Stream == &item->Data) {  // an item appended to itself
    std::vector<uint8_t> copy(Stream.Memory() + from, Stream.Memory() + from + Count);
    return Append(item, copy.data(), Count);
  }
  return Append(item, Stream.Memory() + from, Count);
}

TKzBaseDataItem* TKzDataItem::AddDataBuffer(const void* Buffer, int64_t Count, const TKzInfo& Info) {
  TKzBaseDataItem* item = PrepareBaseDataItem(Info);
  if (!item || !Buffer || Count <= 0) return item;
  return Append(item, static_cast<const uint8_t*>(Buffer), Count);
}

void TKzDataItem::Clear() { List.clear(); }

// ---- TKzDataList

TKzDataList::~TKzDataList() { Clear(); }

int32_t TKzDataList::IndexOf(const TGUID& GUIDFrom, int32_t Key) const {
  for (size_t i = 0; i < List.size(); ++i) {
    const TKzDataItem& e = *List[i];
    if (e.HeaderPack.GUIDFrom == GUIDFrom && (Key == 0 || e.Key == Key)) return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t TKzDataList::IndexOfKey(int32_t Key) const {
  if (Key == 0) return List.empty() ? -1 : 0;
  for (size_t i = 0; i < List.size(); ++i)
    if (List[i]->Key == Key) return static_cast<int32_t>(i);
  return -1;
}

TKzDataItem* TKzDataList::NewEntry(const TKzHeaderPack& Header, int32_t Key) {
  List.push_back(std::make_unique<TKzDataItem>(Key, Header));
  return List.back().get();
}

TKzBaseDataItem* TKzDataList::AddDataGUID(const TKzHeaderPack& Header, const TMemoryStream& Stream, int32_t Key,
                                          int64_t Count, const TKzInfo& Info) {
  if (Stream.Size() == 0) return nullptr;
  // Search and creation under one lock hold, so that concurrent writers of a
  // new source end up in one entry.
  TKzSafeLock g(FListCriticalSection);
  const int32_t i = IndexOf(Header.GUIDFrom, Key);
  TKzDataItem* entry = i >= 0 ? List[i].get() : NewEntry(Header, Key);
  return entry->AddDataStream(Stream, Count, Info);
}

TKzBaseDataItem* TKzDataList::AddBufGUID(const TKzHeaderPack& Header, const void* Buffer, int32_t Key, int64_t Count,
                                         const TKzInfo& Info) {
  if (!Buffer || Count <= 0) return nullptr;
  TKzSafeLock g(FListCriticalSection);
  const int32_t i = IndexOf(Header.GUIDFrom, Key);
  TKzDataItem* entry = i >= 0 ? List[i].get() : NewEntry(Header, Key);
  return entry->AddDataBuffer(Buffer, Count, Info);
}

TKzBaseDataItem* TKzDataList::AddGUID(const TKzHeaderPack& Header, const TMemoryStream& Stream, int32_t Key,
                                      int64_t Count, const TKzInfo& Info) {
  TKzSafeLock g(FListCriticalSection);
  TKzDataItem* entry = NewEntry(Header, Key);
  return Stream.Size() > 0 ? entry->AddDataStream(Stream, Count, Info) : nullptr;
}

TKzBaseDataItem* TKzDataList::AddGUID2(const TKzHeaderPack& Header, const void* Buffer, int32_t Key, int64_t Count,
                                       const TKzInfo& Info) {
  TKzSafeLock g(FListCriticalSection);
  TKzDataItem* entry = NewEntry(Header, Key);
  return Buffer && Count > 0 ? entry->AddDataBuffer(Buffer, Count, Info) : nullptr;
}

TKzBaseDataItem* TKzDataList::AddDataGUIDByItem(const TKzHeaderPack& Header, int32_t Key,
                                                const TKzBaseDataItem& Item) {
  return AddDataGUID(Header, Item.Data, Key, 0, Item.GetInfo());
}

TKzDataItem* TKzDataList::GetGUID(const TKzHeaderPack& Header, int32_t Key) {
  TKzSafeLock g(FListCriticalSection);
  const int32_t i = IndexOf(Header.GUIDFrom, Key);
  return i >= 0 ? List[i].get() : nullptr;
}

TKzBaseDataItem* TKzDataList::GetItemByGUID(const TKzHeaderPack& Header, int32_t Key, int32_t MediaIndex) {
  TKzSafeLock g(FListCriticalSection);
  TKzDataItem* entry = GetGUID(Header, Key);
  return entry ? entry->GetDataByMediaIndex(MediaIndex, true) : nullptr;
}

void TKzDataList::ClearData(const TKzHeaderPack& Header, int32_t Key) {
  TKzSafeLock g(FListCriticalSection);
  const int32_t i = IndexOf(Header.GUIDFrom, Key);
  if (i >= 0) List[i]->Clear();
}

void TKzDataList::DeleteGUID(const TKzHeaderPack& Header, int32_t Key) {
  TKzSafeLock g(FListCriticalSection);
  DeleteIndex(IndexOf(Header.GUIDFrom, Key));
}

void TKzDataList::ClearKey(int32_t Key) {
  TKzSafeLock g(FListCriticalSection);
  const int32_t i = IndexOfKey(Key);
  if (i >= 0) List[i]->Clear();
}

void TKzDataList::DeleteKey(int32_t Key) {
  TKzSafeLock g(FListCriticalSection);
  DeleteIndex(IndexOfKey(Key));
}

void TKzDataList::DeleteIndex(int32_t Index) {
  if (Index < 0 || Index >= static_cast<int32_t>(List.size())) return;
  List.erase(List.begin() + Index);
}

void TKzDataList::Clear() {
  TKzSafeLock g(FListCriticalSection);
  List.clear();
}

int32_t TKzDataList::Count() {
  TKzSafeLock g(FListCriticalSection);
  return static_cast<int32_t>(List.size());
}

}  // namespace kz
