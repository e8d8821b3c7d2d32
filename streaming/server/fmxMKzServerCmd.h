// The relay's server commands read from a command: which one it is, the
// options it needs, and its parameters, checked. GUID parameters that do
// not parse make the request invalid; nothing else is trusted either
// (counts are clamped to the parameters present).
//
// Pure: any thread, never blocks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "streaming/server/fmxMKzMediaServerTypes.h"

namespace kz {

enum class TKzServerCmdKind : uint8_t {
  kzscNotServer,      // a user command: routed
  kzscForwarded,      // "KzSU_...": raises OnServerCmd, then routed
  kzscUnknown,        // another "KzS_..." name: not consumed
  kzscListUserGroup,
  kzscListUserGroupOnline,
  kzscGetGroupInfo,
  kzscAddRecvUser,
  kzscAddRecvUsers,
  kzscDelRecvAll,
  kzscDelRecvUser,
  kzscAddSenderUser,
  kzscDelSenderUser,
  kzscRecvConnect,
  kzscRecvDisconnect,
  kzscGroupJoin,
  kzscGroupLeave,
  kzscSenderConnect,
  kzscSenderDisconnect,
  kzscGetAllGroups,
  kzscGetAllUsers,
  kzscGetAllOnline,
  kzscRestartServer,
};

struct TKzServerCmdRequest {
  TKzServerCmdKind Kind = TKzServerCmdKind::kzscNotServer;
  TKzCmdOptions Needs;  // options that must all be set, else the command is routed
  bool Valid = true;    // its parameters parsed
  TGUID Group;
  std::vector<TGUID> Users;
  bool AllowAll = false, Permanent = false, OnlyExistingGroup = false;
  std::string Password;
  std::vector<std::string> UserData;  // "USERDATA1" ... up to the first missing, at most 99
};

TKzServerCmdRequest KzParseServerCmd(const TKzCmd& Cmd);

}  // namespace kz
