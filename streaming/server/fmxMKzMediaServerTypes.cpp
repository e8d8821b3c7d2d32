#include "streaming/server/fmxMKzMediaServerTypes.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "streaming/server/fmxMKzClientRedirect.h"

namespace kz {

namespace {

struct TKindRow {
  uint8_t Code;
  TKzMediaType Type;
};
constexpr TKindRow kKinds[] = {
    {DATA_TYPE_VIDEO, TKzMediaType::kzmtVideo},       {DATA_TYPE_AUDIO, TKzMediaType::kzmtAudio},
    {DATA_TYPE_USERDATA, TKzMediaType::kzmtUserData}, {DATA_TYPE_CMD, TKzMediaType::kzmtCmdData},
    {DATA_TYPE_FILE, TKzMediaType::kzmtFileData},
};

struct TOptionRow {
  const char* Name;
  TKzCmdOption Option;
};
constexpr TOptionRow kOptions[] = {
    {"usesystemcmd", TKzCmdOption::kzcpUseSystemCmd},   {"cmdallgroups", TKzCmdOption::kzcpCmdAllGroups},
    {"cmdallusers", TKzCmdOption::kzcpCmdAllUsers},     {"cmdallonline", TKzCmdOption::kzcpCmdAllOnline},
    {"cmdresetserver", TKzCmdOption::kzcpCmdResetServer},
};

}  // namespace

bool KzParseCmdOptions(const std::string& Text, TKzCmdOptions& Options) {
  TKzCmdOptions result;
  std::istringstream items(Text);
  for (std::string item; std::getline(items, item, ',');) {
    std::string name;
    for (char c : item)
      if (!std::isspace(static_cast<unsigned char>(c))) name.push_back(static_cast<char>(std::tolower(c)));
    if (name.empty()) continue;
    if (name.rfind("kzcp", 0) == 0) name.erase(0, 4);
    const auto* row = std::find_if(std::begin(kOptions), std::end(kOptions), [&](const TOptionRow& r) { return name == r.Name; });
    if (row == std::end(kOptions)) return false;
    result += row->Option;
  }
  Options = result;
  return true;
}

int KzKindSlot(uint8_t Code) {
  for (int i = 0; i < 5; ++i)
    if (kKinds[i].Code == Code) return i;
  return -1;
}

uint8_t KzSlotKind(int Slot) { return Slot >= 0 && Slot < 5 ? kKinds[Slot].Code : 0; }

TKzMediaType KzKindMediaType(uint8_t Code) {
  const int slot = KzKindSlot(Code);
  return slot < 0 ? TKzMediaType::kzmtVideo : kKinds[slot].Type;
}

bool TKzMediaServerGUIDItem::Add(const TGUID& G) {
  if (IndexOf(G) >= 0) return false;
  if (GUIDs.size() == GUIDs.capacity()) GUIDs.reserve(2 * GUIDs.capacity() + 1);
  GUIDs.push_back(G);
  return true;
}

bool TKzMediaServerGUIDItem::Remove(const TGUID& G) {
  const int i = IndexOf(G);
  if (i < 0) return false;
  GUIDs.erase(GUIDs.begin() + i);
  if (GUIDs.empty()) GUIDs = std::vector<TGUID>();
  return true;
}

int TKzMediaServerGUIDItem::IndexOf(const TGUID& G) const {
  const auto it = std::find(GUIDs.begin(), GUIDs.end(), G);
  return it == GUIDs.end() ? -1 : static_cast<int>(it - GUIDs.begin());
}

bool TKzMediaServerSenderItem::Accepts(uint8_t Code, const TGUID& From) const {
  const bool kind = (Mask & Code & KZ_MASK_KINDS) != 0 || Mask == KZ_MASK_FROM_ALL;
  if (!kind || (Mask & KZ_MASK_FROM_NONE)) return false;
  if (!Receivers.GUIDs.empty()) return Receivers.IndexOf(From) >= 0;
  return (Mask & KZ_MASK_FROM_ALL) != 0;
}

bool TKzMediaServerSenderItem::NoChannel() const {
  return std::none_of(ClientRedirect.begin(), ClientRedirect.end(), [](const auto& c) { return c != nullptr; });
}

std::string KzShortGUID(const TGUID& G) { return GUIDToStringA(G).substr(0, 9) + "...}"; }

}  // namespace kz
