// A link from one relay to others: packets of local senders for users and
// groups that are not (only) on this relay leave through it, and what the
// other relays send for local users and groups comes back through
// TKzMediaServer::DeliverFromLink. The relay never hands a packet that came
// through the link back to it.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"

namespace kz {

// A group as the relays share it.
struct TKzGroupRecord {
  TGUID Owner;
  std::string Password;
  std::vector<std::string> Values;
};

enum class TKzGroupClaim : uint8_t {
  kzgcCreated,  // this relay's creation holds for all of them
  kzgcExists,   // another relay made it first: the record is filled in
  kzgcFull,     // the relays have MaxGroups groups already
  kzgcAlone,    // no shared registry now: this relay decides alone
};

class IKzRelayLink {
public:
  virtual ~IKzRelayLink() = default;
  // One whole packet (header included, as it arrived) of kind Code from
  // user From for a user on another relay. Connection threads; never
  // blocks for long.
  virtual void ForwardToUser(const TGUID& User, const TGUID& From, uint8_t Code, const std::vector<uint8_t>& Bytes) = 0;
  // The same for a group: the members on other relays get it (never From).
  virtual void ForwardToGroup(const TGUID& Group, const TGUID& From, uint8_t Code,
                              const std::vector<uint8_t>& Bytes) = 0;
  // A group this relay is about to create (Record: as the joining user
  // asks for it). Registry lock held: answers within a bounded time.
  virtual TKzGroupClaim ClaimGroup(const TGUID& /*Group*/, TKzGroupRecord& /*Record*/, uint32_t /*MaxGroups*/) {
    return TKzGroupClaim::kzgcAlone;
  }
  // The users other relays serve now, each with its groups there, for the
  // relay's lists. Registry lock held: answers at once.
  virtual std::vector<std::pair<TGUID, std::vector<TGUID>>> OtherRelaysUsers() { return {}; }
  // Every group the relays share. Registry lock held: answers within a bounded time.
  virtual std::vector<TGUID> SharedGroups() { return {}; }
};

}  // namespace kz
