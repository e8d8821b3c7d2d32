// The relay's server commands, the replies it sends, and the notices it
// sends for a user going offline.
#include <algorithm>
#include <array>
#include <thread>

#include "streaming/server/fmxMKzMediaServer.h"
#include "streaming/server/fmxMKzServerCmd.h"

namespace kz {

namespace {

using K = TKzServerCmdKind;

// Entries in one reply: the parameter count of a command is one byte.
constexpr size_t kReplyEntries = 250;
constexpr uint32_t kRefusedJoinPauseMs = 100;
constexpr int64_t kJoinNotListed = 3;

// Replies named Name listing GUIDs as Prefix1..PrefixN and CountName, at most kReplyEntries each.
std::vector<TKzCmd> ListReplies(const std::string& Name, const std::vector<TGUID>& GUIDs, const std::string& Prefix,
                                const std::string& CountName, const TKzCmd* Head) {
  std::vector<TKzCmd> out;
  size_t at = 0;
  do {
    TKzCmd cmd = Head ? *Head : TKzCmd();
    cmd.Name = Name;
    const size_t n = std::min(kReplyEntries, GUIDs.size() - at);
    for (size_t i = 0; i < n; ++i) cmd.AddParam(Prefix + std::to_string(i + 1)).SetString(GUIDToStringA(GUIDs[at + i]));
    cmd.AddParam(CountName).SetInteger(static_cast<int64_t>(n));
    out.push_back(std::move(cmd));
    at += n;
  } while (at < GUIDs.size());
  return out;
}

// GUIDs in the order the registry walks them (by their bytes), each once.
void SortAsRegistry(std::vector<TGUID>& V) {
  auto bytes = [](const TGUID& G) {
    std::array<uint8_t, 16> b{};
    GUIDToBytes(G, b.data());
    return b;
  };
  std::sort(V.begin(), V.end(), [&](const TGUID& A, const TGUID& B) { return bytes(A) < bytes(B); });
  V.erase(std::unique(V.begin(), V.end(), [](const TGUID& A, const TGUID& B) { return A == B; }), V.end());
}

// With a link: the users other relays serve (in Group when not null) added,
// sorted as the registry walks them, after Keep entries kept as they are.
void AddOtherRelaysUsers(IKzRelayLink* Link, std::vector<TGUID>& All, const TGUID& Group = TGUID{}, size_t Keep = 0) {
  if (!Link) return;
  std::vector<TGUID> more(All.begin() + static_cast<std::ptrdiff_t>(Keep), All.end());
  for (const auto& [user, groups] : Link->OtherRelaysUsers())
    if (IsNull(Group) || std::find(groups.begin(), groups.end(), Group) != groups.end())
      if (std::find(All.begin(), All.begin() + static_cast<std::ptrdiff_t>(Keep), user) ==
          All.begin() + static_cast<std::ptrdiff_t>(Keep))
        more.push_back(user);
  SortAsRegistry(more);
  All.resize(Keep);
  All.insert(All.end(), more.begin(), more.end());
}

}  // namespace

bool TKzMediaServer::CheckSysCmd(TKzServerConn* Conn, const TKzPacketHeader& Header, const uint8_t* Payload,
                                 size_t Size) {
  TMemoryStream s;
  s.Write(Payload, static_cast<int64_t>(Size));
  s.SetPosition(0);
  bool consumed = false;
  for (const TKzCmd& cmd : KzLoadCmdPayload(s)) {
    if (cmd.Name.empty()) break;
    const TKzServerCmdRequest req = KzParseServerCmd(cmd);
    if (req.Kind == K::kzscNotServer) {
      if (!FFilterUserCmd.load()) RaiseServerCmd(Header.GUIDFrom, Header.GUIDTo, Header.GUIDGroup, cmd);
      consumed = false;
      continue;
    }
    consumed = HandleServerCmd(Conn, Header, cmd, req);
  }
  return consumed;
}

void TKzMediaServer::RaiseServerCmd(const TGUID& From, const TGUID& To, const TGUID& Group, const TKzCmd& Cmd) {
  if (!OnServerCmd) return;
  OnServerCmd(this, GUIDToStringA(From), IsNull(To) ? std::string() : GUIDToStringA(To),
              IsNull(Group) ? std::string() : GUIDToStringA(Group), Cmd);
}

void TKzMediaServer::Notify(const TKzCmd& Cmd, const TGUID& From, const TGUID& To, const TGUID& Group) {
  if (!FFilterUserCmd.load()) RaiseServerCmd(From, To, Group, Cmd);
  SendCommandToGUID(Cmd, From, To, Group);
}

bool TKzMediaServer::HandleServerCmd(TKzServerConn* Conn, const TKzPacketHeader& Header, const TKzCmd& Cmd,
                                     const TKzServerCmdRequest& Req) {
  RaiseServerCmd(Header.GUIDFrom, Header.GUIDTo, Header.GUIDGroup, Cmd);
  if (Req.Kind == K::kzscForwarded || Req.Kind == K::kzscUnknown) return false;
  if ((CmdOptions().Bits() & Req.Needs.Bits()) != Req.Needs.Bits()) return false;  // routed like a user command
  const TGUID S = Header.GUIDFrom;
  if (!Req.Valid || IsNull(S)) return true;
  const TGUID me = GUIDMyValue();
  auto reply = [&](const TKzCmd& R) { SendCommandToGUID(R, me, S, Header.GUIDGroup); };
  auto lock = LockRegistry();
  bool isNew = false;
  switch (Req.Kind) {
    case K::kzscListUserGroup:
    case K::kzscListUserGroupOnline: {
      std::vector<TGUID> members;
      if (TKzMediaServerGroupItem* g = ListGroups.Find(Req.Group))
        for (const TGUID& m : g->Members.GUIDs) {
          const TKzMediaServerSenderItem* u = ListAllowedSenders.Find(m);
          if (Req.Kind == K::kzscListUserGroup || (u && u->Connected)) members.push_back(m);
        }
      // Members on other relays (online there) after this relay's own.
      AddOtherRelaysUsers(RelayLink().get(), members, Req.Group, members.size());
      TKzCmd head;
      head.AddParam("GUIDGroup").SetString(GUIDToStringA(Req.Group));
      for (const TKzCmd& r : ListReplies("KzS_RESULT_LIST_USER_GROUP", members, "GUID", "USER_COUNT", &head)) reply(r);
      break;
    }
    case K::kzscGetGroupInfo: {
      TKzMediaServerGroupItem* g = ListGroups.Find(Req.Group);
      if (!g) break;
      TKzCmd r;
      r.Name = "KzS_RESULT_GET_GROUP_INFO";
      r.AddParam("GUIDGroup").SetString(GUIDToStringA(Req.Group));
      if (g->Owner) r.AddParam("Owner").SetString(GUIDToStringA(*g->Owner));
      for (size_t i = 0; i < g->Values.size(); ++i) r.AddParam("USERDATA" + std::to_string(i + 1)).SetString(g->Values[i]);
      reply(r);
      break;
    }
    case K::kzscAddRecvUser:
    case K::kzscAddRecvUsers:
      if (TKzMediaServerSenderItem* u = GetSenderGUID(S, isNew)) {
        u->Mask = KZ_MASK_FROM_ALL;
        for (const TGUID& g : Req.Users) u->Receivers.Add(g);
      }
      break;
    case K::kzscDelRecvAll:
      if (TKzMediaServerSenderItem* u = GetSenderGUID(S, isNew)) {
        u->Mask = Req.AllowAll ? KZ_MASK_FROM_ALL : KZ_MASK_FROM_NONE;
        u->Receivers.GUIDs.clear();
      }
      break;
    case K::kzscDelRecvUser:
      if (TKzMediaServerSenderItem* u = GetSenderGUID(S, isNew)) {
        u->Receivers.Remove(Req.Users[0]);
        if (u->Receivers.GUIDs.empty()) u->Mask = KZ_MASK_FROM_NONE;
      }
      break;
    case K::kzscAddSenderUser:
      if (TKzMediaServerGUIDItem* r = GetRecvGUID(S, isNew)) r->Add(Req.Users[0]);
      break;
    case K::kzscDelSenderUser:
      if (TKzMediaServerGUIDItem* r = ListReceivers.Find(S)) r->Remove(Req.Users[0]);
      break;
    case K::kzscRecvConnect:
    case K::kzscRecvDisconnect: {
      TKzMediaServerSenderItem* u = GetSenderGUID(S, isNew);
      if (!u) break;
      const std::vector<TGUID> accepted = u->Receivers.GUIDs;
      const bool connect = Req.Kind == K::kzscRecvConnect;
      for (const TGUID& p : accepted) SendCommandToGUID(Cmd, S, p, TGUID{});
      u->Connected = connect;
      if (!connect) break;
      for (const TGUID& p : accepted) {
        const TKzMediaServerSenderItem* other = ListAllowedSenders.Find(p);
        if (other && other->Connected && other->Receivers.IndexOf(S) >= 0) SendCommandToGUID(Cmd, p, S, TGUID{});
      }
      break;
    }
    case K::kzscGroupJoin: GroupJoin(Conn, S, Header, Cmd, Req); break;
    case K::kzscGroupLeave: {
      SendCmdToGroup(Cmd, S, Req.Group);
      if (TKzMediaServerGroupItem* g = ListGroups.Find(Req.Group)) {
        g->Members.Remove(S);
        g->Members.Connected = !g->Members.GUIDs.empty();
      }
      if (TKzMediaServerSenderItem* u = ListAllowedSenders.Find(S)) u->Groups.Remove(Req.Group);
      break;
    }
    case K::kzscSenderConnect:
    case K::kzscSenderDisconnect: {
      TKzMediaServerGUIDItem* r = GetRecvGUID(S, isNew);
      if (!r) break;
      r->Connected = Req.Kind == K::kzscSenderConnect;
      const std::vector<TGUID> receivers = r->GUIDs;
      for (const TGUID& p : receivers) SendCommandToGUID(Cmd, S, p, TGUID{});
      break;
    }
    case K::kzscGetAllGroups:
      for (const TKzCmd& r : GetAllGroups()) reply(r);
      break;
    case K::kzscGetAllUsers:
      for (const TKzCmd& r : GetAllUsers()) reply(r);
      break;
    case K::kzscGetAllOnline:
      for (const TKzCmd& r : GetAllOnline()) reply(r);
      break;
    case K::kzscRestartServer: {
      TKzCmd r;
      r.Name = "KzS_RESULT_RESTART_SERVER";
      reply(r);
      RestartServer();
      break;
    }
    default: break;
  }
  return true;
}

void TKzMediaServer::GroupJoin(TKzServerConn* Conn, const TGUID& S, const TKzPacketHeader& Header, const TKzCmd& Cmd,
                               const TKzServerCmdRequest& Req) {
  TKzCmd r;
  r.Name = "KzS_RESULT_GROUP_JOIN";
  r.AddParam("GUIDGroup").SetString(GUIDToStringA(Req.Group));
  auto answer = [&](bool Access, int64_t Error) {
    r.AddParam("Access").SetBoolean(Access);
    if (Error != 0) r.AddParam("Error").SetInteger(Error);
    SendCommandToGUID(r, GUIDMyValue(), S, Header.GUIDGroup);
  };
  if (std::shared_ptr<TKzServerAuth> auth = Auth(); auth && !auth->MayJoin(S, Req.Group)) {
    Refuse(Conn, "join of a group not listed", Req.Group);
    answer(false, kJoinNotListed);
    return;
  }
  bool userNew = false, groupNew = false;
  TKzMediaServerSenderItem* u = GetSenderGUID(S, userNew);
  TKzMediaServerGroupItem* g = nullptr;
  if (Req.OnlyExistingGroup) {
    g = ListGroups.Find(Req.Group);
  } else {
    g = GetGroupGUID(Req.Group, groupNew);
  }
  if (groupNew && !LinkAdoptGroup(Req.Group, S, Req, *g, groupNew)) {  // the relays have their most groups
    FreeGroupGUID(Req.Group);
    g = nullptr;
  }
  if (!u || !g) {
    answer(false, 1);
    return;
  }
  if (groupNew) {
    g->Owner = std::make_unique<TGUID>(S);
    if (!Req.Password.empty()) g->Password = std::make_unique<std::string>(Req.Password);
    g->Values = Req.UserData;
  } else if (g->Password && *g->Password != Req.Password) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kRefusedJoinPauseMs));
    answer(false, 2);
    return;
  }
  u->Permanent = Req.Permanent;
  g->Members.Add(S);
  u->Groups.Add(Req.Group);
  g->Members.Connected = true;
  answer(true, 0);
  SendCmdToGroup(Cmd, S, Req.Group);
}

void TKzMediaServer::GoOffline(const TGUID& User) {
  TKzMediaServerSenderItem* u = ListAllowedSenders.Find(User);
  if (!u) return;
  const std::vector<TGUID> groups = u->Groups.GUIDs;
  for (const TGUID& gid : groups) {
    TKzMediaServerGroupItem* g = ListGroups.Find(gid);
    if (!g || g->Members.IndexOf(User) < 0) continue;
    TKzCmd cmd;
    cmd.Name = u->Permanent ? "KzS_GROUP_USER_OFFLINE" : "KzS_GROUP_LEAVE";
    cmd.AddParam("GUIDGroup").SetString(GUIDToStringA(gid));
    for (const TGUID& m : std::vector<TGUID>(g->Members.GUIDs)) Notify(cmd, User, m, gid);
    if (!u->Permanent) {
      g->Members.Remove(User);
      u->Groups.Remove(gid);
    }
    g->Members.Connected = !g->Members.GUIDs.empty();
  }
  if (u->Connected) {
    TKzCmd cmd;
    cmd.Name = "KzS_RECV_DISCONNECT";
    for (const TGUID& p : std::vector<TGUID>(u->Receivers.GUIDs)) {
      const TKzMediaServerSenderItem* other = ListAllowedSenders.Find(p);
      if (other && other->Receivers.IndexOf(User) >= 0) Notify(cmd, User, p, TGUID{});
    }
    u->Connected = false;
  }
  if (TKzMediaServerGUIDItem* r = ListReceivers.Find(User); r && r->Connected) {
    TKzCmd cmd;
    cmd.Name = "KzS_SENDER_DISCONNECT";
    for (const TGUID& p : std::vector<TGUID>(r->GUIDs)) Notify(cmd, User, p, TGUID{});
    r->Connected = false;
  }
}

std::vector<TKzCmd> TKzMediaServer::GetAllGroups() {
  std::vector<TGUID> all;
  auto lock = LockRegistry();
  ListGroups.ForEach([&all](const TGUID& G, TKzMediaServerGroupItem&) { all.push_back(G); });
  if (std::shared_ptr<IKzRelayLink> link = RelayLink()) {
    for (const TGUID& g : link->SharedGroups()) all.push_back(g);
    for (const auto& [user, groups] : link->OtherRelaysUsers()) all.insert(all.end(), groups.begin(), groups.end());
    SortAsRegistry(all);
  }
  return ListReplies("KzS_RESULT_GET_ALL_GROUPS", all, "GUIDGroup", "GUIDCount", nullptr);
}

std::vector<TKzCmd> TKzMediaServer::GetAllUsers() {
  std::vector<TGUID> all;
  auto lock = LockRegistry();
  ListAllowedSenders.ForEach([&all](const TGUID& G, TKzMediaServerSenderItem&) { all.push_back(G); });
  AddOtherRelaysUsers(RelayLink().get(), all);
  return ListReplies("KzS_RESULT_GET_ALL_USERS", all, "GUIDUser", "GUIDCount", nullptr);
}

std::vector<TKzCmd> TKzMediaServer::GetAllOnline() {
  std::vector<TGUID> all;
  auto lock = LockRegistry();
  ListAllowedSenders.ForEach([&all](const TGUID& G, TKzMediaServerSenderItem& U) {
    if (U.Connected) all.push_back(G);
  });
  AddOtherRelaysUsers(RelayLink().get(), all);  // a user with a channel on another relay is online there
  return ListReplies("KzS_RESULT_GET_ALL_ONLINE", all, "GUIDUser", "GUIDCount", nullptr);
}

}  // namespace kz
