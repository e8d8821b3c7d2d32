// The connection loop of TKzHttpVideoServer: one thread, one poll set, every
// connection. It accepts, reads request heads, answers from the fixed set of
// paths, feeds each stream client the newest encoding when it has taken the
// last one, and closes connections that idle or stop reading.
//
// Connections waiting for a request head or taking a short reply are kept
// up to MaxClients; a newer one pushes the oldest out (408), so idle
// connections cannot lock the server. Requests being served (streams included) are MaxClients at most;
// more are answered 503.
#pragma once
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/fmxMKzPlatformPollSet.h"
#include "webserver/fmxMKzHttpConnection.h"
#include "webserver/fmxMKzHttpRequest.h"

namespace kz {

class TKzHttpVideoServer;
struct TKzHttpServerStats;

class TKzHttpServeLoop {
public:
  // Takes over Listening. Owner's thread, never blocks.
  TKzHttpServeLoop(TKzHttpVideoServer& Server, TKzSocket Listening, int32_t MaxClients, uint32_t IdleTimeoutMs);
  ~TKzHttpServeLoop();

  // One round: waits up to a short while, then serves what is ready. The server's thread.
  void Round();
  // Ends the current wait early (new frames, stop). Any thread, never blocks.
  void Wake() { FPoll.Wake(); }
  // Any thread.
  void AddStats(TKzHttpServerStats& Stats) const;
  int32_t Connections() const { return FOpen.load(); }

private:
  using TConnections = std::list<std::unique_ptr<TKzHttpConnection>>;
  void Accept(uint64_t Now);
  // False when the connection is to be closed now.
  bool Serve(TKzHttpConnection& C, uint8_t Ready, uint64_t Now);
  bool HandleHead(TKzHttpConnection& C, uint64_t Now);
  void Answer(TKzHttpConnection& C, const TKzHttpRequest& R, uint64_t Now);
  void Reply(TKzHttpConnection& C, int Status, const std::string& Type, const std::string& Body, bool HeadOnly,
             const std::string& Extra = {}, bool Close = false);
  void StartStream(TKzHttpConnection& C, std::shared_ptr<TKzHttpSourceSlot> Slot, bool HeadOnly, uint64_t Now);
  void StartSnapshot(TKzHttpConnection& C, std::shared_ptr<TKzHttpSourceSlot> Slot, bool HeadOnly, uint64_t Now);
  void ReplyPicture(TKzHttpConnection& C, const TKzHttpJpegRef& Jpeg, bool HeadOnly);
  // Queues what the source has new for C; false when C waits on.
  bool Feed(TKzHttpConnection& C, uint64_t Now);
  void Leave(TKzHttpConnection& C);
  int32_t Serving() const;

  TKzHttpVideoServer& FServer;
  TKzSocket FListening;
  const int32_t FMaxClients;
  const uint32_t FIdleTimeoutMs;
  // Readiness of a connection in the current round.
  static constexpr uint8_t kReadable = 1, kWritable = 2;
  static constexpr uint64_t kListeningToken = 0;  // connections use their address
  TKzPollSet FPoll;
  bool FListeningWatched = false;
  std::vector<TKzPollSet::TEvent> FEvents;
  std::unordered_map<uint64_t, uint8_t> FReady;
  TConnections FConnections;
  std::atomic<int32_t> FOpen{0};
  std::atomic<uint64_t> FAccepted{0}, FRequests{0}, FRefused{0}, FBad{0}, FAuthRefused{0}, FDropped{0}, FSent{0};
};

}  // namespace kz
