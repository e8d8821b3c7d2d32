// Per-source motion detector settings of a receiver: a collection of items,
// each naming a source by its identifier text and carrying its own copy of
// the detector settings.
//
// Items are added, changed and removed on the main thread; draw threads read
// an item's settings through FindValues, under the collection's lock, so an
// item may be removed while a frame of its source is being processed.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformComponent.h"
#include "video/fmxMKzMotionDetector.h"

namespace kz {

class TKzDetectionRegionCollection;

class TKzDetectionRegionItem : public TPersistent, public TKzMotionDetectorSettings<TKzDetectionRegionItem> {
public:
  TKzDetectionRegionCollection& Collection() const { return FCollection; }
  // Position in the collection. Main thread.
  int32_t Index() const;
  // Copies GUIDFrom and the settings of another item. Main thread.
  void Assign(const TPersistent& Source) override;

  // Properties (the nine settings come from TKzMotionDetectorSettings): main
  // thread; never block (short lock). Every setter reports the change to the
  // collection's owner (OnModify).
  // The source, as identifier text in registry form; matched without regard to case.
  std::string GUIDFrom() const;
  void SetGUIDFrom(const std::string& Value);
  // All nine settings at once. Any thread, never blocks (short lock).
  TKzMotionDetectorValues Values() const;
  void SetValues(const TKzMotionDetectorValues& Value);
  // One of the nine settings.
  template <class T>
  void SetValue(T TKzMotionDetectorValues::*Field, T Value);

private:
  friend class TKzDetectionRegionCollection;
  explicit TKzDetectionRegionItem(TKzDetectionRegionCollection& Owner) : FCollection(Owner) {}

  TKzDetectionRegionCollection& FCollection;
  // Both guarded by the collection's FItemsLock.
  std::string FGUIDFrom;
  TKzMotionDetectorValues FValues;
};

class TKzDetectionRegionCollection : public TPersistent {
public:
  using TKzDetectionRegionNotify = std::function<void(TKzDetectionRegionItem& Item)>;

  // Main thread, never blocks. Owner is the persistent object holding the collection.
  explicit TKzDetectionRegionCollection(TPersistent* AOwner = nullptr) : FOwner(AOwner) {}
  TKzDetectionRegionCollection(const TKzDetectionRegionCollection&) = delete;
  TKzDetectionRegionCollection& operator=(const TKzDetectionRegionCollection&) = delete;
  TPersistent* Owner() const { return FOwner; }

  // ---- Main thread; never block (short lock). Events run without the lock held.
  // A new item with the default settings; fires OnAdd.
  TKzDetectionRegionItem& Add();
  // Fires OnRemove once the item is out of the collection, then frees it.
  // An index out of range raises EKzMediaError.
  void Delete(int32_t Index);
  void Clear();
  int32_t Count() const;
  TKzDetectionRegionItem& Items(int32_t Index) const;
  TKzDetectionRegionItem& operator[](int32_t Index) const { return Items(Index); }
  // The first item whose GUIDFrom names GUIDText, or null.
  TKzDetectionRegionItem* FindItem(const std::string& GUIDText) const;
  // Replaces the items by copies of Source's items.
  void Assign(const TPersistent& Source) override;

  // The settings of the first item for GUIDText. Any thread, never blocks (short lock).
  bool FindValues(const std::string& GUIDText, TKzMotionDetectorValues& Values) const;

  // The owner's notifications, on the main thread.
  TKzDetectionRegionNotify OnAdd;
  TKzDetectionRegionNotify OnModify;
  TKzDetectionRegionNotify OnRemove;

private:
  friend class TKzDetectionRegionItem;
  int32_t IndexOfLocked(const std::string& GUIDText) const;

  TPersistent* FOwner;
  // Guards the item list and every item's GUIDFrom and settings.
  mutable std::mutex FItemsLock;
  std::vector<std::unique_ptr<TKzDetectionRegionItem>> FItems;
};

template <class T>
void TKzDetectionRegionItem::SetValue(T TKzMotionDetectorValues::*Field, T Value) {
  {
    std::lock_guard<std::mutex> g(FCollection.FItemsLock);
    FValues.*Field = Value;
  }
  if (FCollection.OnModify) FCollection.OnModify(*this);
}

}  // namespace kz
