// The groups the relays of a cluster share, in the JetStream key-value
// bucket kz_<cluster>: key g.<group hex> holds a group's owner, password
// and values, key count the number of groups while a limit is set. An
// entry is only created with Create and changed with Update at the
// revision read (compare-and-set), so two relays never both create one
// group nor pass the limit together. Any thread; calls are serialised.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "streaming/server/fmxMKzRelayLink.h"

struct __natsConnection;
struct __jsCtx;
struct __kvStore;

namespace kz {

// A record as the bucket keeps it, and back (false when it is not one).
std::string KzGroupRecordText(const TKzGroupRecord& Record);
bool KzGroupRecordFrom(const std::string& Text, TKzGroupRecord& Record);

class TKzNatsGroups {
public:
  explicit TKzNatsGroups(std::string Cluster) : FBucket("kz_" + Cluster) {}
  ~TKzNatsGroups() { Stop(); }
  void Start(__natsConnection* Conn);
  void Stop();
  void SetConnected(bool Up) { FUp = Up; }
  TKzGroupClaim Claim(const TGUID& Group, TKzGroupRecord& Record, uint32_t MaxGroups);
  // The groups in the bucket; empty when it cannot be read now.
  std::vector<TGUID> Groups();

private:
  bool Bound();
  // Adds one to the count unless it reached Max; false when full.
  bool CountOneMore(uint32_t Max);

  const std::string FBucket;
  std::mutex FLock;  // guards all below
  __natsConnection* FConn = nullptr;
  __jsCtx* FJs = nullptr;
  __kvStore* FKv = nullptr;
  std::atomic<bool> FUp{false};
};

}  // namespace kz
