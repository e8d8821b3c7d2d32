// The events of the receiver component, by what they report: connections
// and channels, received data, and the relay's system commands.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/fmxMKzTrack.h"
#include "streaming/Fmxmkzcmd.h"
#include "video/fmxMKzMultiSourceOwner.h"
#include "video/fmxMKzVideoEvents.h"

namespace kz {

// A connection notification: the data type code (0 before it is known) and
// the message's value (a connection serial or a session key).
using TKzReceiverConnectionEvent = std::function<void(TComponent* Sender, uint16_t DataType, int64_t Value)>;
using TKzReceiverChannelEvent = std::function<void(TComponent* Sender, uint16_t DataType)>;
using TKzReceiveCmdEvent =
    std::function<void(TComponent* Sender, TKzSessionKey SessionKey, uint16_t MediaIndex, const TGUID& GUIDFrom,
                       const TGUID& GUIDTo, const TGUID& GUIDGroup, uint16_t DataType, const TKzCmd& Cmd)>;
// A file began arriving / arrived whole.
using TKzReceiverFileEvent = std::function<void(TComponent* Sender, TKzSessionKey SessionKey,
                                                const std::string& FileName, int64_t TotalFileSize,
                                                const TGUID& GUIDFrom)>;
// System commands: the source is the command's GUIDFrom.
using TKzGroupEvent = std::function<void(TComponent* Sender, const TGUID& Source, const std::string& Group)>;
using TKzRequestJoinGroupEvent =
    std::function<void(TComponent* Sender, const std::string& Group, bool Access, int64_t Error)>;
using TKzUserEvent = std::function<void(TComponent* Sender, const TGUID& Source)>;
using TKzMediaAccessEvent = std::function<void(TComponent* Sender, const TGUID& Source, int64_t DataType)>;
using TKzGUIDListEvent =
    std::function<void(TComponent* Sender, const std::string& Group, const std::vector<std::string>& GUIDs)>;
using TKzGroupInfoEvent = std::function<void(TComponent* Sender, const std::string& Group, const std::string& Owner,
                                             const std::vector<std::string>& UserData)>;
using TKzServerBufferEvent = std::function<void(TComponent* Sender, const TGUID& Source, const std::string& GUIDTo)>;
using TKzFileNoticeEvent = std::function<void(TComponent* Sender, const TGUID& Source, const std::string& FileName,
                                              int64_t FileSize, int64_t FileOffs)>;

struct TKzCamReceiverEvents {
  TKzGetImageEvent OnGetImage;
  TKzDataReadEvent OnReceiveUserData;
  TKzFileReadEvent OnReceiveFileData;
  TKzReceiveCmdEvent OnReceiveCmdData;
  TKzReceiverFileEvent OnReceivingFile, OnReceivedFile;
  TKzReceiverConnectionEvent OnConnected, OnConnecting, OnDisconnect;
  std::function<void(TComponent* Sender, uint16_t Error)> OnConnectError;
  TKzReceiverChannelEvent OnOpenChannel, OnCloseChannel;
  TNotifyEvent OnSessionConnected, OnSessionDisconnected;
  TKzGroupEvent OnUserJoinsGroup, OnUserLeavesGroup, OnGroupUserOffline;
  TKzRequestJoinGroupEvent OnRequestJoinGroup;
  TKzGroupInfoEvent OnGetGroupInfo;
  TKzGUIDListEvent OnGetAllGroups, OnGetAllUsers, OnGetAllOnlineUsers, OnGetGroupUsers;
  TNotifyEvent OnRestartServer;
  TKzServerBufferEvent OnServerLimitBuffer, OnServerNotLimitBuffer, OnServerClearBuffer;
  TKzFileNoticeEvent OnGettingFile, OnFileReceived;
  TKzUserEvent OnUserEnter, OnUserExit;
  TKzMediaAccessEvent OnMediaAccessRequest, OnMediaAccessCancelRequest;
  TKzGetRegionsEventEx OnGetRegions;
  TKzAudioEvent OnDecodeAudio;
  TKzDecodeVideoEvent OnDecodeVideo;
};

}  // namespace kz
