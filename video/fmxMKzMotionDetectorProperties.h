// Motion detector settings as published by the components, and the one
// motion-detection step that draw threads run per output frame.
//
// A camera publishes TKzGlobalMotionDetectorProperties (one detector); a
// receiver publishes TKzMultiMotionDetectorProperties (one detector per
// sending source, with optional per-source settings). Settings are changed
// on the main thread; every setter stores the value and calls Update, which
// pushes the settings into the detectors. Draw threads call DetectMotion.
//
// The properties object must outlive the draw threads that use it: the
// detectors it hands out live as long as it does.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzBitmap.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "video/fmxMKzDetectionRegions.h"
#include "video/fmxMKzMotionDetector.h"

namespace kz {

class TCustomKzMotionDetectorProperties : public TPersistent,
                                          public TKzMotionDetectorSettings<TCustomKzMotionDetectorProperties> {
public:
  // Main thread, never blocks. AParent is the owning component.
  explicit TCustomKzMotionDetectorProperties(TComponent* AParent = nullptr) : FParent(AParent) {}
  TCustomKzMotionDetectorProperties(const TCustomKzMotionDetectorProperties&) = delete;
  TCustomKzMotionDetectorProperties& operator=(const TCustomKzMotionDetectorProperties&) = delete;
  // Copies the nine settings of another properties object. Main thread.
  void Assign(const TPersistent& Source) override;
  TComponent* Parent() const { return FParent; }

  // Published settings (from TKzMotionDetectorSettings). Getters: any
  // thread. Setters: main thread; they store the value and call Update; a
  // change of the processing mode also raises the pending reset flag
  // (NeedResizeArea). They never block for long (short locks).
  // SetValue stores one of the nine settings the same way.
  template <class T>
  void SetValue(T TKzMotionDetectorValues::*Field, T Value);
  // All nine at once. Any thread, never blocks.
  TKzMotionDetectorValues Values() const;

  // The pending reset flag: set by every change of the processing mode,
  // cleared when a draw thread hands it to a detector. Any thread.
  bool NeedResizeArea() const { return FNeedResizeArea.load(); }
  void SetNeedResizeArea(bool Value) { FNeedResizeArea.store(Value); }

  // Copies processing mode, test mode, the four thresholds, the maximum
  // region count and the minimum area into Detector. Any thread, never blocks.
  void UpdateMotionDetector(TKzMotionDetector& Detector) const;
  // Pushes the settings into the detectors. Main thread, never blocks for long.
  virtual void Update() {}

protected:
  // The step every draw thread runs: hands the pending reset flag to the
  // detector, detects the changes of Frame against the detector's reference
  // image (oImg) and brings that reference up to date.
  void RunDetection(TKzMotionDetector& Detector, const TKzMCustomBitmap& Frame);

private:
  TComponent* FParent;
  mutable std::mutex FValuesLock;  // guards FValues (set on the main thread, read by draw threads)
  TKzMotionDetectorValues FValues;
  std::atomic<bool> FNeedResizeArea{false};
};

class TKzGlobalMotionDetectorProperties;

// What a camera hands its draw thread.
class IGlobalMotionDetectorProperties {
public:
  virtual ~IGlobalMotionDetectorProperties() = default;
  virtual TKzGlobalMotionDetectorProperties& GetMotionDetectorProperties() = 0;
};

// The settings of a camera: one detector.
class TKzGlobalMotionDetectorProperties : public TCustomKzMotionDetectorProperties,
                                          public IGlobalMotionDetectorProperties {
public:
  using TCustomKzMotionDetectorProperties::TCustomKzMotionDetectorProperties;
  TKzGlobalMotionDetectorProperties& GetMotionDetectorProperties() override { return *this; }

  // The detector, created and configured on first use. Any thread, never blocks for long.
  TKzMotionDetector& GetMotionDetector();
  // Reconfigures the detector when it exists. Main thread.
  void Update() override;

  // The motion-detection step of the draw thread for one output frame:
  // pending reset flag, DetectChanges against the detector's reference
  // image, reference update. Returns the detector, whose regions the
  // regions event then reads. Draw thread; never blocks for long.
  TKzMotionDetector& DetectMotion(const TKzMCustomBitmap& Frame);

private:
  std::mutex FDetectorLock;  // guards the creation of FMotionDetector
  std::unique_ptr<TKzMotionDetector> FMotionDetector;
};

// The settings of a receiver: one detector per sending source; the global
// settings apply to every source unless UseGlobalParams is off and Items
// holds an entry for it.
class TKzMultiMotionDetectorProperties : public TCustomKzMotionDetectorProperties {
public:
  // Main thread, never blocks.
  explicit TKzMultiMotionDetectorProperties(TComponent* AParent = nullptr);
  // Copies the global settings, UseGlobalParams and the items. Main thread.
  void Assign(const TPersistent& Source) override;

  // Any thread reads; set on the main thread (calls Update).
  bool UseGlobalParams() const { return FUseGlobalParams.load(); }
  void SetUseGlobalParams(bool Value);
  // The per-source settings. Changes made through it call Update.
  TKzDetectionRegionCollection& Items() { return FItems; }
  const TKzDetectionRegionCollection& Items() const { return FItems; }

  // The detector of Source (looked up by its registry text), created on
  // first use: configured from the global settings and then, when
  // UseGlobalParams is off and Items has an entry for Source, from that
  // entry. Any thread, never blocks for long.
  TKzMotionDetector& GetMotionDetector(const TGUID& Source);
  // The entry of Source, or null. Main thread.
  TKzDetectionRegionItem* GetProperty(const TGUID& Source) const;
  // Whether frames of Source are searched for regions: (UseGlobalParams is
  // set or Source has no entry) and the global SearchRegion is set, or
  // Source's entry exists with SearchRegion set and UseGlobalParams is off.
  // Any thread, never blocks for long.
  bool IsSearchEnabled(const TGUID& Source) const;
  // Reconfigures every listed detector. Main thread.
  void Update() override;

  // The motion-detection step of the multi-source draw thread for one output
  // frame of Source: when IsSearchEnabled(Source), as the global step with
  // the source's detector, which it returns; otherwise null and nothing is
  // done. Draw thread; never blocks for long.
  TKzMotionDetector* DetectMotion(const TGUID& Source, const TKzMCustomBitmap& Frame);

private:
  void Configure(const std::string& Key, TKzMotionDetector& Detector) const;

  std::atomic<bool> FUseGlobalParams{true};
  TKzDetectionRegionCollection FItems;
  // Guards FMotionDetectorList. Taken before the items' lock, never after.
  mutable std::mutex FMotionDetectorListLock;
  std::vector<std::pair<std::string, std::unique_ptr<TKzMotionDetector>>> FMotionDetectorList;
};

template <class T>
void TCustomKzMotionDetectorProperties::SetValue(T TKzMotionDetectorValues::*Field, T Value) {
  {
    std::lock_guard<std::mutex> g(FValuesLock);
    FValues.*Field = Value;
  }
  if constexpr (std::is_same_v<T, TKzChangedAreaProcessingMode>) FNeedResizeArea.store(true);
  Update();
}

}  // namespace kz
