// The relay server component: joins senders and receivers that cannot
// reach each other. Senders push packets to its HTTP (TCP) or UDP port;
// receivers pull what is addressed to them over the HTTP port, one channel
// per data kind (TKzClientRedirect). Participants are known by GUID; three
// registries say who accepts data from whom, who sends to whom by default,
// and which groups exist with their members. Server commands ("KzS_...")
// in command packets change the registries and ask for lists; "KzSU_"
// commands and every other packet are routed by the header's GUIDTo,
// GUIDGroup or GUIDFrom.
//
// Settings are made on the main thread. Events: OnStart, OnStop, OnError,
// OnUserDisconnect, OnLimitBuffer, OnNotLimitBuffer on the main thread
// (posted, so after the fact); OnUserConnect, OnServerCmd, OnDataRead,
// OnRefused and OnBoundReached on the connection or channel thread that
// caused them; OnConnectionCountChanged and OnPacketProcessing on the main thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/fmxMKzMessages.h"
#include "streaming/fmxMKzConnectionProperties.h"
#include "streaming/server/fmxMKzClientRedirect.h"
#include "streaming/server/fmxMKzListGUID.h"
#include "streaming/server/fmxMKzRelayLink.h"
#include "streaming/server/fmxMKzServerAuth.h"
#include "streaming/server/fmxMKzServerCmd.h"
#include "streaming/server/fmxMKzServerRequest.h"

namespace kz {

class TKzMediaServerThread;
struct TKzServerConn;

// Refusal of a participant's claim (with an access file), told with what was claimed.
using TKzServerRefusedEvent = std::function<void(TKzMediaServer* Sender, const std::string& Why, const TGUID& Claimed)>;

// Counts of one open channel.
struct TKzChannelStat {
  TGUID User;
  uint8_t DataType = 0;
  size_t Buffered = 0;
  uint64_t PacketsIn = 0, Batches = 0, Clears = 0;
};

class TKzMediaServer : public TComponent, public IKzRedirectOwner {
public:
  // Main thread, never blocks.
  explicit TKzMediaServer(TComponent* AOwner);
  // Main thread; stops both listeners and every channel (within about a second).
  ~TKzMediaServer() override;

  // ---- Published properties (main thread)
  TKzCmdOptions CmdOptions() const { return TKzCmdOptions::FromBits(FCmdOptions.load()); }
  void SetCmdOptions(TKzCmdOptions Value) { FCmdOptions = Value.Bits(); }
  uint32_t MaxGroupCount() const { return FMaxGroupCount; }
  // Restarts the active listeners.
  void SetMaxGroupCount(uint32_t Value);
  const std::string& TempFolder() const { return FTempFolder; }
  void SetTempFolder(const std::string& Value) { FTempFolder = Value; }
  TKzConnectionProperties& SenderConnectionProperties() { return FSenderConnectionProperties; }
  TKzReceiverConnectionProperties& ReceiverConnectionProperties() { return FReceiverConnectionProperties; }
  TKzBufferOptions& BufferOptions() { return FBufferOptions; }
  TKzKeepClientInfoMode KeepClientInfoMode() const { return FKeepClientInfoMode.load(); }
  void SetKeepClientInfoMode(TKzKeepClientInfoMode Value) { FKeepClientInfoMode = Value; }
  bool HTTPActive() const { return FHTTPThread != nullptr; }
  void SetHTTPActive(bool Value);
  bool UDPActive() const { return FUDPThread != nullptr; }
  void SetUDPActive(bool Value);
  uint16_t HTTPPort() const { return FHTTPPort; }
  void SetHTTPPort(uint16_t Value);
  uint16_t UDPPort() const { return FUDPPort; }
  void SetUDPPort(uint16_t Value);
  bool FilterUserCmd() const { return FFilterUserCmd.load(); }
  void SetFilterUserCmd(bool Value) { FFilterUserCmd = Value; }
  bool UseDumpMemory() const { return FUseDumpMemory.load(); }
  void SetUseDumpMemory(bool Value) { FUseDumpMemory = Value; }
  std::string GUIDMy() const;
  // Malformed text raises EKzConvertError. Restarts the active listeners.
  void SetGUIDMy(const std::string& Value);
  // Bounds on users, channels and buffered bytes; set before activating.
  TKzServerBounds& Bounds() { return FBounds; }
  // With an access table every connection must prove who it is first (null: open relay).
  void SetAuth(std::shared_ptr<TKzServerAuth> Value) { std::atomic_store(&FAuth, std::move(Value)); }
  std::shared_ptr<TKzServerAuth> Auth() const { return std::atomic_load(&FAuth); }

  // ---- Events
  TKzMSUserEvent OnUserConnect, OnUserDisconnect;
  TKzMSServerCmdEvent OnServerCmd;
  TKzServerEvent OnStart, OnStop, OnError;
  TKzServerDataReadEvent OnDataRead;
  TKzLimitBufferEvent OnLimitBuffer, OnNotLimitBuffer;
  TKzServerRefusedEvent OnRefused;
  TKzServerBoundEvent OnBoundReached;
  // Assign on the main thread; take effect on the next activation or at once while active.
  void SetOnConnectionCountChanged(TKzMSCountEvent Value);
  void SetOnPacketProcessing(std::function<void(TKzMediaServer*)> Value);

  // ---- Public
  // 0 while HTTPActive is False, else a count of the HTTP starts. Any thread.
  uint32_t SessionKey() const { return FHTTPThread ? FSessionKey.load() : 0; }
  // The ports listened on (the chosen ones for port 0); 0 while inactive. Any thread.
  uint16_t HTTPBoundPort() const { return FHTTPBound.load(); }
  uint16_t UDPBoundPort() const { return FUDPBound.load(); }
  // Off and on again for each active listener. Main thread; blocks about a second.
  void Restart();
  // Has Restart run on the main thread. Any thread, never blocks.
  void RestartServer();
  // The dump (the chunks read while UseDumpMemory is set). Any thread.
  bool SaveDump(const std::string& FileName);
  void ClearDump();
  std::vector<uint8_t> DumpMemory();
  // The private folder file-buffered channels spool to ("" before the HTTP port started).
  std::string SpoolFolder() const;

  // Registry records, made when absent (IsNew says so); null when a bound
  // says no. Any thread; take LockRegistry around them and their use.
  TKzMediaServerSenderItem* GetSenderGUID(const TGUID& AGUID, bool& IsNew);
  TKzMediaServerGUIDItem* GetRecvGUID(const TGUID& AGUID, bool& IsNew);
  TKzMediaServerGroupItem* GetGroupGUID(const TGUID& AGUID, bool& IsNew);
  void FreeSenderGUID(const TGUID& AGUID);
  void FreeRecvGUID(const TGUID& AGUID);
  void FreeGroupGUID(const TGUID& AGUID);
  std::unique_lock<std::recursive_mutex> LockRegistry() { return std::unique_lock<std::recursive_mutex>(FRegistryLock); }

  // Queues Cmd on AGUIDTo's command channel as from AGUIDFrom; 1 when
  // queued, 0 when it has none. Any thread.
  int32_t SendCmdToUser(const TKzCmd& Cmd, const TGUID& AGUIDFrom, const TGUID& AGUIDTo);
  // Cmd to every member of the group; the member count (0 when the group
  // or the sender's record is unavailable). Any thread.
  int32_t SendCmdToGroup(const TKzCmd& Cmd, const TGUID& AGUIDFrom, const TGUID& AGUIDGroup);
  // One command packet with the three GUIDs on AGUIDTo's command channel;
  // true when AGUIDTo has a record. Any thread.
  bool SendCommandToGUID(const TKzCmd& Cmd, const TGUID& AGUIDFrom, const TGUID& AGUIDTo, const TGUID& AGUIDGroup);
  // Reply lists (sorted by the GUID's bytes), each at most 250 entries a command. Any thread.
  std::vector<TKzCmd> GetAllGroups();
  std::vector<TKzCmd> GetAllUsers();
  std::vector<TKzCmd> GetAllOnline();

  // A participant that gets every video packet routed, whoever it is
  // addressed to (a gateway to browsers); null: none. It needs a video
  // channel like any receiver. Any thread.
  void SetWatcher(const TGUID& Value);
  TGUID Watcher() const;
  // Senders whose video reached the watcher, in order of arrival (at most
  // Bounds().MaxUsers). Any thread.
  std::vector<TGUID> WatchedSenders() const;

  // Open channels with their counts. Any thread.
  std::vector<TKzChannelStat> ChannelStats();
  size_t UserCount();
  size_t GroupCount();

  // ---- A link to other relays (null: this relay alone). Any thread.
  void SetRelayLink(std::shared_ptr<IKzRelayLink> Value) { std::atomic_store(&FLink, std::move(Value)); }
  std::shared_ptr<IKzRelayLink> RelayLink() const { return std::atomic_load(&FLink); }
  // A packet another relay sent for User (or, with ToGroup, for the local
  // members of Group): delivered here only, never back to the link.
  void DeliverFromLink(const TGUID& Target, bool ToGroup, const uint8_t* Data, size_t Size);
  // Users with an open channel here, and groups with such a member.
  std::vector<TGUID> LinkedUsers();
  std::vector<TGUID> LinkedGroups();
  // Ends User's channels here: the user holds newer ones on another relay.
  void DropLinkedUser(const TGUID& User);
  // Users with an open channel here and the groups each joined.
  std::vector<std::pair<TGUID, std::vector<TGUID>>> LinkedMembership();
  // Users with an open channel of kind Code here.
  std::vector<TGUID> LinkedChannels(uint8_t Code);
  // A packet of a kept kind from the link for User: appended to User's
  // channel of its kind, which is returned with Mark, the channel's
  // BytesIn() after it (the packet has left once BytesDone() reaches Mark).
  // Null when User has no such channel here; Refused: User does not take it.
  std::shared_ptr<TKzClientRedirect> DeliverKept(const TGUID& User, const uint8_t* Data, size_t Size, uint64_t& Mark,
                                                 bool& Refused);

  // ---- The listener threads' side (connection threads)
  void ChannelRequest(TKzServerConn& Conn, const TKzChannelRequest& Request, uint16_t& DataType);
  // Routes one packet (Payload: its bytes after the header).
  void ReadData(TKzServerConn& Conn, const TKzPacketHeader& Header, const std::vector<uint8_t>& Bytes,
                size_t HeaderSize, uint32_t& ClientError);
  void ConnectionGone(TKzServerConn& Conn);
  // Frees the channels that ended since the last call (a few times a second).
  void ReapEndedChannels() { ReapChannels(false); }
  void Refuse(TKzServerConn* Conn, const std::string& Why, const TGUID& Claimed);
  void Dump(const uint8_t* Data, size_t Size);
  TGUID GUIDMyValue() const;
  void PacketProcessing();

  // ---- IKzRedirectOwner
  void RedirectNotice(const TKzBufferInfo& Info, bool Limit) override;
  void RedirectEnded(TKzClientRedirect* Channel) override;
  bool RedirectBook(int64_t Delta, bool File) override;

private:
  void RegisterHandlers();
  // A group about to be created here, checked against the relays' shared
  // registry: false when they have their most groups; a group another relay
  // made takes its record and is no longer new. Registry lock held.
  bool LinkAdoptGroup(const TGUID& Group, const TGUID& S, const TKzServerCmdRequest& Req, TKzMediaServerGroupItem& G,
                      bool& GroupNew);
  // Hands the targets not on this relay (and a group packet) to the link.
  void LinkForward(const TKzPacketHeader& Header, const std::vector<uint8_t>& Bytes, std::vector<TGUID>& Targets,
                   uint32_t& ClientError);
  void PostEvent(std::function<void()> Proc);
  void StartListener(TKzProtocol Protocol);
  void StopListener(TKzProtocol Protocol);
  void FinishClients();
  void ReapChannels(bool All);
  void BoundReached(const std::string& What, const TGUID& User);
  bool PrepareSpoolFolder();
  void RemoveSpoolFolder();
  // Delivery of one packet from S to T; ClientError as the routing rules say.
  // Shared (or Conn's packet when Bytes is it) is held by the channel instead of a copy.
  void Deliver(const TGUID& T, const TGUID& S, const TKzPacketHeader& Header, const std::vector<uint8_t>& Bytes,
               TKzServerConn* Conn, uint32_t& ClientError, const TKzSharedBytes* Shared = nullptr);
  std::shared_ptr<TKzClientRedirect> GetClientRedirect(const TGUID& AGUIDTo, uint8_t DataType, bool IsCreate);
  void StopChannelLocked(std::shared_ptr<TKzClientRedirect>& Slot);
  void GoOffline(const TGUID& User);
  void DropUserIfIdle(const TGUID& User);
  bool CheckSysCmd(TKzServerConn* Conn, const TKzPacketHeader& Header, const uint8_t* Payload, size_t Size);
  bool HandleServerCmd(TKzServerConn* Conn, const TKzPacketHeader& Header, const TKzCmd& Cmd,
                       const TKzServerCmdRequest& Req);
  void GroupJoin(TKzServerConn* Conn, const TGUID& S, const TKzPacketHeader& Header, const TKzCmd& Cmd,
                 const TKzServerCmdRequest& Req);
  // Hands a video packet routed to Targets to the watcher too.
  void Watch(const std::vector<TGUID>& Targets, const TKzPacketHeader& Header, const std::vector<uint8_t>& Bytes,
             TKzServerConn* Conn);
  void RaiseServerCmd(const TGUID& From, const TGUID& To, const TGUID& Group, const TKzCmd& Cmd);
  // A command the server makes itself: OnServerCmd (unless filtered), then queued for To.
  void Notify(const TKzCmd& Cmd, const TGUID& From, const TGUID& To, const TGUID& Group);

  std::atomic<uint8_t> FCmdOptions{0};
  uint32_t FMaxGroupCount = 0;
  std::string FTempFolder;
  TKzConnectionProperties FSenderConnectionProperties;
  TKzReceiverConnectionProperties FReceiverConnectionProperties;
  TKzBufferOptions FBufferOptions;
  std::atomic<TKzKeepClientInfoMode> FKeepClientInfoMode{TKzKeepClientInfoMode::kzkclmWhileOnline};
  uint16_t FHTTPPort = 8080, FUDPPort = 8081;
  uint16_t FHTTPRebind = 0, FUDPRebind = 0;  // ports chosen by the system, kept over a restart
  std::atomic<bool> FFilterUserCmd{true};
  std::atomic<bool> FUseDumpMemory{false};
  mutable std::mutex FGUIDMyLock;  // guards FGUIDMy
  TGUID FGUIDMy;
  TKzServerBounds FBounds;
  std::shared_ptr<TKzServerAuth> FAuth;
  std::shared_ptr<IKzRelayLink> FLink;
  TKzMSCountEvent FOnConnectionCountChanged;
  std::function<void(TKzMediaServer*)> FOnPacketProcessing;

  TKzMediaServerThread* FHTTPThread = nullptr;
  TKzMediaServerThread* FUDPThread = nullptr;
  std::atomic<uint32_t> FSessionKey{0};
  std::atomic<uint16_t> FHTTPBound{0}, FUDPBound{0};
  std::atomic<bool> FStopping{false};  // channels are being stopped with their listener

  std::recursive_mutex FRegistryLock;  // guards the three registries and FRetired
  TKzListGUID<TKzMediaServerGUIDItem> ListReceivers;
  TKzListGUID<TKzMediaServerSenderItem> ListAllowedSenders;
  TKzListGUID<TKzMediaServerGroupItem> ListGroups;
  std::vector<std::shared_ptr<TKzClientRedirect>> FRetired;  // stopped channels not yet joined

  std::atomic<int64_t> FBookedMemory{0}, FBookedFile{0};
  std::atomic<bool> FMemoryBoundHit{false}, FFileBoundHit{false};
  mutable std::mutex FSpoolLock;  // guards FSpool
  std::string FSpool;
  std::mutex FDumpLock;  // guards FDump
  std::vector<uint8_t> FDump;
  mutable std::mutex FWatchLock;  // guards FWatcher and FWatched
  TGUID FWatcher;
  std::vector<TGUID> FWatched;
  std::shared_ptr<std::atomic<bool>> FAlive = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace kz
