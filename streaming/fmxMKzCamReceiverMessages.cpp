// The receiver's message handlers: connection notifications, decoded
// commands (system commands become events), user data and file notices.
#include <cstring>

#include "foundation/fmxMKzMessages.h"
#include "streaming/fmxMKzCamReceiver.h"
#include "streaming/fmxMKzRecvConnect.h"

namespace kz {

namespace {

bool StartsWith(const std::string& S, const char* Prefix) { return S.rfind(Prefix, 0) == 0; }

// "<Name>1" .. "<Name>Count" of a command.
std::vector<std::string> Numbered(const TKzCmd& Cmd, const std::string& Name, int64_t Count) {
  std::vector<std::string> out;
  for (int64_t i = 1; i <= Count && i <= 65535; ++i) out.push_back(Cmd.GetAsStringSafe(Name + std::to_string(i)));
  return out;
}

// "<Name>1", "<Name>2" ... while present.
std::vector<std::string> NumberedWhilePresent(const TKzCmd& Cmd, const std::string& Name) {
  std::vector<std::string> out;
  for (int i = 1; Cmd.ParamByName(Name + std::to_string(i)); ++i) out.push_back(Cmd.GetAsStringSafe(Name + std::to_string(i)));
  return out;
}

}  // namespace

void TKzCamReceiver::RegisterHandlers() {
  auto& pump = KzMessages();
  for (uint32_t msg : {KZ_MSG_CONNECTED, KZ_MSG_DISCONNECTED, KZ_MSG_CONNECTION_ERROR, KZ_MSG_CONNECTING,
                       KZ_MSG_OPEN_CHANNEL, KZ_MSG_CLOSE_CHANNEL})
    pump.RegisterMessageHandler2(this, msg, [this](TMessage& m) { KzConnection(m); });
  pump.RegisterMessageHandler2(this, KZ_MSG_COMMAND, [this](TMessage& m) { KzMessageCommand(m); });
  pump.RegisterMessageHandler2(this, KZ_MSG_USER_DATA, [this](TMessage& m) { KzMessageUserData(m); });
  pump.RegisterMessageHandler2(this, KZ_MSG_FILE_DATA, [this](TMessage& m) { KzMessageFileData(m); });
  pump.RegisterMessageHandler2(this, KZ_MSG_DEBUG, [this](TMessage& m) {
    if (OnDebug) OnDebug(this, static_cast<int64_t>(m.WParam), KzMessageText(m));
  });
}

void TKzCamReceiver::KzConnection(TMessage& Message) {
  if (IsDestroying()) return;
  const auto type = static_cast<uint16_t>(Message.WParam);
  const auto value = static_cast<int64_t>(Message.LParam);
  switch (Message.Msg) {
    case KZ_MSG_CONNECTING:
      if (FActive && FState != TKzMState::kzmsConnect) FState = TKzMState::kzmsConnecting;
      if (OnConnecting) OnConnecting(this, type, value);
      break;
    case KZ_MSG_CONNECTED:
      if (FActive) FState = TKzMState::kzmsConnect;
      if (OnConnected) OnConnected(this, type, value);
      break;
    case KZ_MSG_DISCONNECTED:
      if (OnDisconnect) OnDisconnect(this, type, value);
      break;
    case KZ_MSG_CONNECTION_ERROR:
      if (OnConnectError) OnConnectError(this, type);
      break;
    case KZ_MSG_OPEN_CHANNEL:
      if (OnOpenChannel) OnOpenChannel(this, type);
      break;
    case KZ_MSG_CLOSE_CHANNEL:
      if (OnCloseChannel) OnCloseChannel(this, type);
      break;
    default: break;
  }
}

void TKzCamReceiver::KzMessageCommand(TMessage& Message) {
  if (IsDestroying()) return;
  const auto& m = *reinterpret_cast<const TKzCmdMessage*>(Message.LParam);
  TMemoryStream s;
  s.Write(m.Data.data(), static_cast<int64_t>(m.Data.size()));
  s.SetPosition(0);
  for (TKzCmd& cmd : KzLoadCmdPayload(s)) {
    if (cmd.Name.empty()) break;
    cmd.SessionKey = m.SessionKey;
    cmd.MediaIndex = m.MediaIndex;
    // A command read under an older session of the pulled sender is stale.
    const TKzSessionKey key = GetSessionKey();
    if (FTCPConnectionType == TKzTCPConnectionType::kztcpReceiverToSender && key != 0 && cmd.SessionKey != key)
      continue;
    DispatchCommand(cmd, m);
  }
}

void TKzCamReceiver::DispatchCommand(const TKzCmd& Cmd, const TKzCmdMessage& Source) {
  const bool system = StartsWith(Cmd.Name, "Kz_") || StartsWith(Cmd.Name, "KzS_");
  if (system) SystemCommand(Cmd, Source.Header.GUIDFrom);
  if (system && FFilterSystemCmd) return;
  if (OnReceiveCmdData)
    OnReceiveCmdData(this, Cmd.SessionKey, Cmd.MediaIndex, Source.Header.GUIDFrom, Source.Header.GUIDTo,
                     Source.Header.GUIDGroup, DATA_TYPE_CMD, Cmd);
}

bool TKzCamReceiver::SystemCommand(const TKzCmd& Cmd, const TGUID& Source) {
  const std::string& n = Cmd.Name;
  const std::string group = Cmd.GetAsStringSafe("GUIDGroup");
  auto stopVideo = [&] { StopVideoOf(Source); };
  if (n == "KzS_GROUP_JOIN") {
    if (OnUserJoinsGroup) OnUserJoinsGroup(this, Source, group);
  } else if (n == "KzS_RESULT_GROUP_JOIN") {
    if (OnRequestJoinGroup)
      OnRequestJoinGroup(this, group, Cmd.GetAsBooleanSafe("Access", false), Cmd.GetAsIntegerSafe("Error", 0));
  } else if (n == "KzS_GROUP_LEAVE") {
    stopVideo();
    if (OnUserLeavesGroup) OnUserLeavesGroup(this, Source, group);
  } else if (n == "KzS_GROUP_USER_OFFLINE") {
    stopVideo();
    if (OnGroupUserOffline) OnGroupUserOffline(this, Source, group);
  } else if (n == "KzS_RECV_CONNECT" || n == "KzS_SENDER_CONNECT") {
    if (OnUserEnter) OnUserEnter(this, Source);
  } else if (n == "KzS_RECV_DISCONNECT" || n == "KzS_SENDER_DISCONNECT") {
    stopVideo();
    if (OnUserExit) OnUserExit(this, Source);
  } else if (n == "KzS_REQUEST_ACCESS_MEDIA") {
    if (OnMediaAccessRequest) OnMediaAccessRequest(this, Source, Cmd.GetAsIntegerSafe("DATA_TYPE", 0));
  } else if (n == "KzS_REQUEST_DENIED_MEDIA") {
    if (OnMediaAccessCancelRequest) OnMediaAccessCancelRequest(this, Source, Cmd.GetAsIntegerSafe("DATA_TYPE", 0));
  } else if (n == "KzS_CLEAR_AUDIOBUFFER") {
    ClearAudioOutput(Source);
  } else if (n == "KzS_RESULT_LIST_USER_GROUP") {
    if (OnGetGroupUsers) OnGetGroupUsers(this, group, Numbered(Cmd, "GUID", Cmd.GetAsIntegerSafe("USER_COUNT", 0)));
  } else if (n == "KzS_RESULT_GET_GROUP_INFO") {
    if (OnGetGroupInfo)
      OnGetGroupInfo(this, group, Cmd.GetAsStringSafe("Owner"), NumberedWhilePresent(Cmd, "USERDATA"));
  } else if (n == "KzS_RESULT_GET_ALL_GROUPS") {
    if (OnGetAllGroups) OnGetAllGroups(this, "", Numbered(Cmd, "GUIDGroup", Cmd.GetAsIntegerSafe("GUIDCount", 0)));
  } else if (n == "KzS_RESULT_GET_ALL_USERS" || n == "KzS_RESULT_GET_ALL_ONLINE") {
    const auto& event = n == "KzS_RESULT_GET_ALL_USERS" ? OnGetAllUsers : OnGetAllOnlineUsers;
    if (event) event(this, "", Numbered(Cmd, "GUIDUser", Cmd.GetAsIntegerSafe("GUIDCount", 0)));
  } else if (n == "KzS_RESULT_RESTART_SERVER") {
    if (OnRestartServer) OnRestartServer(this);
  } else if (n == "KzS_LIMIT_BUFFER" || n == "KzS_NOT_LIMIT_BUFFER" || n == "KzS_CLEAR_BUFFER") {
    const auto& event = n == "KzS_LIMIT_BUFFER"       ? OnServerLimitBuffer
                        : n == "KzS_NOT_LIMIT_BUFFER" ? OnServerNotLimitBuffer
                                                      : OnServerClearBuffer;
    if (event) event(this, Source, Cmd.GetAsStringSafe("GUIDTo"));
  } else if (n == "KzS_GETTING_FILE") {
    if (OnGettingFile)
      OnGettingFile(this, Source, Cmd.GetAsStringSafe("FILE_NAME"), Cmd.GetAsIntegerSafe("FILE_SIZE", 0),
                    Cmd.GetAsIntegerSafe("FILE_OFFS", 0));
  } else if (n == "KzS_FILE_RECEIVED") {
    if (OnFileReceived)
      OnFileReceived(this, Source, Cmd.GetAsStringSafe("FILE_NAME"), Cmd.GetAsIntegerSafe("FILE_SIZE", 0), 0);
  } else {
    return false;  // "KzS_DISCONNECT" and unknown system commands are consumed
  }
  return true;
}

void TKzCamReceiver::KzMessageUserData(TMessage& Message) {
  if (IsDestroying() || !OnReceiveUserData) return;
  const auto& m = *reinterpret_cast<const TKzUserDataMessage*>(Message.LParam);
  TMemoryStream s;
  s.Write(m.Data.data(), static_cast<int64_t>(m.Data.size()));
  s.SetPosition(0);
  OnReceiveUserData(this, m.SessionKey, s, m.ClientHandle, m.Header.GUIDFrom, m.Header.GUIDTo, m.Header.GUIDGroup,
                    m.MediaIndex);
}

void TKzCamReceiver::KzMessageFileData(TMessage& Message) {
  if (IsDestroying()) return;
  const auto& m = *reinterpret_cast<const TKzFileMessage*>(Message.LParam);
  const auto& event = Message.WParam == KZ_FILE_RECEIVED ? OnReceivedFile : OnReceivingFile;
  if (event) event(this, m.SessionKey, m.FileName, m.TotalFileSize, m.Header.GUIDFrom);
}

}  // namespace kz
