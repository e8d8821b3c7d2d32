#include "video/fmxMKzDetectionRegions.h"

#include <strings.h>

#include "foundation/fmxMKzErrors.h"

namespace kz {

namespace {

bool SameSource(const std::string& A, const std::string& B) {
  return A.size() == B.size() && strncasecmp(A.c_str(), B.c_str(), A.size()) == 0;
}

}  // namespace

// ---- Item

int32_t TKzDetectionRegionItem::Index() const {
  std::lock_guard<std::mutex> g(FCollection.FItemsLock);
  for (size_t i = 0; i < FCollection.FItems.size(); ++i)
    if (FCollection.FItems[i].get() == this) return static_cast<int32_t>(i);
  return -1;
}

void TKzDetectionRegionItem::Assign(const TPersistent& Source) {
  const auto* item = dynamic_cast<const TKzDetectionRegionItem*>(&Source);
  if (!item) return TPersistent::Assign(Source);
  if (item == this) return;
  const std::string guid = item->GUIDFrom();
  const TKzMotionDetectorValues values = item->Values();
  {
    std::lock_guard<std::mutex> g(FCollection.FItemsLock);
    FGUIDFrom = guid;
    FValues = values;
  }
  if (FCollection.OnModify) FCollection.OnModify(*this);
}

std::string TKzDetectionRegionItem::GUIDFrom() const {
  std::lock_guard<std::mutex> g(FCollection.FItemsLock);
  return FGUIDFrom;
}

void TKzDetectionRegionItem::SetGUIDFrom(const std::string& Value) {
  {
    std::lock_guard<std::mutex> g(FCollection.FItemsLock);
    FGUIDFrom = Value;
  }
  if (FCollection.OnModify) FCollection.OnModify(*this);
}

TKzMotionDetectorValues TKzDetectionRegionItem::Values() const {
  std::lock_guard<std::mutex> g(FCollection.FItemsLock);
  return FValues;
}

void TKzDetectionRegionItem::SetValues(const TKzMotionDetectorValues& Value) {
  {
    std::lock_guard<std::mutex> g(FCollection.FItemsLock);
    FValues = Value;
  }
  if (FCollection.OnModify) FCollection.OnModify(*this);
}

// ---- Collection

TKzDetectionRegionItem& TKzDetectionRegionCollection::Add() {
  TKzDetectionRegionItem* item;
  {
    std::lock_guard<std::mutex> g(FItemsLock);
    FItems.push_back(std::unique_ptr<TKzDetectionRegionItem>(new TKzDetectionRegionItem(*this)));
    item = FItems.back().get();
  }
  if (OnAdd) OnAdd(*item);
  return *item;
}

void TKzDetectionRegionCollection::Delete(int32_t Index) {
  std::unique_ptr<TKzDetectionRegionItem> item;
  {
    std::lock_guard<std::mutex> g(FItemsLock);
    if (Index < 0 || Index >= static_cast<int32_t>(FItems.size()))
      throw EKzMediaError("List index out of bounds (" + std::to_string(Index) + ")");
    item = std::move(FItems[Index]);
    FItems.erase(FItems.begin() + Index);
  }
  if (OnRemove) OnRemove(*item);
}

void TKzDetectionRegionCollection::Clear() {
  while (Count() > 0) Delete(Count() - 1);
}

int32_t TKzDetectionRegionCollection::Count() const {
  std::lock_guard<std::mutex> g(FItemsLock);
  return static_cast<int32_t>(FItems.size());
}

TKzDetectionRegionItem& TKzDetectionRegionCollection::Items(int32_t Index) const {
  std::lock_guard<std::mutex> g(FItemsLock);
  if (Index < 0 || Index >= static_cast<int32_t>(FItems.size()))
    throw EKzMediaError("List index out of bounds (" + std::to_string(Index) + ")");
  return *FItems[Index];
}

int32_t TKzDetectionRegionCollection::IndexOfLocked(const std::string& GUIDText) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (SameSource(FItems[i]->FGUIDFrom, GUIDText)) return static_cast<int32_t>(i);
  return -1;
}

TKzDetectionRegionItem* TKzDetectionRegionCollection::FindItem(const std::string& GUIDText) const {
  std::lock_guard<std::mutex> g(FItemsLock);
  const int32_t i = IndexOfLocked(GUIDText);
  return i < 0 ? nullptr : FItems[i].get();
}

bool TKzDetectionRegionCollection::FindValues(const std::string& GUIDText, TKzMotionDetectorValues& Values) const {
  std::lock_guard<std::mutex> g(FItemsLock);
  const int32_t i = IndexOfLocked(GUIDText);
  if (i < 0) return false;
  Values = FItems[i]->FValues;
  return true;
}

void TKzDetectionRegionCollection::Assign(const TPersistent& Source) {
  const auto* other = dynamic_cast<const TKzDetectionRegionCollection*>(&Source);
  if (!other) return TPersistent::Assign(Source);
  if (other == this) return;
  Clear();
  for (int32_t i = 0; i < other->Count(); ++i) Add().Assign(other->Items(i));
}

}  // namespace kz
