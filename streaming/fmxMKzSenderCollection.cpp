#include "streaming/fmxMKzSenderCollection.h"

#include <algorithm>

#include "foundation/Fmxmkzmediatypefuncs.h"

namespace kz {

void TKzSenderItem::SetGUIDFrom(const std::string& Value) {
  FGUID = StringToGUIDA(Value);
  FGUIDFrom = Value.empty() ? std::string() : GUIDToStringA(FGUID);
}

// ---- TKzSenderCollection

void TKzSenderCollection::Assign(const TPersistent& Source) {
  if (auto* s = dynamic_cast<const TKzSenderCollection*>(&Source)) {
    FItems = s->FItems;
    Changed();
  }
}

const TKzSenderItem* TKzSenderCollection::FindGUID(const std::string& GUID) const {
  const TGUID g = StringToGUIDA(GUID);
  for (const TKzSenderItem& i : FItems)
    if (i.GUID() == g) return &i;
  return nullptr;
}

void TKzSenderCollection::AddGUID(const std::string& GUID) {
  if (FindGUID(GUID)) return;
  TKzSenderItem item;
  item.SetGUIDFrom(GUID);
  FItems.push_back(item);
  Changed();
}

bool TKzSenderCollection::DeleteGUID(const std::string& GUID) {
  const TGUID g = StringToGUIDA(GUID);
  auto it = std::find_if(FItems.begin(), FItems.end(), [&](const TKzSenderItem& i) { return i.GUID() == g; });
  if (it == FItems.end()) return false;
  FItems.erase(it);
  Changed();
  return true;
}

void TKzSenderCollection::Clear() {
  FItems.clear();
  Changed();
}

// ---- TKzSenderItemEx

TKzSenderItemEx::TKzSenderItemEx(TKzSenderCollectionEx* Collection) : FCollection(Collection) {
  for (TKzSenderCollection& l : FLists) l.OnChange = [this] { Modified(); };
}

void TKzSenderItemEx::Assign(const TKzSenderItemEx& Source) {
  FGUIDFrom = Source.FGUIDFrom;
  FSenderHost = Source.FSenderHost;
  FSenderPort = Source.FSenderPort;
  FDefaults = Source.FDefaults;
  for (size_t i = 0; i < FLists.size(); ++i) FLists[i].Assign(Source.FLists[i]);
  Modified();
}

void TKzSenderItemEx::Modified() {
  if (FCollection && FCollection->HookModifyItem) FCollection->HookModifyItem(*this);
}

void TKzSenderItemEx::SetGUIDFrom(const std::string& Value) {
  FGUIDFrom.SetGUIDFrom(Value);
  Modified();
}

void TKzSenderItemEx::SetSenderHost(const std::string& Value) {
  FSenderHost = Value;
  Modified();
}

void TKzSenderItemEx::SetSenderPort(uint16_t Value) {
  FSenderPort = Value;
  Modified();
}

void TKzSenderItemEx::SetDefaultAcceptAll(TKzMediaType Type, bool Value) {
  FDefaults[static_cast<size_t>(Type)] = Value;
  Modified();
}

// ---- TKzSenderFilter

bool TKzSenderFilter::Accepts(uint8_t Code, const TGUID& GUIDFrom) const {
  if (Items.empty()) return true;
  const size_t kind = static_cast<size_t>(ConvertToMediaType(Code));
  for (const TEntry& e : Items) {
    if (!IsNull(e.GUIDFrom)) {
      if (e.GUIDFrom == GUIDFrom) return true;
      continue;
    }
    const std::vector<TGUID>& list = e.Lists[kind];
    if (list.empty()) {
      if (e.Defaults[kind]) return true;
      continue;
    }
    for (const TGUID& g : list)
      if (IsNull(g) || g == GUIDFrom) return true;
  }
  return false;
}

// ---- TKzSenderCollectionEx

void TKzSenderCollectionEx::Assign(const TPersistent& Source) {
  auto* s = dynamic_cast<const TKzSenderCollectionEx*>(&Source);
  if (!s || s == this) return;
  Clear();
  for (const auto& item : s->FItems) Add().Assign(*item);
}

TKzSenderItemEx& TKzSenderCollectionEx::Add() {
  FItems.push_back(std::make_unique<TKzSenderItemEx>(this));
  if (HookAppendItem) HookAppendItem(*FItems.back());
  return *FItems.back();
}

void TKzSenderCollectionEx::Delete(size_t Index) {
  if (Index >= FItems.size()) return;
  std::unique_ptr<TKzSenderItemEx> gone = std::move(FItems[Index]);
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(Index));
  if (HookRemoveItem) HookRemoveItem(*gone);
}

void TKzSenderCollectionEx::Clear() {
  while (!FItems.empty()) Delete(FItems.size() - 1);
}

TKzSenderItemEx* TKzSenderCollectionEx::FindGUID(const std::string& GUID) {
  const TGUID g = StringToGUIDA(GUID);
  for (auto& i : FItems)
    if (i->GUID() == g) return i.get();
  return nullptr;
}

std::shared_ptr<const TKzSenderFilter> TKzSenderCollectionEx::Snapshot() const {
  auto f = std::make_shared<TKzSenderFilter>();
  for (const auto& i : FItems) {
    TKzSenderFilter::TEntry e;
    e.GUIDFrom = i->GUID();
    e.Host = i->SenderHost();
    e.Port = i->SenderPort();
    for (size_t k = 0; k < 5; ++k) {
      const auto type = static_cast<TKzMediaType>(k);
      e.Defaults[k] = i->DefaultAcceptAll(type);
      const TKzSenderCollection& l = i->SendersOf(type);
      for (size_t n = 0; n < l.Count(); ++n) e.Lists[k].push_back(l.Items(n).GUID());
    }
    f->Items.push_back(std::move(e));
  }
  return f;
}

}  // namespace kz
