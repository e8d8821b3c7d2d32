// A registry of records keyed by a 16-byte GUID. The index is a trie over
// the GUID's 16 wire bytes: tables of 256 entries, allocated on demand,
// sixteen steps and no comparison per lookup; the last level holds the
// record's slot + 1. Slots are recycled through a free list instead of
// being compacted. Walking the trie in ascending byte order yields the
// GUIDs sorted by their bytes.
//
// The registry does not lock: its owner serialises every use.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"

namespace kz {

template <typename T>
class TKzListGUID {
public:
  static constexpr size_t kInitialLength = 1000;

  TKzListGUID() {
    Items.reserve(kInitialLength);
    FreeItems.reserve(kInitialLength);
  }
  ~TKzListGUID() { FreeTable(&TreeGUID, 0); }
  TKzListGUID(const TKzListGUID&) = delete;
  TKzListGUID& operator=(const TKzListGUID&) = delete;

  bool IsFinished = false;
  uint32_t MaxGUIDs = 0;  // 0: no limit

  uint32_t CountItem() const { return FCountItem; }
  size_t Count() const { return Items.size(); }
  size_t FreeCount() const { return FreeItems.size(); }

  // The record of AGUID, made when absent and CanCreate (unless MaxGUIDs
  // records exist). IsNew tells whether it was made now.
  T* GetGUID(const TGUID& AGUID, bool& IsNew, bool CanCreate) {
    IsNew = false;
    uint8_t key[16];
    GUIDToBytes(AGUID, key);
    TTable* t = &TreeGUID;
    for (int level = 0; level < 15; ++level) {
      TTable*& next = t->E[key[level]];
      if (!next) {
        if (!CanCreate) return nullptr;
        next = new TTable();
      }
      t = next;
    }
    uintptr_t& entry = reinterpret_cast<uintptr_t&>(t->E[key[15]]);
    if (entry == 0) {
      if (!CanCreate || (MaxGUIDs != 0 && FCountItem >= MaxGUIDs)) {
        Prune(key);
        return nullptr;
      }
      IsNew = true;
      entry = NewItem() + 1;
      ++FCountItem;
    }
    return Items[entry - 1].get();
  }
  T* Find(const TGUID& AGUID) {
    bool isNew = false;
    return GetGUID(AGUID, isNew, false);
  }
  // Removes the record; false when there was none.
  bool FreeGUID(const TGUID& AGUID) {
    uint8_t key[16];
    GUIDToBytes(AGUID, key);
    TTable* t = &TreeGUID;
    for (int level = 0; level < 15 && t; ++level) t = t->E[key[level]];
    if (!t) return false;
    uintptr_t& entry = reinterpret_cast<uintptr_t&>(t->E[key[15]]);
    if (entry == 0) return false;
    const size_t slot = entry - 1;
    entry = 0;
    Prune(key);
    FreeItem(slot);
    --FCountItem;
    return true;
  }
  // Every GUID with its record, sorted by the GUID's bytes.
  void ForEach(const std::function<void(const TGUID&, T&)>& Proc) {
    uint8_t key[16];
    Walk(&TreeGUID, 0, key, Proc);
  }
  // Removes everything.
  void Clear() {
    FreeTable(&TreeGUID, 0);
    TreeGUID = TTable();
    Items.clear();
    FreeItems.clear();
    FCountItem = 0;
  }

private:
  // Levels 0..14 point at the next level's table; level 15 holds slot + 1.
  struct TTable {
    std::array<TTable*, 256> E{};
  };

  size_t NewItem() {
    size_t slot;
    if (!FreeItems.empty()) {
      slot = FreeItems.back();
      FreeItems.pop_back();
      Items[slot] = std::make_unique<T>();
    } else {
      slot = Items.size();
      if (Items.size() == Items.capacity()) Items.reserve(Items.capacity() * 2);
      Items.push_back(std::make_unique<T>());
    }
    return slot;
  }
  void FreeItem(size_t Slot) {
    Items[Slot].reset();
    if (Slot + 1 == Items.size()) {
      Items.pop_back();
    } else {
      if (FreeItems.size() == FreeItems.capacity()) FreeItems.reserve(FreeItems.capacity() * 2);
      FreeItems.push_back(Slot);
    }
  }
  static bool Empty(const TTable* T_) {
    for (TTable* e : T_->E)
      if (e) return false;
    return true;
  }
  // Frees the tables on Key's path that became empty, deepest first.
  void Prune(const uint8_t* Key) {
    TTable* path[16];
    path[0] = &TreeGUID;
    int depth = 0;
    for (; depth < 15 && path[depth]->E[Key[depth]]; ++depth) path[depth + 1] = path[depth]->E[Key[depth]];
    for (int level = depth; level > 0; --level) {
      if (!Empty(path[level])) break;
      delete path[level];
      path[level - 1]->E[Key[level - 1]] = nullptr;
    }
  }
  static void FreeTable(TTable* T_, int Level) {
    if (Level == 15) return;
    for (TTable*& e : T_->E) {
      if (!e) continue;
      FreeTable(e, Level + 1);
      delete e;
      e = nullptr;
    }
  }
  void Walk(TTable* T_, int Level, uint8_t* Key, const std::function<void(const TGUID&, T&)>& Proc) {
    for (int i = 0; i < 256; ++i) {
      if (!T_->E[i]) continue;
      Key[Level] = static_cast<uint8_t>(i);
      if (Level == 15) {
        Proc(GUIDFromBytes(Key), *Items[reinterpret_cast<uintptr_t>(T_->E[i]) - 1]);
      } else {
        Walk(T_->E[i], Level + 1, Key, Proc);
      }
    }
  }

  TTable TreeGUID;
  std::vector<std::unique_ptr<T>> Items;
  std::vector<size_t> FreeItems;
  uint32_t FCountItem = 0;
};

}  // namespace kz
