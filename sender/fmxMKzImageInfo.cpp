#include "sender/fmxMKzImageInfo.h"

#include <algorithm>

namespace kz {

namespace {

constexpr uint64_t kFullFrameAfterMs = 5000;  // a pause this long restarts with a whole frame

}  // namespace

uint64_t KzNewImageInfoState() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

TKzImageInfo::TKzImageInfo(const TGUID& GUID, uint16_t AVideoIndex)
    : nGUID(GUID), VideoIndex(AVideoIndex), StateId(KzNewImageInfoState()) {
  MotionDetector.SetReduceReferenceEachFrame(true);  // OldSendBt holds only what was sent
  MotionDetector.SetReferenceKeptInStep(true);       // and the encoder reports where it changes
  AData.reserve(100000);
}

void TKzImageInfo::Lock() {
  CriticalSection.Enter();
  CountLock.fetch_add(1);
}

void TKzImageInfo::Unlock() {
  CountLock.fetch_sub(1);
  CriticalSection.Leave();
}

void TKzImageInfo::ResetCounter() { FullFrameCounter = FrameDifferenceCounter = 0; }

void TKzImageInfo::IncCounter(uint32_t FullFrameInterval, uint16_t FrameDifferenceInterval) {
  if (FullFrameInterval > 0) ++FullFrameCounter;
  if (FrameDifferenceInterval > 0) ++FrameDifferenceCounter;
}

bool TKzImageInfo::IsSendFullImage(uint32_t FullFrameInterval, uint16_t FrameDifferenceInterval, uint64_t Now) {
  const bool full = IsNeedSendFullFrame || OldBufferSingleFrame == 0 ||
                    (FullFrameInterval > 0 && FullFrameCounter >= FullFrameInterval) ||
                    (FrameDifferenceInterval > 0 && FrameDifferenceCounter >= FrameDifferenceInterval) ||
                    Now > LastTime + kFullFrameAfterMs;
  IsNeedSendFullFrame = false;
  return full;
}

// ---- The list

std::vector<TKzImageInfoPtr> TKzImageInfoList::Items() {
  std::lock_guard<std::mutex> g(FLock);
  return FItems;
}

TKzImageInfoPtr TKzImageInfoList::Find(const TGUID& GUID, uint16_t VideoIndex) {
  for (const TKzImageInfoPtr& i : FItems)
    if (i->VideoIndex == VideoIndex && i->nGUID == GUID) return i;
  return nullptr;
}

TKzImageInfoPtr TKzImageInfoList::Add(const TGUID& GUID, uint16_t VideoIndex) { return GetImageInfo(GUID, VideoIndex); }

TKzImageInfoPtr TKzImageInfoList::GetImageInfo(const TGUID& GUID, uint16_t VideoIndex) {
  std::lock_guard<std::mutex> g(FLock);
  if (TKzImageInfoPtr i = Find(GUID, VideoIndex)) return i;
  auto item = std::make_shared<TKzImageInfo>(GUID, VideoIndex);
  item->MotionDetector.ApplyValues(FValues);
  FItems.push_back(item);
  return item;
}

int32_t TKzImageInfoList::IndexOf(const TGUID& GUID, uint16_t VideoIndex) {
  std::lock_guard<std::mutex> g(FLock);
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i]->VideoIndex == VideoIndex && FItems[i]->nGUID == GUID) return static_cast<int32_t>(i);
  return -1;
}

int32_t TKzImageInfoList::IndexBy(const TGUID& GUID, int32_t From) {
  std::lock_guard<std::mutex> g(FLock);
  for (size_t i = static_cast<size_t>(std::max(From, 0)); i < FItems.size(); ++i)
    if (FItems[i]->nGUID == GUID) return static_cast<int32_t>(i);
  return -1;
}

int32_t TKzImageInfoList::Count() {
  std::lock_guard<std::mutex> g(FLock);
  return static_cast<int32_t>(FItems.size());
}

void TKzImageInfoList::Delete(const TGUID& GUID) {
  std::lock_guard<std::mutex> g(FLock);
  std::erase_if(FItems, [&](const TKzImageInfoPtr& i) { return i->nGUID == GUID; });
}

void TKzImageInfoList::DeleteByVideoIndex(const TGUID& GUID, uint16_t VideoIndex) {
  std::lock_guard<std::mutex> g(FLock);
  std::erase_if(FItems, [&](const TKzImageInfoPtr& i) { return i->nGUID == GUID && i->VideoIndex == VideoIndex; });
}

void TKzImageInfoList::Clear() {
  std::lock_guard<std::mutex> g(FLock);
  FItems.clear();
}

template <class T>
void TKzImageInfoList::SetDetectorValue(T TKzMotionDetectorValues::*Field, T Value) {
  TKzMotionDetectorValues values;
  {
    std::lock_guard<std::mutex> g(FLock);
    FValues.*Field = Value;
    values = FValues;
  }
  for (const TKzImageInfoPtr& i : Items()) {
    i->Lock();
    i->MotionDetector.ApplyValues(values);
    i->Unlock();
  }
}

void TKzImageInfoList::SetMinChangeAreaSize(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::MinChangeAreaSize, Value);
}
void TKzImageInfoList::SetMaxChangeAreaCount(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::MaxChangeAreaCount, Value);
}
void TKzImageInfoList::SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode Value) {
  SetDetectorValue(&TKzMotionDetectorValues::ChangedAreaProcessingMode, Value);
}
void TKzImageInfoList::SetPixelColorThreshold(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::PixelColorThreshold, Value);
}
void TKzImageInfoList::SetPixelColorThresholdR(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::PixelColorThresholdR, Value);
}
void TKzImageInfoList::SetPixelColorThresholdG(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::PixelColorThresholdG, Value);
}
void TKzImageInfoList::SetPixelColorThresholdB(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::PixelColorThresholdB, Value);
}
void TKzImageInfoList::SetTestMode(TKzBoundsTestMode Value) { SetDetectorValue(&TKzMotionDetectorValues::TestMode, Value); }

void TKzImageInfoList::SetNeedSendFullFrame() {
  for (const TKzImageInfoPtr& i : Items()) {
    i->Lock();
    i->IsNeedSendFullFrame = true;
    i->Unlock();
  }
}

void TKzImageInfoList::SetNeedSendFullFrameByGUID(const TGUID& GUID) {
  for (const TKzImageInfoPtr& i : Items()) {
    if (i->nGUID != GUID) continue;
    i->Lock();
    i->IsNeedSendFullFrame = true;
    i->Unlock();
  }
}

void TKzImageInfoList::FinalizeRegion() {
  for (const TKzImageInfoPtr& i : Items()) {
    i->Lock();
    i->MotionDetector.FinalizeRegion();
    i->Unlock();
  }
}

}  // namespace kz
