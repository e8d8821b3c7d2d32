#include "video/fmxMKzMultiGetData.h"

#include <algorithm>
#include <vector>

#include "video/fmxMKzAudioSink.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzReceivedData.h"

namespace kz {

// The bytes of one audio item, taken out of the input to be played outside its lock.
struct TKzMultiGetData::TAudioWork {
  TGUID Source;
  uint16_t MediaIndex = 0;
  TKzAudioInfo Info;
  TMemoryStream Data;
};

TKzMultiGetData::TKzMultiGetData(IKzMultiSourceOwner& Owner, TKzConsumerLists& Consumers)
    : TKzMultiStage("TKzMultiGetData"), FOwner(Owner), FDecode(new TKzMultiDecode(Owner, Consumers)) {}

TKzMultiGetData::~TKzMultiGetData() { KzMFreeThread(FDecode); }

void TKzMultiGetData::Run() {
  FDecode->Run();
  StartThread(this);
}

void TKzMultiGetData::CopyFrom(int32_t Key, const TKzHeaderPack& Header, const TMemoryStream& Stream, int64_t Count,
                               const TKzInfo& Info) {
  const int64_t from = Count == 0 ? 0 : Stream.Position();
  const int64_t n = Count == 0 ? Stream.Size() : Count;
  if (n > 0 && from >= 0 && Stream.Size() - from >= n)
    CopyFromBuffer(Key, Header, {}, {Stream.Memory() + from, static_cast<size_t>(n)}, Info);
}

void TKzMultiGetData::CopyFromBuffer(int32_t Key, const TKzHeaderPack& Header, std::span<const uint8_t> Record,
                                     std::span<const uint8_t> Data, const TKzInfo& Info) {
  const uint8_t type = static_cast<uint8_t>(Key & 0xFF);
  if (!KzIsDataTypeCode(type) || (Record.empty() && Data.empty()) || Terminated()) return;
  if (type == DATA_TYPE_CMD) {
    if (Data.empty()) return;
    KzPostCommandData(FOwner, Key, Header, Info.MediaIndex, Data.data(), Data.size());
    return;
  }
  {
    std::lock_guard<TCriticalSection> g(FTmpDataSection);
    if (Terminated()) return;
    // One hold of the input lock: the pass never sees a record without its payload.
    if (!Record.empty()) FTmpData.AddBufGUID(Header, Record.data(), Key, static_cast<int64_t>(Record.size()), Info);
    if (!Data.empty()) FTmpData.AddBufGUID(Header, Data.data(), Key, static_cast<int64_t>(Data.size()), Info);
  }
  Event()->SetEvent();
}

int64_t TKzMultiGetData::HeldBytes(int32_t Key, const TKzHeaderPack& Header, const TKzInfo& Info) {
  {
    std::lock_guard<TCriticalSection> g(FTmpDataSection);
    FTmpData.LockList();
    if (!FTmpData.GetGUID(Header, Key)) FTmpData.AddGUID2(Header, nullptr, Key, 0, Info);
    FTmpData.UnlockList();
  }
  Event()->SetEvent();
  return PendingBytes(Key, Header, KzChunkMediaIndex(Key, Info));
}

bool TKzMultiGetData::IsFileBufferTooLarge(int32_t Key, const TKzHeaderPack& Header, const TKzInfo& Info) {
  return HeldBytes(Key, Header, Info) > MaxFileBufferBytes ||
         FDecode->PendingBytes(Key, Header, KzChunkMediaIndex(Key, Info)) > MaxFileBufferBytes;
}

bool TKzMultiGetData::IsEmpty(int32_t Key, const TKzHeaderPack& Header, const TKzInfo& Info) {
  return HeldBytes(Key, Header, Info) == 0 && FDecode->PendingBytes(Key, Header, KzChunkMediaIndex(Key, Info)) == 0;
}

int64_t TKzMultiGetData::PendingBytes() {
  std::lock_guard<TCriticalSection> g(FTmpDataSection);
  FTmpData.LockList();
  int64_t n = 0;
  for (const auto& entry : FTmpData.List)
    for (const auto& item : entry->List) n += item->Data.Size();
  FTmpData.UnlockList();
  return n;
}

void TKzMultiGetData::ClearNext() { FDecode->Clear(); }

void TKzMultiGetData::DeleteKeyNext(int32_t Key) { FDecode->DeleteKey(Key); }

uint32_t TKzMultiGetData::Pass() {
  TKzSafeLock access(FAccessSection);
  std::vector<std::unique_ptr<TAudioWork>> audio;
  {
    std::lock_guard<TCriticalSection> g(FTmpDataSection);
    FTmpData.LockList();
    for (const auto& entry : FTmpData.List)
      for (const auto& item : entry->List) {
        if (item->Data.Size() == 0) continue;
        if (entry->TypeData == DATA_TYPE_AUDIO) {
          auto work = std::make_unique<TAudioWork>();
          work->Source = entry->HeaderPack.GUIDFrom;
          work->MediaIndex = static_cast<uint16_t>(item->MediaIndex);
          work->Info = static_cast<const TKzAudioDataItem&>(*item).AudioInfo;
          work->Data.Swap(item->Data);
          audio.push_back(std::move(work));
        } else {
          FData.AddDataGUIDByItem(entry->HeaderPack, entry->Key, *item);
        }
        item->EmptyData();
      }
    FTmpData.UnlockList();
    Event()->ResetEvent();
  }
  for (const auto& work : audio) {
    const std::pair<TGUID, uint16_t> source(work->Source, work->MediaIndex);
    if (std::find(FAudioSources.begin(), FAudioSources.end(), source) == FAudioSources.end())
      FAudioSources.push_back(source);
    PlayAudio(*work);
  }
  FData.LockList();
  for (const auto& entry : FData.List)
    for (const auto& item : entry->List)
      if (item->Data.Size() > 0) {
        FDecode->Decode(entry->Key, entry->HeaderPack, *item);
        item->EmptyData();
      }
  FData.UnlockList();
  return KzWaitForever;
}

void TKzMultiGetData::PlayAudio(const TAudioWork& Work) {
  IKzAudioSink* sink = FOwner.AudioSink();
  if (!sink) return;
  std::vector<TKzAudioFrame> frames;
  KzScanAudioFrames(Work.Data.Memory(), Work.Data.Size(), frames);
  for (const TKzAudioFrame& f : frames)
    if (f.Size > 0)
      sink->AudioBlock(Work.Source, Work.MediaIndex, Work.Info, f.StartTime, f.Duration,
                       Work.Data.Memory() + f.DataOffset(), f.Size);
}

void TKzMultiGetData::PassesEnded() {
  IKzAudioSink* sink = FOwner.AudioSink();
  if (!sink) return;
  for (const auto& [source, index] : FAudioSources) sink->RemoveAudioSource(source, index);
  FAudioSources.clear();
}

}  // namespace kz
