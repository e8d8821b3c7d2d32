// The sender's commands: the command stack per media index, BeginCmd/EndCmd,
// hand-over to the command channel, waiting for it, and the relay-server
// commands.
#include <chrono>
#include <thread>

#include "sender/fmxMKzCamSender.h"

namespace kz {

int32_t TKzCamSender::IsAllowedSendCmd() {
  if (!SendMediaTypes().Contains(TKzMediaType::kzmtCmdData)) return KZ_CMD_NOT_IN_MEDIA_TYPES;
  if (!Active()) return KZ_CMD_INACTIVE;
  if (CmdLock.load() != 0) return KZ_CMD_LOCKED;
  return KZ_CMD_ALLOWED;
}

bool TKzCamSender::SendCmd(const TKzCmd& Cmd, const std::string& GUIDTo, const std::string& GUIDGroup,
                           uint16_t MediaIndex) {
  const int32_t allowed = IsAllowedSendCmd();
  if (allowed != KZ_CMD_ALLOWED && allowed != KZ_CMD_LOCKED) return false;
  TKzCmdInfo info;
  info.Cmd = Cmd;
  info.Cmd.MediaIndex = MediaIndex;
  info.Cmd.SessionKey = FSessionKey.load();
  GetGuids(GUIDTo, GUIDGroup, info.GUIDFrom, info.GUIDTo, info.GUIDGroup);
  {
    std::lock_guard<TCriticalSection> g(FCriticalSectionCMD);
    info.Index = ++IndexCMD;
    if (CmdStack.size() <= MediaIndex) CmdStack.resize(MediaIndex + 1u);
    CmdStack[MediaIndex].push_back(info);
  }
  if (ShowCmd && OnSendCmd) OnSendCmd(this, info.Cmd, info.GUIDTo, info.GUIDGroup);
  if (CmdLock.load() != 0) return true;  // the last EndCmd hands it over
  return CheckSendCmd(MediaIndex);
}

bool TKzCamSender::HandOverCmd(const TKzCmdInfo& Info) {
  TMemoryStream payload;
  KzSaveCmdPayload({Info.Cmd}, payload);
  TKzInfo info;
  info.MediaIndex = Info.Cmd.MediaIndex;
  if (!Allowed(DATA_TYPE_CMD)) return false;
  if (FTCPConnectionType.load() == TKzTCPConnectionType::kztcpReceiverToSender) {
    std::lock_guard<TCriticalSection> g(FChannelLock);
    return SenderListen && SenderListen->SendStream(payload, DATA_TYPE_CMD, info) >= 0;
  }
  TChannelPtr c = GetSendStreamThreadByIndex(DATA_TYPE_CMD, info.MediaIndex, true);
  bool cleared = false;
  return c && c->CopyStream(info, payload.Memory(), static_cast<size_t>(payload.Size()), Info.GUIDFrom, Info.GUIDTo,
                            Info.GUIDGroup, cleared) != TKzQueueAdd::kzqaRefused;
}

bool TKzCamSender::CheckSendCmd(uint16_t MediaIndex) {
  std::vector<TKzCmdInfo> sent, lost;
  {
    std::lock_guard<TCriticalSection> g(FCriticalSectionCMD);
    if (CmdStack.size() <= MediaIndex) return true;
    std::vector<TKzCmdInfo>& stack = CmdStack[MediaIndex];
    size_t n = 0;
    while (n < stack.size() && HandOverCmd(stack[n])) ++n;
    sent.assign(stack.begin(), stack.begin() + static_cast<std::ptrdiff_t>(n));
    lost.assign(stack.begin() + static_cast<std::ptrdiff_t>(n), stack.end());
    stack.clear();
  }
  if (ShowCmd && OnSentCmd)
    for (const TKzCmdInfo& i : sent) OnSentCmd(this, i.Cmd, i.GUIDTo, i.GUIDGroup);
  if (OnLostCommand)
    for (const TKzCmdInfo& i : lost) OnLostCommand(this, i.Cmd);
  return lost.empty();
}

void TKzCamSender::BeginCmd() { CmdLock.fetch_add(1); }

void TKzCamSender::EndCmd() {
  if (CmdLock.load() <= 0 || CmdLock.fetch_sub(1) != 1) return;
  size_t indexes = 0;
  {
    std::lock_guard<TCriticalSection> g(FCriticalSectionCMD);
    indexes = CmdStack.size();
  }
  for (size_t i = 0; i < indexes; ++i) CheckSendCmd(static_cast<uint16_t>(i));
}

bool TKzCamSender::WaitForSendCmd(uint16_t MediaIndex) {
  const uint64_t end = KzMGetTickCount() + GetTimeOut(FConnectionProperties, DATA_TYPE_CMD);
  for (;;) {
    TChannelPtr c = GetSendStreamThreadByIndex(DATA_TYPE_CMD, MediaIndex, false);
    if (!c || c->IsIdle()) return true;
    if (c->Finished() || KzMGetTickCount() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool TKzCamSender::IsWaitData(uint16_t DataType, uint16_t MediaIndex) {
  if ((DataType & DATA_TYPE_MASK) == DATA_TYPE_VIDEO) {
    std::lock_guard<std::mutex> g(FEncodeThreadLock);
    if (FEncodeThread && FEncodeThread->Busy()) return true;  // a frame waits for its encoding
  }
  TChannelPtr c = GetSendStreamThreadByIndex(DataType, MediaIndex, false);
  return c && !c->IsIdle();
}

bool TKzCamSender::IsWaitCmd(uint16_t MediaIndex) { return IsWaitData(DATA_TYPE_CMD, MediaIndex); }
bool TKzCamSender::IsWaitUser(uint16_t MediaIndex) { return IsWaitData(DATA_TYPE_USERDATA, MediaIndex); }
bool TKzCamSender::IsWaitFile(uint16_t MediaIndex) { return IsWaitData(DATA_TYPE_FILE, MediaIndex); }

// ---- Relay-server commands

namespace {

TKzCmd Named(const std::string& Name) {
  TKzCmd c;
  c.Name = Name;
  return c;
}

TKzCmd WithGUIDUser(const std::string& Name, const std::string& GUID) {
  TKzCmd c = Named(Name);
  c.AddParam("GUIDUser").SetString(GUID);
  return c;
}

TKzCmd WithGroup(const std::string& Name, const std::string& Group) {
  TKzCmd c = Named(Name);
  c.AddParam("GUIDGroup").SetString(Group);
  return c;
}

TKzCmd WithStatus(const std::string& Name) {
  TKzCmd c = Named(Name);
  c.AddParam("STATUS").SetInteger(0);
  return c;
}

TKzCmd WithDataType(const std::string& Name, uint16_t DataType) {
  TKzCmd c = Named(Name);
  c.AddParam("DATA_TYPE").SetInteger(DataType);
  return c;
}

}  // namespace

bool TKzCamSender::SendRelayCmd(TKzCmd& Cmd, const std::string& GUIDTo) {
  if (!SendCmd(Cmd, GUIDTo, "", Cmd.MediaIndex)) return false;
  return WaitForSendCmd(Cmd.MediaIndex);
}

#define KZ_RELAY(Method, Args, Build) \
  bool TKzCamSender::Method Args {    \
    TKzCmd c = Build;                 \
    return SendRelayCmd(c);           \
  }
KZ_RELAY(AddAllowedSender, (const std::string& GUID), WithGUIDUser("KzS_ADD_RECV_USER", GUID))
KZ_RELAY(RemoveAllowedSender, (const std::string& GUID), WithGUIDUser("KzS_DEL_RECV_USER", GUID))
KZ_RELAY(AddDefaultReceiver, (const std::string& GUID), WithGUIDUser("KzS_ADD_SENDER_USER", GUID))
KZ_RELAY(RemoveDefaultReceiver, (const std::string& GUID), WithGUIDUser("KzS_DEL_SENDER_USER", GUID))
KZ_RELAY(HelloToAllowedSenders, (), WithStatus("KzS_RECV_CONNECT"))
KZ_RELAY(GoodbyeToAllowedSenders, (), Named("KzS_RECV_DISCONNECT"))
KZ_RELAY(HelloToDefaultReceivers, (), WithStatus("KzS_SENDER_CONNECT"))
KZ_RELAY(GoodbyeToDefaultReceivers, (), Named("KzS_SENDER_DISCONNECT"))
KZ_RELAY(LeaveGroup, (const std::string& Group), WithGroup("KzS_GROUP_LEAVE", Group))
KZ_RELAY(GetGroupInfo, (const std::string& Group), WithGroup("KzS_GET_GROUP_INFO", Group))
KZ_RELAY(GetUsersFromGroup, (const std::string& Group, bool OnlyOnline),
         WithGroup(OnlyOnline ? "KzS_LIST_USER_GROUP_ONLINE" : "KzS_LIST_USER_GROUP", Group))
KZ_RELAY(GetAllGroups, (), Named("KzS_GET_ALL_GROUPS"))
KZ_RELAY(GetAllUsers, (), Named("KzS_GET_ALL_USERS"))
KZ_RELAY(GetAllOnlineUsers, (), Named("KzS_GET_ALL_ONLINE"))
KZ_RELAY(RestartServer, (), Named("KzS_RESTART_SERVER"))
KZ_RELAY(ClearAudioBuffer, (), Named("KzS_CLEAR_AUDIOBUFFER"))
KZ_RELAY(AllowMediaAccess, (const std::string& GUID, uint16_t), WithGUIDUser("KzS_ADD_SENDER_USER", GUID))
KZ_RELAY(CancelMediaAccess, (const std::string& GUID, uint16_t), WithGUIDUser("KzS_DEL_SENDER_USER", GUID))
#undef KZ_RELAY

bool TKzCamSender::AddAllowedSenders(const std::vector<std::string>& GUIDs) {
  TKzCmd c = Named("KzS_ADD_RECV_USERS");
  c.AddParam("GUIDCount").SetInteger(static_cast<int64_t>(GUIDs.size()));
  for (size_t i = 0; i < GUIDs.size(); ++i) c.AddParam("GUIDUser" + std::to_string(i + 1)).SetString(GUIDs[i]);
  return SendRelayCmd(c);
}

bool TKzCamSender::ClearAllowedSenders(bool AllowAll) {
  TKzCmd c = Named("KzS_DEL_RECV_ALL");
  c.AddParam("AllowAll").SetInteger(AllowAll ? 1 : 0);
  return SendRelayCmd(c);
}

bool TKzCamSender::JoinGroup(const std::string& GroupGUID, bool Permanent, const std::string& Password,
                             const std::string& UserData, bool OnlyExistingGroup) {
  TKzCmd c = WithStatus("KzS_GROUP_JOIN");
  c.AddParam("GUIDGroup").SetString(GroupGUID);
  c.AddParam("Permanent").SetBoolean(Permanent);
  if (!UserData.empty()) c.AddParam("USERDATA1").SetString(UserData);
  if (!Password.empty()) c.AddParam("Password").SetString(Password);
  c.AddParam("OnlyExistingGroup").SetBoolean(OnlyExistingGroup);
  return SendRelayCmd(c);
}

bool TKzCamSender::SendMediaAccessRequest(const std::string& GUIDTo, uint16_t DataType) {
  TKzCmd c = WithDataType("KzS_REQUEST_ACCESS_MEDIA", DataType);
  return SendRelayCmd(c, GUIDTo);
}

bool TKzCamSender::SendMediaAccessCancelRequest(const std::string& GUIDTo, uint16_t DataType) {
  TKzCmd c = WithDataType("KzS_REQUEST_DENIED_MEDIA", DataType);
  return SendRelayCmd(c, GUIDTo);
}

bool TKzCamSender::GettingFile(const std::string& FileName, int64_t Offset, int64_t Size, const std::string& GUIDTo) {
  TKzCmd c = Named("KzS_GETTING_FILE");
  c.AddParam("FILE_NAME").SetString(FileName);
  c.AddParam("FILE_OFFS").SetInteger(Offset);
  c.AddParam("FILE_SIZE").SetInteger(Size);
  return SendRelayCmd(c, GUIDTo);
}

bool TKzCamSender::FileReceived(const std::string& FileName, const std::string& GUIDTo, int64_t Size) {
  TKzCmd c = Named("KzS_FILE_RECEIVED");
  c.AddParam("FILE_NAME").SetString(FileName);
  c.AddParam("FILE_SIZE").SetInteger(Size);
  return SendRelayCmd(c, GUIDTo);
}

void TKzCamSender::KzAddVideoForMe(const TKzCmd& Cmd, const std::string& GUIDTo) {
  if (SendCmd(Cmd, GUIDTo, "", Cmd.MediaIndex)) WaitForSendCmd(Cmd.MediaIndex);
}

void TKzCamSender::KzDelVideoForMe(const TKzCmd& Cmd, const std::string& GUIDTo) {
  if (SendCmd(Cmd, GUIDTo, "", Cmd.MediaIndex)) WaitForSendCmd(Cmd.MediaIndex);
}

}  // namespace kz
