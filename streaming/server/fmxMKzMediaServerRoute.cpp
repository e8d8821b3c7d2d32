// The relay's routing: channel requests, delivery of packets to channels,
// commands queued for users, and the end of channels.
#include <algorithm>

#include "foundation/Fmxmkzmediatypefuncs.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzPacketWriter.h"
#include "streaming/server/fmxMKzMediaServer.h"
#include "streaming/server/fmxMKzMediaServerThread.h"

namespace kz {

namespace {

bool Flagged(const TKzPacketHeader& H, uint16_t Flag) { return (H.DataTypeWord & Flag) != 0; }

TKzCmd BufferCmd(const char* Name, uint8_t Code, const TGUID& To) {
  TKzCmd cmd;
  cmd.Name = Name;
  cmd.AddParam("DATA_TYPE").SetInteger(Code);
  cmd.AddParam("GUIDTo").SetString(GUIDToStringA(To));
  return cmd;
}

}  // namespace

// ---- Registry records

TKzMediaServerSenderItem* TKzMediaServer::GetSenderGUID(const TGUID& AGUID, bool& IsNew) {
  TKzMediaServerSenderItem* r = ListAllowedSenders.GetGUID(AGUID, IsNew, true);
  if (!r) BoundReached("users", AGUID);
  return r;
}

TKzMediaServerGUIDItem* TKzMediaServer::GetRecvGUID(const TGUID& AGUID, bool& IsNew) {
  TKzMediaServerGUIDItem* r = ListReceivers.GetGUID(AGUID, IsNew, true);
  if (!r) BoundReached("users", AGUID);
  return r;
}

TKzMediaServerGroupItem* TKzMediaServer::GetGroupGUID(const TGUID& AGUID, bool& IsNew) {
  TKzMediaServerGroupItem* r = ListGroups.GetGUID(AGUID, IsNew, true);
  if (!r) BoundReached("groups", AGUID);
  return r;
}

void TKzMediaServer::FreeSenderGUID(const TGUID& AGUID) {
  if (TKzMediaServerSenderItem* item = ListAllowedSenders.Find(AGUID))
    for (auto& slot : item->ClientRedirect) StopChannelLocked(slot);
  ListAllowedSenders.FreeGUID(AGUID);
}

void TKzMediaServer::FreeRecvGUID(const TGUID& AGUID) { ListReceivers.FreeGUID(AGUID); }
void TKzMediaServer::FreeGroupGUID(const TGUID& AGUID) { ListGroups.FreeGUID(AGUID); }

// ---- Channels

std::shared_ptr<TKzClientRedirect> TKzMediaServer::GetClientRedirect(const TGUID& AGUIDTo, uint8_t DataType,
                                                                     bool IsCreate) {
  const int slot = KzKindSlot(DataType);
  if (slot < 0 || FStopping) return nullptr;
  bool isNew = false;
  TKzMediaServerSenderItem* item = IsCreate ? GetSenderGUID(AGUIDTo, isNew) : ListAllowedSenders.Find(AGUIDTo);
  if (!item) return nullptr;
  std::shared_ptr<TKzClientRedirect>& ch = item->ClientRedirect[slot];
  if (ch || !IsCreate) return ch;
  const auto open = std::count_if(item->ClientRedirect.begin(), item->ClientRedirect.end(),
                                  [](const auto& c) { return c != nullptr; });
  if (FBounds.MaxChannelsPerUser != 0 && static_cast<uint32_t>(open) >= FBounds.MaxChannelsPerUser) {
    BoundReached("channels per user", AGUIDTo);
    return nullptr;
  }
  const std::string folder = SpoolFolder();
  const bool file = FBufferOptions.GetStreamType(DataType) == TKzStreamType::kzstFile && !folder.empty();
  const uint32_t memoryMax =
      FBufferOptions.LimitType() == TKzBufferLimitType::kzbltNo ? 0 : FBufferOptions.GetMaxBufferSize(DataType);
  const uint32_t maxSize =
      file && FBufferOptions.LimitType() == TKzBufferLimitType::kzbltLimitMemory ? 0 : memoryMax;
  ch = std::make_shared<TKzClientRedirect>(this, DataType, AGUIDTo, FSessionKey.load(), maxSize, file, folder,
                                           memoryMax);
  StartThread(ch.get());
  return ch;
}

void TKzMediaServer::ChannelRequest(TKzServerConn& Conn, const TKzChannelRequest& Request, uint16_t& DataType) {
  uint8_t code = 0;
  const TKzChannelRequestKind kind = KzChannelRequestKind(Request.Text, code);
  if (IsNull(Request.GUID) || Conn.Socket == KZ_INVALID_SOCKET) {
    if (Conn.Socket != KZ_INVALID_SOCKET) PlatformShutdown(Conn.Socket);  // its thread closes it
    return;
  }
  if (Auth() && Request.GUID != Conn.AuthGUID) {
    Refuse(&Conn, "channel request for another GUID", Request.GUID);
    PlatformShutdown(Conn.Socket);
    return;
  }
  // A connection asking again for the channel it holds skips the registry.
  if (auto held = Conn.Pulling.lock(); held && held->GUIDTo() == Request.GUID && held->DataType() == code &&
                                       held->Live() && held->ClientConn() == Conn.Serial) {
    DataType = static_cast<uint16_t>(code | KZ_SERVER_CHANNEL_FLAG);
    if (kind == TKzChannelRequestKind::kzcrClear) held->ClearBuffer();
    held->Answer(Conn.Out);
    return;
  }
  std::shared_ptr<TKzClientRedirect> ch;
  bool created = false;
  {
    auto lock = LockRegistry();
    TKzMediaServerSenderItem* item = ListAllowedSenders.Find(Request.GUID);
    created = !item || !item->ClientRedirect[static_cast<size_t>(std::max(KzKindSlot(code), 0))];
    ch = GetClientRedirect(Request.GUID, code, true);
  }
  if (!ch) {
    KzAppendSessionPack(MARKER_SESSION_NODATA, FSessionKey.load(), 0, Conn.Out);
    return;
  }
  DataType = static_cast<uint16_t>(code | KZ_SERVER_CHANNEL_FLAG);
  if (ch->Attach(Conn.Serial, Conn.Socket, Request.Text) == TKzClientRedirect::TAttach::kzraOtherSocket) {
    if (Conn.Authed.load()) {
      ch->TakeOver(Conn.Serial, Conn.Socket, Request.Text);  // the user proved it is itself
    } else {
      TKzCmd cmd;
      cmd.Name = "KzS_DISCONNECT";
      cmd.AddParam("Reason").SetString("OTHER USER");
      SendCommandToGUID(cmd, GUIDMyValue(), Request.GUID, TGUID{});
      Refuse(&Conn, "a second connection for a channel in use", Request.GUID);
      PlatformShutdown(Conn.Socket);
      return;
    }
  }
  if (std::none_of(Conn.Held.begin(), Conn.Held.end(), [&ch](const auto& w) { return w.lock() == ch; }))
    Conn.Held.push_back(ch);
  Conn.Pulling = ch;
  if (kind == TKzChannelRequestKind::kzcrClear) ch->ClearBuffer();
  if (created && OnUserConnect) OnUserConnect(this, GUIDToStringA(Request.GUID), KzKindMediaType(code));
  ch->Answer(Conn.Out);
}

void TKzMediaServer::ConnectionGone(TKzServerConn& Conn) {
  for (const auto& w : Conn.Held)
    if (auto ch = w.lock()) ch->ConnectionGone(Conn.Serial);
}

void TKzMediaServer::RedirectEnded(TKzClientRedirect* Channel) {
  const bool peer = Channel->EndedByPeer() && !FStopping;
  const TGUID user = Channel->GUIDTo();
  const uint8_t code = Channel->DataType();
  {
    auto lock = LockRegistry();
    if (TKzMediaServerSenderItem* item = ListAllowedSenders.Find(user)) {
      std::shared_ptr<TKzClientRedirect>& slot = item->ClientRedirect[static_cast<size_t>(KzKindSlot(code))];
      if (slot.get() == Channel) {
        FRetired.push_back(std::move(slot));  // freed once its thread has ended
        slot.reset();
      }
      if (peer && code == DATA_TYPE_CMD) GoOffline(user);
      if (peer) DropUserIfIdle(user);
    }
  }
  if (!peer) return;
  const std::string text = GUIDToStringA(user);
  const TKzMediaType type = KzKindMediaType(code);
  PostEvent([this, text, type] {
    if (OnUserDisconnect) OnUserDisconnect(this, text, type);
  });
}

void TKzMediaServer::DropUserIfIdle(const TGUID& User) {
  if (FKeepClientInfoMode.load() != TKzKeepClientInfoMode::kzkclmWhileOnline) return;
  TKzMediaServerSenderItem* item = ListAllowedSenders.Find(User);
  if (!item || !item->NoChannel()) return;
  FreeRecvGUID(User);
  FreeSenderGUID(User);
}

// ---- Routing

void TKzMediaServer::ReadData(TKzServerConn& Conn, const TKzPacketHeader& Header, const std::vector<uint8_t>& Bytes,
                              size_t HeaderSize, uint32_t& ClientError) {
  const uint8_t code = Header.DataType();
  const bool hasFrom = Flagged(Header, DATA_FLAG_GUIDFROM);
  if (Auth() && (!hasFrom || Header.GUIDFrom != Conn.AuthGUID)) {
    Refuse(&Conn, "packet sent as another GUID", Header.GUIDFrom);
    return;
  }
  if (code == DATA_TYPE_CMD && Header.Compression() == TKzCompressionType::kztcNone &&
      CheckSysCmd(&Conn, Header, Bytes.data() + HeaderSize, Bytes.size() - HeaderSize))
    return;
  std::vector<TGUID> targets;
  if (Flagged(Header, DATA_FLAG_GUIDTO) && !Flagged(Header, DATA_FLAG_GUIDGROUP)) {
    targets.push_back(Header.GUIDTo);
  } else if (Flagged(Header, DATA_FLAG_GUIDGROUP) || hasFrom) {
    auto lock = LockRegistry();
    const TKzMediaServerGUIDItem* list = nullptr;
    if (Flagged(Header, DATA_FLAG_GUIDGROUP)) {
      if (TKzMediaServerGroupItem* g = ListGroups.Find(Header.GUIDGroup)) list = &g->Members;
    } else {
      list = ListReceivers.Find(Header.GUIDFrom);
    }
    if (list)
      for (const TGUID& m : list->GUIDs)
        if (m != Header.GUIDFrom) targets.push_back(m);
    if (targets.empty()) ClientError = KZ_CLIENT_ERROR_REFUSED;
  }
  if (RelayLink()) LinkForward(Header, Bytes, targets, ClientError);
  bool limited = false;
  for (const TGUID& t : targets) {
    Deliver(t, Header.GUIDFrom, Header, Bytes, &Conn, ClientError);
    limited = limited || (ClientError & KZ_CLIENT_ERROR_LIMIT_BUFFER);
  }
  if (code == DATA_TYPE_VIDEO) Watch(targets, Header, Bytes, &Conn);
  // The sender hears of full buffers; its connection is never slowed for them.
  if (limited != Conn.Limited && hasFrom && !targets.empty()) {
    SendCommandToGUID(BufferCmd(limited ? "KzS_LIMIT_BUFFER" : "KzS_NOT_LIMIT_BUFFER", code, targets.front()),
                      GUIDMyValue(), Header.GUIDFrom, TGUID{});
    Conn.Limited = limited;
  }
  ClientError &= ~KZ_CLIENT_ERROR_LIMIT_BUFFER;
}

// Handing one packet to local destinations is the one step that sees a
// finished packet and its destination: a link to another relay would be
// one more destination here.
void TKzMediaServer::Deliver(const TGUID& T, const TGUID& S, const TKzPacketHeader& Header,
                             const std::vector<uint8_t>& Bytes, TKzServerConn* Conn, uint32_t& ClientError,
                             const TKzSharedBytes* Shared) {
  const uint8_t code = Header.DataType();
  const int slot = KzKindSlot(code);
  std::shared_ptr<TKzClientRedirect> ch;
  {
    auto lock = LockRegistry();
    TKzMediaServerSenderItem* item = slot < 0 ? nullptr : ListAllowedSenders.Find(T);
    if (!item || !item->Accepts(code, S)) {
      ClientError |= KZ_CLIENT_ERROR_REFUSED;
      return;
    }
    ch = item->ClientRedirect[static_cast<size_t>(slot)];
  }
  if (!ch) {
    ClientError = KZ_CLIENT_ERROR_REFUSED;
    return;
  }
  TKzHeaderPack pack;
  pack.MARKER = HEADER_MARKER_TCP;
  pack.GUIDFrom = S;
  pack.GUIDGroup = Header.GUIDGroup;
  bool cleared = false;
  // The packet a connection is routing is shared by its channels, not copied.
  if (Conn && Conn->Packet && Conn->Packet.get() == &Bytes) Shared = &Conn->Packet;
  if (Shared) {
    ClientError = ch->AddData(pack, *Shared, Conn ? Conn->Serial : 0, cleared);
  } else {
    ClientError = ch->AddData(pack, Bytes.data(), Bytes.size(), Conn ? Conn->Serial : 0, cleared);
  }
  if (cleared && !IsNull(S))
    SendCommandToGUID(BufferCmd("KzS_CLEAR_BUFFER", code, T), GUIDMyValue(), S, TGUID{});
}

bool TKzMediaServer::SendCommandToGUID(const TKzCmd& Cmd, const TGUID& AGUIDFrom, const TGUID& AGUIDTo,
                                       const TGUID& AGUIDGroup) {
  std::shared_ptr<TKzClientRedirect> ch;
  {
    auto lock = LockRegistry();
    TKzMediaServerSenderItem* item = ListAllowedSenders.Find(AGUIDTo);
    if (!item) return false;
    ch = item->ClientRedirect[static_cast<size_t>(KzKindSlot(DATA_TYPE_CMD))];
  }
  if (!ch) return true;
  TMemoryStream payload;
  KzSaveCmdPayload({Cmd}, payload);
  TKzPacketSpec spec;
  spec.DataType = DATA_TYPE_CMD;
  spec.BufferSize = static_cast<uint32_t>(payload.Size() + 256);
  spec.GUIDFrom = AGUIDFrom;
  spec.GUIDTo = AGUIDTo;
  spec.GUIDGroup = AGUIDGroup;
  std::vector<uint8_t> packet;
  uint16_t index = 0;
  TKzPacketWriter writer;
  writer.Write(spec, payload.Memory(), static_cast<size_t>(payload.Size()), index,
               [&packet](const uint8_t* D, size_t N) {
                 packet.insert(packet.end(), D, D + N);
                 return true;
               });
  TKzHeaderPack pack;
  pack.MARKER = HEADER_MARKER_TCP;
  pack.GUIDFrom = AGUIDFrom;
  pack.GUIDGroup = AGUIDGroup;
  bool cleared = false;
  ch->AddData(pack, packet.data(), packet.size(), 0, cleared);
  return true;
}

int32_t TKzMediaServer::SendCmdToUser(const TKzCmd& Cmd, const TGUID& AGUIDFrom, const TGUID& AGUIDTo) {
  return SendCommandToGUID(Cmd, AGUIDFrom, AGUIDTo, TGUID{}) ? 1 : 0;
}

int32_t TKzMediaServer::SendCmdToGroup(const TKzCmd& Cmd, const TGUID& AGUIDFrom, const TGUID& AGUIDGroup) {
  std::vector<TGUID> members;
  {
    auto lock = LockRegistry();
    TKzMediaServerGroupItem* g = ListGroups.Find(AGUIDGroup);
    if (!g) return 0;
    members = g->Members.GUIDs;
  }
  for (const TGUID& m : members) SendCommandToGUID(Cmd, AGUIDFrom, m, AGUIDGroup);
  return static_cast<int32_t>(members.size());
}

}  // namespace kz
