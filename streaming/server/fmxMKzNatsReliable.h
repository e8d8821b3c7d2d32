// Kept kinds between relays: user data, commands and files (codes 4, 8 and
// 16) to a user on another relay go through JetStream, so that a relay
// restarting or dying loses none of them. One stream per cluster,
// KZ_<cluster>, holds kz.<cluster>.<4|8|16>.u.* on file (3 replicas when the
// NATS servers are a cluster, 1 otherwise). Each message carries a
// Nats-Msg-Id of the sender, this relay's run and a counter, so a resend is
// dropped by the server.
//
// The client library never gives up on a publish the server did not
// confirm (one sent to a node that died, or while the stream had no
// leader), so this side keeps every unconfirmed one (bounded) and sends
// those refused, those unconfirmed for a while and all of them after a
// reconnect again, oldest first; new ones queue behind those waiting, so a
// sender's kept packets stay in order.
//
// The relay holding a user's channel of a kept kind reads the user's
// messages of that kind with a durable pull consumer named by the user and
// the kind; it acknowledges a message once the batch holding it has been
// sent to the user (or the buffer holding it was emptied at its limit), and
// gives it back when the channel ends before that. A relay that takes the
// user over continues that consumer where it stands; what was in flight on
// the relay that died comes again once its acknowledgement time passes.
//
// One worker thread fetches (woken by the plain copy of each message the
// user's subject subscription sees, and once a second anyway), acknowledges
// and follows the local channels. Start and Stop on one thread.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"

struct __natsConnection;
struct __natsSubscription;
struct __natsMsg;
struct __jsCtx;

namespace kz {

class TKzMediaServer;
class TKzClientRedirect;

// The kinds kept in the stream.
constexpr bool KzKeptKind(uint8_t Code) { return Code == 4 || Code == 8 || Code == 16; }
// "KZ_<Cluster>".
std::string KzNatsStreamName(const std::string& Cluster);

class TKzNatsReliable {
public:
  TKzNatsReliable(TKzMediaServer* Server, std::string Cluster, std::string RelayId,
                  std::function<void(const std::string&)> Log);
  ~TKzNatsReliable();
  // Starts the worker on a connection (connected or still trying).
  bool Start(__natsConnection* Conn, std::string& Error);
  // Ends the worker and frees the consumers (they stay on the server).
  void Stop();
  // The connection is up (true) or lost; the stream is checked again once up.
  void SetConnected(bool Up);

  // One packet for User from From: pieces when above the maximum payload.
  // Connection threads; never waits for the server.
  void Publish(const TGUID& User, const TGUID& From, uint8_t Code, const std::vector<uint8_t>& Bytes);
  // A message for User of kind Code is in the stream. Any thread.
  void Wake(const TGUID& User, uint8_t Code);

  bool StreamReady() const { return FStreamReady.load(); }
  int StreamReplicas() const { return FReplicas.load(); }
  size_t ConsumerCount();
  uint64_t Delivered() const { return FDelivered.load(); }
  uint64_t Acked() const { return FAcked.load(); }

private:
  struct TPending {
    std::vector<__natsMsg*> Msgs;  // the pieces of one packet (one when whole)
    std::weak_ptr<TKzClientRedirect> Channel;
    uint64_t Mark = 0;
    uint64_t Touched = 0;
  };
  struct TConsumer {
    __natsSubscription* Sub = nullptr;
    TGUID User;
    uint8_t Code = 0;
    bool Dirty = true;
    uint64_t LastFetch = 0;
    std::deque<TPending> Pending;
    std::vector<__natsMsg*> Pieces;  // of the packet being joined
    std::vector<uint8_t> Joined;
    // Message ids handed to the channel lately: one the stream gives again
    // (its acknowledgement lost with a node, or stored twice) is skipped.
    std::set<std::string> Seen;
    std::deque<std::string> SeenOrder;
  };
  struct TUnconfirmed {
    uint64_t Seq = 0;    // publishing order
    uint64_t First = 0;  // first sent (tick)
    uint64_t Sent = 0;   // last sent
  };
  static void OnPublished(struct __jsCtx* Js, __natsMsg* Msg, void* Ack, void* Failure, void* Closure);
  // Takes what the library confirmed or refused. Under FPubLock.
  void TakeResults();
  // Sends Msg, or queues it behind those waiting to go again. Under FPubLock.
  void SendKept(__natsMsg* Msg, uint64_t Now);
  // Sends again what was refused or stayed unconfirmed too long.
  void Republish();
  void Execute();
  bool EnsureStream();
  void FollowChannels();
  // Binds to the user's durable consumer, creating it the first time.
  __natsSubscription* OpenConsumer(const std::string& Name, const std::string& Subject);
  void Fetch(TConsumer& C);
  // One fetched message; false when the rest of the batch must wait.
  bool Take(TConsumer& C, __natsMsg* Msg);
  void Settle(TConsumer& C, bool GiveAllBack);
  static void Remember(TConsumer& C, __natsMsg* Msg);
  void Drop(TConsumer& C);

  TKzMediaServer* const FServer;
  const std::string FCluster, FRelayId, FStream;
  const std::function<void(const std::string&)> FLog;
  __natsConnection* FConn = nullptr;
  __jsCtx* FJs = nullptr;
  std::atomic<bool> FUp{false}, FStreamReady{false}, FStop{false};
  std::atomic<int> FReplicas{0};
  int FShortTries = 0;  // the worker's only: stream tries the cluster had too few peers for
  std::atomic<uint64_t> FCounter{0}, FDelivered{0}, FAcked{0};
  std::mutex FLock;  // guards FWoken, FCount
  std::condition_variable FWake;
  std::set<std::string> FWoken;  // consumers to fetch from at once
  size_t FCount = 0;
  std::map<std::string, TConsumer> FConsumers;  // the worker's only
  // Held while publishing, so that order holds; never taken by the
  // library's threads (they only hand results over under FAckLock).
  std::mutex FPubLock;
  std::map<std::string, TUnconfirmed> FUnconfirmed;  // by Nats-Msg-Id
  std::vector<__natsMsg*> FResend;                   // ours again, to go in order
  uint64_t FPubSeq = 0, FResendAt = 0, FCheckedAt = 0;
  bool FHandedOver = false;  // the library has had a publish
  std::atomic<bool> FReconnected{false};
  std::mutex FAckLock;  // guards the two below
  std::vector<std::string> FConfirmed;
  std::vector<__natsMsg*> FRefused;
  std::thread FWorker;
};

}  // namespace kz
