// Who may use a relay, when it is started with an access file, and the
// proof a participant sends for it.
//
// Access file: one participant a line, "GUID secret group group ...";
// blank lines and lines starting with "#" are ignored.
//
// Proof: the first thing on every connection is a command packet holding
// the command "KzS_AUTH" with "GUID" (its text), "Time" (seconds since
// 1970), "Nonce" (random text) and "HMAC" (lower-case hex of the
// HMAC-SHA-256 of "GUID\nTime\nNonce" under the participant's secret).
// The relay takes a time within KZ_AUTH_WINDOW_S of its own and each nonce
// once within that window.
//
// Any thread; TKzServerAuth locks itself and never blocks for long.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"
#include "streaming/Fmxmkzcmd.h"

namespace kz {

constexpr int64_t KZ_AUTH_WINDOW_S = 60;
constexpr const char* KZ_AUTH_CMD = "KzS_AUTH";

struct TKzAuthEntry {
  TGUID GUID;
  std::string Secret;
  std::vector<TGUID> Groups;
};

class TKzServerAuth {
public:
  // Reads the access file in place of the table held; on failure the held
  // table stays and Error says why.
  bool LoadFile(const std::string& FileName, std::string& Error);
  bool LoadText(const std::string& Text, std::string& Error);
  size_t Count() const;
  // Checks a "KzS_AUTH" command at time Now (seconds since 1970): true with
  // Who set when it proves a listed participant; else Why says what failed.
  bool Verify(const TKzCmd& Cmd, int64_t Now, TGUID& Who, std::string& Why);
  // Whether Who may join Group.
  bool MayJoin(const TGUID& Who, const TGUID& Group) const;

private:
  using TTable = std::unordered_map<TGUID, TKzAuthEntry, TGUIDHash>;
  mutable std::mutex FLock;  // guards FTable and FNonces
  std::shared_ptr<const TTable> FTable = std::make_shared<TTable>();
  std::unordered_map<std::string, int64_t> FNonces;  // nonce -> time it was used
};

// Lower-case hex of the HMAC-SHA-256 of Message under Key.
std::string KzHmacSha256Hex(const std::string& Key, const std::string& Message);
// The proof command for GUID with Secret at time Now (seconds since 1970).
TKzCmd KzMakeAuthCmd(const TGUID& GUID, const std::string& Secret, int64_t Now);
// The command packet that carries it, as it goes on a stream connection.
std::vector<uint8_t> KzMakeAuthPacket(const TGUID& GUID, const std::string& Secret);
// Seconds since 1970.
int64_t KzUnixTime();

}  // namespace kz
