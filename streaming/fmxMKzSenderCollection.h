// The senders a receiver pulls from and the filter it applies to what
// arrives: per sender an address (pull topology), and per data type a list
// of accepted source GUIDs with a default for an empty list.
//
// The collections belong to the main thread; the network threads read an
// immutable snapshot (TKzSenderFilter) taken when they start or when the
// collection changes.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzType.h"

namespace kz {

class TKzSenderItem {
public:
  // The GUID in registry text ("" for the empty entry); malformed text
  // raises EKzConvertError. Main thread.
  const std::string& GUIDFrom() const { return FGUIDFrom; }
  void SetGUIDFrom(const std::string& Value);
  const TGUID& GUID() const { return FGUID; }

private:
  std::string FGUIDFrom;
  TGUID FGUID;
};

// Accepted sources of one data type. Main thread.
class TKzSenderCollection : public TPersistent {
public:
  void Assign(const TPersistent& Source) override;
  size_t Count() const { return FItems.size(); }
  const TKzSenderItem& Items(size_t Index) const { return FItems[Index]; }
  // The entry of that GUID (text compared as GUIDs), null when none.
  const TKzSenderItem* FindGUID(const std::string& GUID) const;
  // Adds the entry unless it is there; DeleteGUID: false when it was not.
  void AddGUID(const std::string& GUID);
  bool DeleteGUID(const std::string& GUID);
  void Clear();
  // Told after every change.
  std::function<void()> OnChange;

private:
  void Changed() {
    if (OnChange) OnChange();
  }
  std::vector<TKzSenderItem> FItems;
};

class TKzSenderCollectionEx;

class TKzSenderItemEx {
public:
  explicit TKzSenderItemEx(TKzSenderCollectionEx* Collection = nullptr);
  TKzSenderItemEx(const TKzSenderItemEx&) = delete;
  TKzSenderItemEx& operator=(const TKzSenderItemEx&) = delete;
  void Assign(const TKzSenderItemEx& Source);

  const std::string& GUIDFrom() const { return FGUIDFrom.GUIDFrom(); }
  const TGUID& GUID() const { return FGUIDFrom.GUID(); }
  void SetGUIDFrom(const std::string& Value);
  const std::string& SenderHost() const { return FSenderHost; }
  void SetSenderHost(const std::string& Value);
  uint16_t SenderPort() const { return FSenderPort; }
  void SetSenderPort(uint16_t Value);

  TKzSenderCollection& VideoSenders() { return FLists[0]; }
  TKzSenderCollection& AudioSenders() { return FLists[1]; }
  TKzSenderCollection& UserDataSenders() { return FLists[2]; }
  TKzSenderCollection& FileSenders() { return FLists[3]; }
  TKzSenderCollection& CmdSenders() { return FLists[4]; }
  // The list and the default of a media kind.
  TKzSenderCollection& SendersOf(TKzMediaType Type) { return FLists[static_cast<size_t>(Type)]; }
  const TKzSenderCollection& SendersOf(TKzMediaType Type) const { return FLists[static_cast<size_t>(Type)]; }
  bool DefaultAcceptAll(TKzMediaType Type) const { return FDefaults[static_cast<size_t>(Type)]; }
  void SetDefaultAcceptAll(TKzMediaType Type, bool Value);
  bool VideoDefaultAcceptAll() const { return FDefaults[0]; }
  bool AudioDefaultAcceptAll() const { return FDefaults[1]; }
  bool UserDefaultAcceptAll() const { return FDefaults[2]; }
  bool FileDefaultAcceptAll() const { return FDefaults[3]; }
  bool CmdDefaultAcceptAll() const { return FDefaults[4]; }

private:
  void Modified();
  TKzSenderCollectionEx* FCollection;
  TKzSenderItem FGUIDFrom;
  std::string FSenderHost;
  uint16_t FSenderPort = 0;
  std::array<TKzSenderCollection, 5> FLists;
  std::array<bool, 5> FDefaults{true, true, true, true, true};
};

// The snapshot the network threads read.
struct TKzSenderFilter {
  struct TEntry {
    TGUID GUIDFrom;  // null: accepts through Lists / Defaults
    std::string Host;
    uint16_t Port = 0;
    std::array<std::vector<TGUID>, 5> Lists;  // by media kind; a null GUID accepts all
    std::array<bool, 5> Defaults{true, true, true, true, true};
  };
  std::vector<TEntry> Items;
  // Whether a packet of data type Code (1..16) from GUIDFrom passes: always
  // with no items; else when an item names GUIDFrom, or an item without a
  // GUID lists it (or lists the empty entry), or has an empty list for the
  // type and accepts all by default. Any thread.
  bool Accepts(uint8_t Code, const TGUID& GUIDFrom) const;
};

class TKzSenderCollectionEx : public TPersistent {
public:
  TKzSenderCollectionEx() = default;
  TKzSenderCollectionEx(const TKzSenderCollectionEx&) = delete;
  TKzSenderCollectionEx& operator=(const TKzSenderCollectionEx&) = delete;
  void Assign(const TPersistent& Source) override;

  size_t Count() const { return FItems.size(); }
  TKzSenderItemEx& Items(size_t Index) { return *FItems[Index]; }
  const TKzSenderItemEx& Items(size_t Index) const { return *FItems[Index]; }
  TKzSenderItemEx& Add();
  void Delete(size_t Index);
  void Clear();
  // The item of that GUID text, null when none.
  TKzSenderItemEx* FindGUID(const std::string& GUID);
  std::shared_ptr<const TKzSenderFilter> Snapshot() const;

  // Told of additions, changes (the item's own fields or lists) and removals.
  std::function<void(TKzSenderItemEx&)> HookAppendItem, HookModifyItem, HookRemoveItem;

private:
  friend class TKzSenderItemEx;
  std::vector<std::unique_ptr<TKzSenderItemEx>> FItems;
};

}  // namespace kz
