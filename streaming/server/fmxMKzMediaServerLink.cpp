// The relay's side of a link to other relays: which packets leave through
// it, what comes back, and which users and groups this relay serves.
#include <algorithm>

#include "streaming/server/fmxMKzMediaServer.h"
#include "streaming/server/fmxMKzMediaServerThread.h"

namespace kz {

void TKzMediaServer::LinkForward(const TKzPacketHeader& Header, const std::vector<uint8_t>& Bytes,
                                 std::vector<TGUID>& Targets, uint32_t& ClientError) {
  std::shared_ptr<IKzRelayLink> link = RelayLink();
  const uint8_t code = Header.DataType();
  const int slot = KzKindSlot(code);
  if (!link || slot < 0) return;
  if ((Header.DataTypeWord & DATA_FLAG_GUIDGROUP) != 0) {
    // The link reaches the members elsewhere; the local ones are served from Targets.
    link->ForwardToGroup(Header.GUIDGroup, Header.GUIDFrom, code, Bytes);
    ClientError &= ~KZ_CLIENT_ERROR_REFUSED;
    return;
  }
  std::vector<TGUID> remote;
  {
    auto lock = LockRegistry();
    auto here = [&](const TGUID& T) {
      TKzMediaServerSenderItem* item = ListAllowedSenders.Find(T);
      return item && item->ClientRedirect[static_cast<size_t>(slot)];
    };
    auto split = std::stable_partition(Targets.begin(), Targets.end(), here);
    remote.assign(split, Targets.end());
    Targets.erase(split, Targets.end());
  }
  for (const TGUID& t : remote) link->ForwardToUser(t, Header.GUIDFrom, code, Bytes);
  if (!remote.empty()) ClientError &= ~KZ_CLIENT_ERROR_REFUSED;
}

namespace {

// One whole packet in Data, nothing else.
bool OnePacket(const uint8_t* Data, size_t Size, TKzServerItem& Item) {
  TKzServerConnReader reader;
  reader.Feed(Data, Size);
  return reader.Next(Item) && Item.Kind == TKzServerItem::TKind::kzsiPacket && Item.Bytes.size() == Size;
}

}  // namespace

void TKzMediaServer::DeliverFromLink(const TGUID& Target, bool ToGroup, const uint8_t* Data, size_t Size) {
  TKzServerItem item;
  if (!OnePacket(Data, Size, item)) return;
  const TKzPacketHeader& h = item.Header;
  std::vector<TGUID> targets;
  if (ToGroup) {
    auto lock = LockRegistry();
    if (TKzMediaServerGroupItem* g = ListGroups.Find(Target))
      for (const TGUID& m : g->Members.GUIDs)
        if (m != h.GUIDFrom) targets.push_back(m);
  } else {
    targets.push_back(Target);
  }
  // One copy for all the members here, as for a packet from a local sender.
  const TKzSharedBytes shared = std::make_shared<const std::vector<uint8_t>>(std::move(item.Bytes));
  uint32_t error = 0;
  for (const TGUID& t : targets) Deliver(t, h.GUIDFrom, h, *shared, nullptr, error, &shared);
}

std::vector<TGUID> TKzMediaServer::LinkedUsers() {
  std::vector<TGUID> out;
  auto lock = LockRegistry();
  ListAllowedSenders.ForEach([&out](const TGUID& G, TKzMediaServerSenderItem& U) {
    if (!U.NoChannel()) out.push_back(G);
  });
  return out;
}

std::vector<TGUID> TKzMediaServer::LinkedGroups() {
  std::vector<TGUID> out;
  auto lock = LockRegistry();
  ListGroups.ForEach([&](const TGUID& G, TKzMediaServerGroupItem& Group) {
    for (const TGUID& m : Group.Members.GUIDs)
      if (TKzMediaServerSenderItem* u = ListAllowedSenders.Find(m); u && !u->NoChannel()) {
        out.push_back(G);
        break;
      }
  });
  return out;
}

bool TKzMediaServer::LinkAdoptGroup(const TGUID& Group, const TGUID& S, const TKzServerCmdRequest& Req,
                                    TKzMediaServerGroupItem& G, bool& GroupNew) {
  std::shared_ptr<IKzRelayLink> link = RelayLink();
  if (!link) return true;
  TKzGroupRecord r{S, Req.Password, Req.UserData};
  switch (link->ClaimGroup(Group, r, FMaxGroupCount)) {
    case TKzGroupClaim::kzgcFull: return false;
    case TKzGroupClaim::kzgcExists:
      G.Owner = std::make_unique<TGUID>(r.Owner);
      if (!r.Password.empty()) G.Password = std::make_unique<std::string>(r.Password);
      G.Values = r.Values;
      GroupNew = false;
      return true;
    default: return true;
  }
}

std::vector<std::pair<TGUID, std::vector<TGUID>>> TKzMediaServer::LinkedMembership() {
  std::vector<std::pair<TGUID, std::vector<TGUID>>> out;
  auto lock = LockRegistry();
  ListAllowedSenders.ForEach([&out](const TGUID& G, TKzMediaServerSenderItem& U) {
    if (!U.NoChannel()) out.emplace_back(G, U.Groups.GUIDs);
  });
  return out;
}

std::vector<TGUID> TKzMediaServer::LinkedChannels(uint8_t Code) {
  std::vector<TGUID> out;
  const int slot = KzKindSlot(Code);
  if (slot < 0) return out;
  auto lock = LockRegistry();
  ListAllowedSenders.ForEach([&](const TGUID& G, TKzMediaServerSenderItem& U) {
    if (U.ClientRedirect[static_cast<size_t>(slot)]) out.push_back(G);
  });
  return out;
}

std::shared_ptr<TKzClientRedirect> TKzMediaServer::DeliverKept(const TGUID& User, const uint8_t* Data, size_t Size,
                                                               uint64_t& Mark, bool& Refused) {
  Refused = false;
  TKzServerItem item;
  if (!OnePacket(Data, Size, item)) {
    Refused = true;  // nothing a user could take
    return nullptr;
  }
  const TKzPacketHeader& h = item.Header;
  const int slot = KzKindSlot(h.DataType());
  std::shared_ptr<TKzClientRedirect> ch;
  {
    auto lock = LockRegistry();
    TKzMediaServerSenderItem* u = slot < 0 ? nullptr : ListAllowedSenders.Find(User);
    if (!u) return nullptr;
    if (!u->Accepts(h.DataType(), h.GUIDFrom)) {
      Refused = true;
      return nullptr;
    }
    ch = u->ClientRedirect[static_cast<size_t>(slot)];
  }
  if (!ch) return nullptr;
  uint32_t error = 0;
  Deliver(User, h.GUIDFrom, h, item.Bytes, nullptr, error);
  Mark = ch->BytesIn();
  return ch;
}

void TKzMediaServer::DropLinkedUser(const TGUID& User) {
  {
    auto lock = LockRegistry();
    TKzMediaServerSenderItem* item = ListAllowedSenders.Find(User);
    if (!item) return;
    for (auto& slot : item->ClientRedirect) StopChannelLocked(slot);
  }
  ReapChannels(false);
}

}  // namespace kz
