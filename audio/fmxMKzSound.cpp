#include "audio/fmxMKzSound.h"

namespace kz {

TKzPlayItemRef TKzPlayList::GetGUID(const TGUID& GUID, uint16_t AudioIndex) const {
  std::lock_guard<std::mutex> g(FLock);
  for (const TKzPlayItemRef& i : FItems)
    if (i->AudioIndex() == AudioIndex && i->GUID() == GUID) return i;
  return nullptr;
}

std::vector<TKzPlayItemRef> TKzPlayList::Take(const TGUID& GUID, int32_t AudioIndex) {
  std::vector<TKzPlayItemRef> taken;
  for (auto it = FItems.begin(); it != FItems.end();) {
    if ((*it)->GUID() == GUID && (AudioIndex < 0 || (*it)->AudioIndex() == AudioIndex)) {
      taken.push_back(std::move(*it));
      it = FItems.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

TKzPlayItemRef TKzPlayList::PlayGUID(const TGUID& GUID, uint16_t AudioIndex, const TKzAudioInfo& Format,
                                     uint16_t BufferDuration) {
  std::vector<TKzPlayItemRef> replaced;
  TKzPlayItemRef item;
  {
    std::lock_guard<std::mutex> g(FLock);
    for (const TKzPlayItemRef& i : FItems)
      if (i->AudioIndex() == AudioIndex && i->GUID() == GUID) item = i;
    if (item && (!(item->Format() == Format) || item->Stopped())) {
      replaced = Take(GUID, AudioIndex);
      item = nullptr;
    }
    if (!item) {
      item = std::make_shared<TKzPlayItem>(GUID, AudioIndex, Format, FDeviceId.load(), BufferDuration,
                                           FLatency.load());
      // A device that cannot open leaves the item inactive: its blocks are ignored.
      item->InitSound();
      FItems.push_back(item);
    }
  }
  for (const TKzPlayItemRef& i : replaced) i->DestroySound();
  return item;
}

void TKzPlayList::StopGUID(const TGUID& GUID, uint16_t AudioIndex) {
  if (TKzPlayItemRef i = GetGUID(GUID, AudioIndex)) i->Stop();
}

void TKzPlayList::DeleteGUID(const TGUID& GUID, uint16_t AudioIndex) {
  std::vector<TKzPlayItemRef> taken;
  {
    std::lock_guard<std::mutex> g(FLock);
    taken = Take(GUID, AudioIndex);
  }
  for (const TKzPlayItemRef& i : taken) {
    i->Stop();
    i->DestroySound();
  }
}

void TKzPlayList::DeleteAll() {
  std::vector<TKzPlayItemRef> taken;
  {
    std::lock_guard<std::mutex> g(FLock);
    taken.swap(FItems);
  }
  for (const TKzPlayItemRef& i : taken) i->DestroySound();
}

void TKzPlayList::Stop() {
  for (const TKzPlayItemRef& i : Items()) i->Stop();
}

void TKzPlayList::ClearBuffer(const TGUID& GUID) {
  for (const TKzPlayItemRef& i : Items())
    if (i->GUID() == GUID) i->ClearBuffer();
}

void TKzPlayList::ClearBufferAtAudioIndex(const TGUID& GUID, uint16_t AudioIndex) {
  if (TKzPlayItemRef i = GetGUID(GUID, AudioIndex)) i->ClearBuffer();
}

void TKzPlayList::SetAudioLatency(uint16_t Latency) {
  FLatency = Latency;
  for (const TKzPlayItemRef& i : Items()) i->SetLatency(Latency);
}

std::vector<TKzPlayItemRef> TKzPlayList::Items() const {
  std::lock_guard<std::mutex> g(FLock);
  return FItems;
}

TKzPlaySound::TKzPlaySound(uint16_t BufferDuration, int32_t DeviceId) : FBufferDuration(BufferDuration) {
  FList.SetDeviceId(DeviceId);
}

void TKzPlaySound::PlayAudio(const TGUID& GUID, uint16_t AudioIndex, TMemoryStream& Stream, int32_t Size,
                             bool AllowDrop, const TKzAudioInfo& Format, int64_t StartTime, uint32_t Duration) {
  if (TKzPlayItemRef item = FList.PlayGUID(GUID, AudioIndex, Format, FBufferDuration.load()))
    item->AddToBuffer(Stream, Size, StartTime, Duration, AllowDrop);
}

int64_t TKzPlaySound::GetPosition(const TGUID& GUID, uint16_t AudioIndex) const {
  TKzPlayItemRef item = FList.GetGUID(GUID, AudioIndex);
  return item ? item->GetPosition() : -1;
}

void TKzPlaySound::SetBufferDuration(uint16_t Value) {
  FBufferDuration = Value == 0 ? 1 : Value;
  FList.DeleteAll();
}

}  // namespace kz
