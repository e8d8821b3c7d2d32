// Relays joined through NATS. Each relay publishes what its local senders
// send to users and groups elsewhere on kz.<cluster>.<kind>.u.<user> and
// kz.<cluster>.<kind>.g.<group> (GUIDs as 32 hex digits, kinds as their
// data-type codes), and subscribes to the subjects of the users with an
// open channel here and of the groups with such a member, following joins
// and leaves. A packet travels as the bytes it arrived as; one above the
// server's maximum payload goes in numbered pieces joined before delivery.
// Video and audio go on the plain subjects (lost when nobody listens, a
// slow reader loses the oldest); user data, commands and files go through
// JetStream (TKzNatsReliable), a group's ones to each member's user subject.
// Presence (which users each relay serves, their groups) goes out on
// kz.<cluster>.presence every 2 s and at once when it changed, with when
// each user's channels opened; a relay not heard of for 10 s is forgotten.
// One holder: a user whose newer connection is on another relay loses its
// channels here on that relay's presence message.
//
// Messages of all subscriptions are delivered by one thread in the order
// they arrived, so a sender's packets stay in order across subjects.
// The connection runs without echo and reconnects by itself (the client's
// own reconnect); while NATS is unreachable local delivery goes on. Each
// subscription's pending limit bounds memory: a slow relay loses packets
// (newest wins) with a log line and never blocks other subscriptions.
//
// Start and Stop on one thread (the main thread); the rest any thread.
#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "streaming/server/fmxMKzNatsGroups.h"
#include "streaming/server/fmxMKzNatsReliable.h"
#include "streaming/server/fmxMKzRelayLink.h"

struct __natsConnection;
struct __natsOptions;
struct __natsSubscription;
struct __natsMsg;

namespace kz {

class TKzMediaServer;

struct TKzNatsLinkOptions {
  std::vector<std::string> Servers;  // nats://host:port each
  std::string Cluster = "kz";        // subject prefix kz.<Cluster>
  std::string CredsFile;             // user credentials ("" none); never logged
  int PendingMessages = 4096;        // per subscription
  int PendingBytes = 64 << 20;       // per subscription
};

// "kz.<Cluster>.<Code>.u.<32 hex>" (ToGroup: ".g.").
std::string KzNatsSubject(const std::string& Cluster, uint8_t Code, bool ToGroup, const TGUID& Target);
// The GUID as 32 lowercase hex digits.
std::string KzGUIDHex(const TGUID& G);
// Back from 32 hex digits; false when it is not that.
bool KzGUIDFromHex(const std::string& Hex, TGUID& Out);
// "URL[,URL...]" into its URLs; false on an empty item.
bool KzSplitNatsServers(const std::string& Text, std::vector<std::string>& Out);
// A cluster name fits in one subject token: letters, digits, '-' and '_'.
bool KzValidClusterName(const std::string& Name);

class TKzNatsLink : public IKzRelayLink {
public:
  TKzNatsLink(TKzMediaServer* Server, TKzNatsLinkOptions Options);
  ~TKzNatsLink() override;
  // Connects (or keeps trying in the background when the servers are not
  // up yet); false only on bad options or credentials.
  bool Start(std::string& Error);
  // Closes the connection and ends the worker; within about a second.
  void Stop();

  // One line for the log (no credentials in it). Any thread; set before Start.
  std::function<void(const std::string&)> OnLog;

  bool Connected() const { return FConnected.load(); }
  // Users other relays told of in their presence, and how many relays.
  size_t RemoteUserCount();
  size_t RemoteRelayCount();
  // Subjects subscribed to for local users and groups.
  size_t SubscriptionCount();
  uint64_t Published() const { return FPublished.load(); }
  uint64_t Received() const { return FReceived.load(); }

  // The kept kinds' side (JetStream); null before Start.
  TKzNatsReliable* Kept() { return FKept.get(); }

  void ForwardToUser(const TGUID& User, const TGUID& From, uint8_t Code, const std::vector<uint8_t>& Bytes) override;
  void ForwardToGroup(const TGUID& Group, const TGUID& From, uint8_t Code, const std::vector<uint8_t>& Bytes) override;
  TKzGroupClaim ClaimGroup(const TGUID& Group, TKzGroupRecord& Record, uint32_t MaxGroups) override {
    return FGroups ? FGroups->Claim(Group, Record, MaxGroups) : TKzGroupClaim::kzgcAlone;
  }
  std::vector<std::pair<TGUID, std::vector<TGUID>>> OtherRelaysUsers() override;
  std::vector<TGUID> SharedGroups() override { return FGroups ? FGroups->Groups() : std::vector<TGUID>{}; }

private:
  struct TPartial {
    std::vector<uint8_t> Bytes;
    uint32_t Next = 0, Total = 0;
    uint64_t Started = 0;
  };
  struct TPresence {
    uint64_t Seen = 0;
    std::map<std::string, std::vector<std::string>> Users;  // user hex -> its groups (hex)
  };
  static void OnMessage(__natsConnection*, __natsSubscription*, __natsMsg* Msg, void* Closure);
  static void OnPresenceMessage(__natsConnection*, __natsSubscription*, __natsMsg* Msg, void* Closure);
  static void OnDisconnected(__natsConnection*, void* Closure);
  static void OnReconnected(__natsConnection*, void* Closure);
  static void OnConnected(__natsConnection*, void* Closure);
  static void OnClosed(__natsConnection*, void* Closure);
  static void OnAsyncError(__natsConnection*, __natsSubscription*, int Status, void* Closure);
  void Publish(const std::string& Subject, const std::vector<uint8_t>& Bytes);
  void Arrived(const char* Subject, const uint8_t* Data, size_t Size, const char* Piece);
  void Execute();
  void RefreshSubscriptions();
  void PublishPresence(bool OnlyWhenChanged);
  // Members of Group on other relays (hex), without From and local users.
  std::vector<TGUID> RemoteMembers(const TGUID& Group, const TGUID& From);
  void Log(const std::string& Line);
  // Users on another relay since Since (epoch ms): older holders here let go.
  void OtherHolders(const std::string& Relay, const std::vector<std::pair<std::string, uint64_t>>& Users);

  TKzMediaServer* const FServer;
  const TKzNatsLinkOptions FOptions;
  std::string FRelayId;  // this relay in presence messages
  __natsOptions* FOpts = nullptr;
  __natsConnection* FConn = nullptr;
  __natsSubscription* FPresenceSub = nullptr;
  std::map<std::string, __natsSubscription*> FSubs;  // the worker's only
  std::mutex FSubsLock;                               // guards FSubs' size for readers
  std::mutex FPartialLock;                            // guards FPartials, FPieceSerial
  std::map<std::string, TPartial> FPartials;
  uint64_t FPieceSerial = 0;
  std::mutex FPresenceLock;  // guards FPresence
  std::map<std::string, TPresence> FPresence;
  std::map<std::string, uint64_t> FSince;  // local users (hex) and when first seen here, epoch ms
  std::vector<std::string> FLetGo;         // local users held newer elsewhere
  std::string FLastPresence;               // the worker's only
  std::atomic<bool> FConnected{false}, FLostTold{false}, FStop{false};
  std::atomic<uint64_t> FPublished{0}, FReceived{0}, FSlowTold{0};
  std::mutex FWaitLock;  // guards FClosed
  std::condition_variable FWake;
  bool FClosed = false;  // the client's last callback came: the link may go
  std::thread FWorker;
  std::unique_ptr<TKzNatsReliable> FKept;
  std::unique_ptr<TKzNatsGroups> FGroups;
};

}  // namespace kz
