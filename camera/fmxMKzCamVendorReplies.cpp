#include "camera/fmxMKzCamVendorReplies.h"

#include <algorithm>

#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
TKzUserAccess FoscamAccess(int64_t Privilege) {
  return Privilege == 2 ? TKzUserAccess::uaAdmin
         : Privilege == 1 ? TKzUserAccess::uaOperator
                          : TKzUserAccess::uaVisitor;
}
constexpr int kMaxUsers = 64;
}  // namespace

bool KzFoscamReplyValid(const std::string& Reply) {
  const std::string head = KzLowerCase(KzTrim(Reply.substr(0, 64)));
  return !head.empty() && head.rfind("<html", 0) != 0;
}

std::vector<TKzVendorUser> KzFoscamUsers(const std::string& Reply) {
  std::vector<TKzVendorUser> users;
  for (int n = 1; n <= kMaxUsers; ++n) {
    const std::string k = "user" + std::to_string(n);
    if (!URL_HasValue(Reply, k + "_name")) break;
    users.push_back({URL_GetValue(Reply, k + "_name"), URL_GetValue(Reply, k + "_pwd"),
                     FoscamAccess(URL_GetValueInt(Reply, k + "_pri", 0))});
  }
  return users;
}

int32_t KzFoscamHDResult(const std::string& Reply) {
  if (KzPosI(Reply, "<CGI_Result>") == std::string::npos) return -100;
  return static_cast<int32_t>(XML_GetValueInt(Reply, "result", -100));
}

bool KzFoscamHDReplyValid(const std::string& Reply) { return KzFoscamHDResult(Reply) == 0; }

TKzVendorUsers KzFoscamHDUsers(const std::string& Reply) {
  TKzVendorUsers users;
  const int64_t count = std::clamp<int64_t>(XML_GetValueInt(Reply, "usrCnt", 0), 0, kMaxUsers);
  for (int64_t n = 1; n <= count; ++n) {
    const std::string v = XML_GetValue(Reply, "usr" + std::to_string(n));
    const size_t plus = v.rfind('+');
    if (v.empty() || plus == 0) continue;
    const std::string name = v.substr(0, plus);
    const int64_t pri = plus == std::string::npos ? 0 : KzStrToIntDef(v.substr(plus + 1), 0);
    users.emplace_back(name, FoscamAccess(pri));
  }
  return users;
}

int32_t KzPanasonicData(const std::string& Reply, int32_t Default) {
  return static_cast<int32_t>(PAIR_GetValueInt(Reply, "Data", Default));
}

std::string KzDLinkProduct(const std::string& Reply) {
  const size_t b = KzPosI(Reply, "<product>");
  if (b == std::string::npos) return "";
  const size_t e = KzPosI(Reply, "</product>", b);
  return e == std::string::npos ? "" : KzTrim(Reply.substr(b + 9, e - b - 9));
}

int32_t KzDLinkModelIndex(const std::string& Model) {
  static const std::vector<std::vector<std::string>> lists = {
      {"DCS-930", "DCS-1100", "DCS-1130", "DCS-2102", "DCS-2121", "DCS-3110", "DCS-3410", "DCS-3411", "DCS-3415",
       "DCS-3430", "DCS-3710", "DCS-5230", "DCS-5605", "DCS-5635", "DCS-6111", "DCS-6410", "DCS-6510", "DCS-6511",
       "DCS-6817", "DCS-6818", "DCS-7110", "DCS-7410", "DCS-7510", "DCS-7510", "DVS-210-1", "DVS-310-1"},
      {"DCS-910", "DCS-920"},
      {"DCS-3110", "DCS-5610", "DCS-6110"},
      {"DCS-900"},
      {"DCS-2000+", "DCS-2100", "DCS-2120", "DCS-3230", "DCS-5220", "DCS-5300", "DCS-6620(G)"},
      {"DVS-104", "DVS-301"},
  };
  const std::string name = KzUpperCase(Model);
  for (size_t i = 0; i < lists.size(); ++i)
    if (std::find(lists[i].begin(), lists[i].end(), name) != lists[i].end()) return static_cast<int32_t>(i + 1);
  return 0;
}

bool KzAxisParamsValid(const std::string& Reply) { return KzPosI(Reply, "properties") != std::string::npos; }

TKzVendorUsers KzAxisUsers(const std::string& Reply) {
  static const std::pair<const char*, TKzUserAccess> groups[] = {
      {"admin", TKzUserAccess::uaAdmin},     {"operator", TKzUserAccess::uaOperator},
      {"ptz", TKzUserAccess::uaOperator},    {"viewer", TKzUserAccess::uaVisitor},
      {"anonymous", TKzUserAccess::uaPresent}};
  TKzVendorUsers users;
  for (const auto& [key, access] : groups) {
    const std::string list = LINE_GetValue(Reply, key);
    for (size_t b = 0; b < list.size() && users.size() < static_cast<size_t>(kMaxUsers);) {
      size_t e = list.find(',', b);
      if (e == std::string::npos) e = list.size();
      const std::string name = KzTrim(list.substr(b, e - b));
      b = e + 1;
      if (name.empty()) continue;
      const bool known = std::any_of(users.begin(), users.end(), [&](const auto& u) { return u.first == name; });
      if (!known) users.emplace_back(name, access);
    }
  }
  return users;
}

bool KzMobotixBrightness(const std::string& Reply, int32_t& Value) {
  Value = 0;
  static const std::string kKey = "brightness=";
  if (Reply.compare(0, kKey.size(), kKey) != 0) return false;
  const size_t e = Reply.find_first_of(" \r\n", kKey.size());
  const std::string text = Reply.substr(kKey.size(), e == std::string::npos ? std::string::npos : e - kKey.size());
  const int64_t bad = INT64_MIN;
  const int64_t v = KzStrToIntDef(text, bad);
  if (v == bad || v < INT32_MIN || v > INT32_MAX) return false;
  Value = static_cast<int32_t>(v);
  return true;
}

}  // namespace kz
