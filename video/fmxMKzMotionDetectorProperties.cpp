#include "video/fmxMKzMotionDetectorProperties.h"

namespace kz {

// ---- Common settings

void TCustomKzMotionDetectorProperties::Assign(const TPersistent& Source) {
  const auto* other = dynamic_cast<const TCustomKzMotionDetectorProperties*>(&Source);
  if (!other) return TPersistent::Assign(Source);
  if (other == this) return;
  const TKzMotionDetectorValues values = other->Values();
  bool modeChanged;
  {
    std::lock_guard<std::mutex> g(FValuesLock);
    modeChanged = FValues.ChangedAreaProcessingMode != values.ChangedAreaProcessingMode;
    FValues = values;
  }
  if (modeChanged) FNeedResizeArea.store(true);
  Update();
}

TKzMotionDetectorValues TCustomKzMotionDetectorProperties::Values() const {
  std::lock_guard<std::mutex> g(FValuesLock);
  return FValues;
}

void TCustomKzMotionDetectorProperties::UpdateMotionDetector(TKzMotionDetector& Detector) const {
  Detector.ApplyValues(Values());
}

void TCustomKzMotionDetectorProperties::RunDetection(TKzMotionDetector& Detector, const TKzMCustomBitmap& Frame) {
  if (FNeedResizeArea.exchange(false)) Detector.SetNeedResizeArea(true);
  Detector.DetectChanges(Frame, Detector.oImg);
  Detector.UpdateReferenceImage(Frame, Detector.oImg);
}

// ---- Camera: one detector

TKzMotionDetector& TKzGlobalMotionDetectorProperties::GetMotionDetector() {
  std::lock_guard<std::mutex> g(FDetectorLock);
  if (!FMotionDetector) {
    FMotionDetector = std::make_unique<TKzMotionDetector>();
    UpdateMotionDetector(*FMotionDetector);
  }
  return *FMotionDetector;
}

void TKzGlobalMotionDetectorProperties::Update() {
  std::lock_guard<std::mutex> g(FDetectorLock);
  if (FMotionDetector) UpdateMotionDetector(*FMotionDetector);
}

TKzMotionDetector& TKzGlobalMotionDetectorProperties::DetectMotion(const TKzMCustomBitmap& Frame) {
  TKzMotionDetector& detector = GetMotionDetector();
  RunDetection(detector, Frame);
  return detector;
}

// ---- Receiver: one detector per source

TKzMultiMotionDetectorProperties::TKzMultiMotionDetectorProperties(TComponent* AParent)
    : TCustomKzMotionDetectorProperties(AParent), FItems(this) {
  const auto changed = [this](TKzDetectionRegionItem&) { Update(); };
  FItems.OnAdd = changed;
  FItems.OnModify = changed;
  FItems.OnRemove = changed;
}

void TKzMultiMotionDetectorProperties::Assign(const TPersistent& Source) {
  if (const auto* other = dynamic_cast<const TKzMultiMotionDetectorProperties*>(&Source)) {
    if (other == this) return;
    FUseGlobalParams.store(other->UseGlobalParams());
    FItems.Assign(other->FItems);
  }
  TCustomKzMotionDetectorProperties::Assign(Source);
}

void TKzMultiMotionDetectorProperties::SetUseGlobalParams(bool Value) {
  FUseGlobalParams.store(Value);
  Update();
}

void TKzMultiMotionDetectorProperties::Configure(const std::string& Key, TKzMotionDetector& Detector) const {
  TKzMotionDetectorValues values = Values();
  if (!UseGlobalParams()) FItems.FindValues(Key, values);
  Detector.ApplyValues(values);
}

TKzMotionDetector& TKzMultiMotionDetectorProperties::GetMotionDetector(const TGUID& Source) {
  const std::string key = GUIDToStringA(Source);
  std::lock_guard<std::mutex> g(FMotionDetectorListLock);
  for (auto& [k, detector] : FMotionDetectorList)
    if (k == key) return *detector;
  auto detector = std::make_unique<TKzMotionDetector>();
  Configure(key, *detector);
  FMotionDetectorList.emplace_back(key, std::move(detector));
  return *FMotionDetectorList.back().second;
}

TKzDetectionRegionItem* TKzMultiMotionDetectorProperties::GetProperty(const TGUID& Source) const {
  return FItems.FindItem(GUIDToStringA(Source));
}

bool TKzMultiMotionDetectorProperties::IsSearchEnabled(const TGUID& Source) const {
  TKzMotionDetectorValues item;
  const bool hasItem = FItems.FindValues(GUIDToStringA(Source), item);
  const bool useGlobal = UseGlobalParams();
  return ((useGlobal || !hasItem) && SearchRegion()) || (hasItem && item.SearchRegion && !useGlobal);
}

void TKzMultiMotionDetectorProperties::Update() {
  std::lock_guard<std::mutex> g(FMotionDetectorListLock);
  for (auto& [key, detector] : FMotionDetectorList) Configure(key, *detector);
}

TKzMotionDetector* TKzMultiMotionDetectorProperties::DetectMotion(const TGUID& Source, const TKzMCustomBitmap& Frame) {
  if (!IsSearchEnabled(Source)) return nullptr;
  TKzMotionDetector& detector = GetMotionDetector(Source);
  RunDetection(detector, Frame);
  return &detector;
}

}  // namespace kz
