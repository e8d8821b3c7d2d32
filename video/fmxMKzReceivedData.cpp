#include "video/fmxMKzReceivedData.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/Fmxmkzstreamfuncs.h"
#include "foundation/fmxMKzMessages.h"

namespace kz {

namespace {

template <typename T>
void PostRecord(IKzMultiSourceOwner& Owner, uint32_t Msg, uintptr_t WParam, std::shared_ptr<T> Record) {
  const LPARAM l = reinterpret_cast<LPARAM>(Record.get());
  KzMessages().PostMessage2(Owner.OwnerComponent(), Msg, WParam, l, std::move(Record));
}

void PostFileMessage(IKzMultiSourceOwner& Owner, const TKzDataItem& Entry, const TKzFileInfo& Info, uintptr_t Flag) {
  auto record = std::make_shared<TKzFileMessage>();
  record->SessionKey = Owner.SessionKey();
  record->ClientHandle = KzClientHandle(Entry.Key);
  record->FileName = Info.FileName;
  record->TotalFileSize = Info.TotalFileSize;
  record->Header = Entry.HeaderPack;
  PostRecord(Owner, KZ_MSG_FILE_DATA, Flag, std::move(record));
}

}  // namespace

int64_t KzHeldBytes(TKzDataList& List, const TKzHeaderPack& Header, int32_t Key, int32_t MediaIndex) {
  List.LockList();
  TKzDataItem* entry = List.GetGUID(Header, Key);
  TKzBaseDataItem* item = entry ? entry->GetDataByMediaIndex(MediaIndex, false) : nullptr;
  const int64_t n = item ? item->Data.Size() : 0;
  List.UnlockList();
  return n;
}

bool KzIsDataTypeCode(uint8_t Code) {
  return Code == DATA_TYPE_VIDEO || Code == DATA_TYPE_AUDIO || Code == DATA_TYPE_USERDATA || Code == DATA_TYPE_CMD ||
         Code == DATA_TYPE_FILE;
}

bool KzKeyHoldsData(TKzDataList& List, int32_t Key) {
  List.LockList();
  const bool holds = std::any_of(List.List.begin(), List.List.end(), [Key](const auto& Entry) {
    return Entry->Key == Key &&
           std::any_of(Entry->List.begin(), Entry->List.end(), [](const auto& Item) { return Item->Data.Size() > 0; });
  });
  List.UnlockList();
  return holds;
}

void KzDeleteKey(TKzDataList& List, int32_t Key) {
  List.LockList();
  std::erase_if(List.List, [Key](const auto& Entry) { return Entry->Key == Key; });
  List.UnlockList();
}

int32_t KzChunkMediaIndex(int32_t Key, const TKzInfo& Info) {
  const uint8_t type = static_cast<uint8_t>(Key & 0xFF);
  return type == DATA_TYPE_VIDEO || type == DATA_TYPE_AUDIO ? Info.MediaIndex : 0;
}

void KzPostCommandData(IKzMultiSourceOwner& Owner, int32_t Key, const TKzHeaderPack& Header, uint16_t MediaIndex,
                       const uint8_t* Data, size_t Size) {
  if (!Data || Size == 0) return;
  auto record = std::make_shared<TKzCmdMessage>();
  record->SessionKey = Owner.SessionKey();
  record->ClientHandle = KzClientHandle(Key);
  record->Header = Header;
  record->MediaIndex = MediaIndex;
  record->Data.assign(Data, Data + Size);
  PostRecord(Owner, KZ_MSG_COMMAND, 0, std::move(record));
}

void KzDeliverUserData(IKzMultiSourceOwner& Owner, const TKzDataItem& Entry, TKzBaseDataItem& Item) {
  TKzDataReadEvent handler = Owner.UserDataHandler();
  if (!handler) return;
  const uint16_t index = static_cast<uint16_t>(Item.MediaIndex);
  if (Owner.SynchronizedUserData()) {
    auto record = std::make_shared<TKzUserDataMessage>();
    record->SessionKey = Owner.SessionKey();
    record->Data.assign(Item.Data.Memory(), Item.Data.Memory() + Item.Data.Size());
    record->ClientHandle = KzClientHandle(Entry.Key);
    record->Header = Entry.HeaderPack;
    record->MediaIndex = index;
    PostRecord(Owner, KZ_MSG_USER_DATA, 0, std::move(record));
    return;
  }
  Item.Data.SetPosition(0);
  const TKzHeaderPack& h = Entry.HeaderPack;
  handler(Owner.OwnerComponent(), Owner.SessionKey(), Item.Data, KzClientHandle(Entry.Key), h.GUIDFrom, h.GUIDTo,
          h.GUIDGroup, index);
}

int32_t KzDeliverFileData(IKzMultiSourceOwner& Owner, const TKzDataItem& Entry, TKzFileDataItem& Item) {
  const TKzFileReadEvent handler = Owner.ReceiveFileDataHandler();
  const TKzHeaderPack& h = Entry.HeaderPack;
  const uint8_t* data = Item.Data.Memory();
  const size_t size = static_cast<size_t>(Item.Data.Size());
  size_t pos = 0;
  int32_t chunks = 0;
  TMemoryStream payload;
  while (pos < size) {
    TKzFileChunk chunk;
    size_t used = 0;
    const TKzFileChunkResult r = KzReadFileChunk(data + pos, size - pos, chunk, used);
    if (r != TKzFileChunkResult::kzfcOk) {
      KzPostMessageDebug(Owner.OwnerComponent(), DATA_TYPE_FILE,
                         r == TKzFileChunkResult::kzfcIncomplete ? "file data: truncated chunk dropped"
                                                                 : "file data: damaged chunk dropped");
      break;
    }
    const bool newFile = chunk.FileInfo.FileGUID != Item.FileInfo.FileGUID;
    if (newFile) {
      Item.FileInfo = chunk.FileInfo;
      if (Owner.HasReceivingFileHandler()) PostFileMessage(Owner, Entry, Item.FileInfo, KZ_FILE_RECEIVING);
    }
    if (handler) {
      payload.SetSize(0);
      payload.Write(data + pos + chunk.DataOffset, chunk.DataLength);
      payload.SetPosition(0);
      handler(Owner.OwnerComponent(), Owner.SessionKey(), chunk.FileInfo.FileName, chunk.FileInfo.FileOffs,
              chunk.FileInfo.TotalFileSize, payload, KzClientHandle(Entry.Key), h.GUIDFrom, h.GUIDTo, h.GUIDGroup,
              static_cast<uint16_t>(Item.MediaIndex));
    }
    const int64_t before = Item.FileInfo.FileOffs;
    Item.FileInfo.FileOffs = chunk.DataLength > INT64_MAX - before ? INT64_MAX : before + chunk.DataLength;
    const int64_t total = Item.FileInfo.TotalFileSize;
    if (Item.FileInfo.FileOffs >= total && (before < total || newFile) && Owner.HasReceivedFileHandler())
      PostFileMessage(Owner, Entry, Item.FileInfo, KZ_FILE_RECEIVED);
    pos += used;
    ++chunks;
  }
  return chunks;
}

}  // namespace kz
