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
    // Once on the group's subject; the local members are served from Targets.
    link->ForwardToGroup(Header.GUIDGroup, code, Bytes);
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
  for (const TGUID& t : remote) link->ForwardToUser(t, code, Bytes);
  if (!remote.empty()) ClientError &= ~KZ_CLIENT_ERROR_REFUSED;
}

void TKzMediaServer::DeliverFromLink(const TGUID& Target, bool ToGroup, const uint8_t* Data, size_t Size) {
  TKzServerConnReader reader;
  reader.Feed(Data, Size);
  TKzServerItem item;
  if (!reader.Next(item) || item.Kind != TKzServerItem::TKind::kzsiPacket || item.Bytes.size() != Size) return;
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
  uint32_t error = 0;
  for (const TGUID& t : targets) Deliver(t, h.GUIDFrom, h, item.Bytes, nullptr, error);
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
