#include "streaming/server/fmxMKzServerCmd.h"

#include <algorithm>

namespace kz {

namespace {

constexpr TKzCmdOptions Needs(std::initializer_list<TKzCmdOption> Options) {
  TKzCmdOptions o;
  for (TKzCmdOption x : Options) o += x;
  return o;
}

using O = TKzCmdOption;
using K = TKzServerCmdKind;

// What each parameter block holds.
enum class TParams : uint8_t { None, Group, User, Users, AllowAll, Join };

struct TRow {
  const char* Name;
  K Kind;
  TParams Params;
  TKzCmdOptions Needs;
};
constexpr TRow kCommands[] = {
    {"KzS_LIST_USER_GROUP", K::kzscListUserGroup, TParams::Group, {}},
    {"KzS_LIST_USER_GROUP_ONLINE", K::kzscListUserGroupOnline, TParams::Group, {}},
    {"KzS_GET_GROUP_INFO", K::kzscGetGroupInfo, TParams::Group, {}},
    {"KzS_ADD_RECV_USER", K::kzscAddRecvUser, TParams::User, {}},
    {"KzS_ADD_RECV_USERS", K::kzscAddRecvUsers, TParams::Users, {}},
    {"KzS_DEL_RECV_ALL", K::kzscDelRecvAll, TParams::AllowAll, {}},
    {"KzS_DEL_RECV_USER", K::kzscDelRecvUser, TParams::User, {}},
    {"KzS_ADD_SENDER_USER", K::kzscAddSenderUser, TParams::User, {}},
    {"KzS_DEL_SENDER_USER", K::kzscDelSenderUser, TParams::User, {}},
    {"KzS_RECV_CONNECT", K::kzscRecvConnect, TParams::None, {}},
    {"KzS_RECV_DISCONNECT", K::kzscRecvDisconnect, TParams::None, {}},
    {"KzS_GROUP_JOIN", K::kzscGroupJoin, TParams::Join, {}},
    {"KzS_GROUP_LEAVE", K::kzscGroupLeave, TParams::Group, {}},
    {"KzS_SENDER_CONNECT", K::kzscSenderConnect, TParams::None, {}},
    {"KzS_SENDER_DISCONNECT", K::kzscSenderDisconnect, TParams::None, {}},
    {"KzS_GET_ALL_GROUPS", K::kzscGetAllGroups, TParams::None, Needs({O::kzcpUseSystemCmd, O::kzcpCmdAllGroups})},
    {"KzS_GET_ALL_USERS", K::kzscGetAllUsers, TParams::None, Needs({O::kzcpUseSystemCmd, O::kzcpCmdAllUsers})},
    {"KzS_GET_ALL_ONLINE", K::kzscGetAllOnline, TParams::None, Needs({O::kzcpUseSystemCmd, O::kzcpCmdAllOnline})},
    {"KzS_RESTART_SERVER", K::kzscRestartServer, TParams::None, Needs({O::kzcpUseSystemCmd, O::kzcpCmdResetServer})},
};

constexpr int kMaxUserData = 99;

bool ReadGUID(const TKzCmd& Cmd, const std::string& Name, TGUID& Out) {
  try {
    Out = StringToGUIDA(Cmd.GetAsStringSafe(Name));
    return !IsNull(Out);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

TKzServerCmdRequest KzParseServerCmd(const TKzCmd& Cmd) {
  TKzServerCmdRequest r;
  if (Cmd.Name.rfind("KzSU_", 0) == 0) {
    r.Kind = K::kzscForwarded;
    return r;
  }
  if (Cmd.Name.rfind("KzS_", 0) != 0) return r;
  const auto* row =
      std::find_if(std::begin(kCommands), std::end(kCommands), [&](const TRow& x) { return Cmd.Name == x.Name; });
  if (row == std::end(kCommands)) {
    r.Kind = K::kzscUnknown;
    return r;
  }
  r.Kind = row->Kind;
  r.Needs = row->Needs;
  switch (row->Params) {
    case TParams::None: break;
    case TParams::Group: r.Valid = ReadGUID(Cmd, "GUIDGroup", r.Group); break;
    case TParams::User: r.Users.resize(1); r.Valid = ReadGUID(Cmd, "GUIDUser", r.Users[0]); break;
    case TParams::Users: {
      const int64_t count = std::clamp<int64_t>(Cmd.GetAsIntegerSafe("GUIDCount", 0), 0,
                                                static_cast<int64_t>(Cmd.Params.size()));
      for (int64_t i = 1; i <= count && r.Valid; ++i) {
        TGUID g;
        r.Valid = ReadGUID(Cmd, "GUIDUser" + std::to_string(i), g);
        r.Users.push_back(g);
      }
      break;
    }
    case TParams::AllowAll: r.AllowAll = Cmd.GetAsIntegerSafe("AllowAll", 0) != 0; break;
    case TParams::Join:
      r.Valid = ReadGUID(Cmd, "GUIDGroup", r.Group);
      r.Permanent = Cmd.GetAsBooleanSafe("Permanent", false);
      r.OnlyExistingGroup = Cmd.GetAsBooleanSafe("OnlyExistingGroup", false);
      r.Password = Cmd.GetAsStringSafe("Password");
      for (int i = 1; i <= kMaxUserData; ++i) {
        const TKzCmdParamItem* p = Cmd.ParamByName("USERDATA" + std::to_string(i));
        if (!p) break;
        r.UserData.push_back(p->AsString());
      }
      break;
  }
  return r;
}

}  // namespace kz
