// The relay's watcher: one participant that sees every sender's video.
#include <algorithm>

#include "streaming/server/fmxMKzMediaServer.h"

namespace kz {

void TKzMediaServer::SetWatcher(const TGUID& Value) {
  std::lock_guard<std::mutex> g(FWatchLock);
  if (Value != FWatcher) FWatched.clear();
  FWatcher = Value;
}

TGUID TKzMediaServer::Watcher() const {
  std::lock_guard<std::mutex> g(FWatchLock);
  return FWatcher;
}

std::vector<TGUID> TKzMediaServer::WatchedSenders() const {
  std::lock_guard<std::mutex> g(FWatchLock);
  return FWatched;
}

void TKzMediaServer::Watch(const std::vector<TGUID>& Targets, const TKzPacketHeader& Header,
                           const std::vector<uint8_t>& Bytes, TKzServerConn* Conn) {
  const TGUID watcher = Watcher();
  const TGUID& from = Header.GUIDFrom;
  if (IsNull(watcher) || IsNull(from) || from == watcher ||
      std::find(Targets.begin(), Targets.end(), watcher) != Targets.end())
    return;
  uint32_t error = 0;
  Deliver(watcher, from, Header, Bytes, Conn, error);
  if (error & KZ_CLIENT_ERROR_REFUSED) return;
  std::lock_guard<std::mutex> g(FWatchLock);
  if ((FBounds.MaxUsers == 0 || FWatched.size() < FBounds.MaxUsers) &&
      std::find(FWatched.begin(), FWatched.end(), from) == FWatched.end())
    FWatched.push_back(from);
}

}  // namespace kz
