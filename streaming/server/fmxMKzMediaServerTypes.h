// Vocabulary of the relay server: its options and events, the records its
// three GUID registries hold, the buffer notices it posts to itself, and
// the bounds that keep one relay from being exhausted by its users.
//
// Pure data: any thread, never blocks.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzType.h"
#include "streaming/Fmxmkzcmd.h"
#include "platform/fmxMKzPlatformSockets.h"
#include "streaming/fmxMKzStreamTypes.h"

namespace kz {

class TKzMediaServer;
class TKzClientRedirect;

// Server commands beyond routing that are honoured (bit set).
enum class TKzCmdOption : uint8_t {
  kzcpUseSystemCmd = 0,
  kzcpCmdAllGroups = 1,
  kzcpCmdAllUsers = 2,
  kzcpCmdAllOnline = 3,
  kzcpCmdResetServer = 4
};
class TKzCmdOptions {
public:
  constexpr TKzCmdOptions() = default;
  static constexpr TKzCmdOptions FromBits(uint8_t Bits) {
    TKzCmdOptions o;
    o.FBits = Bits & 0x1F;
    return o;
  }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool Contains(TKzCmdOption O) const { return (FBits >> static_cast<int>(O)) & 1; }
  constexpr TKzCmdOptions& operator+=(TKzCmdOption O) {
    FBits = static_cast<uint8_t>(FBits | (1u << static_cast<int>(O)));
    return *this;
  }
  bool operator==(const TKzCmdOptions&) const = default;

private:
  uint8_t FBits = 0;
};
// "UseSystemCmd,CmdAllUsers" (names with or without the kzcp prefix, any
// case) into a set; false on an unknown name.
bool KzParseCmdOptions(const std::string& Text, TKzCmdOptions& Options);

enum class TKzKeepClientInfoMode : uint8_t { kzkclmWhileOnline = 0, kzkclmAlways = 1 };
enum class TKzKindLimit : uint8_t { kzmklWarrning = 0, kzmklClearBuffer = 1 };

// Messages the server posts to itself.
constexpr uint32_t KzMessageRestartServer = 1024;
constexpr uint32_t KzMessageLimitBuffer = 1025;
constexpr uint32_t KzMessageNotLimitBuffer = 1026;
constexpr uint32_t KzMessageServerEvent = 1040;  // a worker's event handed to the main thread

// Flag the server sets in the data-type word a channel request hands back.
constexpr uint16_t KZ_SERVER_CHANNEL_FLAG = 0x8000;
// Data-type words of the requests that close a channel: 0xFF00 | code.
constexpr uint16_t KZ_SERVER_CLOSE_BASE = 0xFF00;

// Sender-record mask bits.
constexpr uint16_t KZ_MASK_KINDS = 0x001F;
constexpr uint16_t KZ_MASK_FROM_ALL = 0x2000;
constexpr uint16_t KZ_MASK_FROM_NONE = 0x4000;
constexpr uint16_t KZ_MASK_NEW = 0x201F;

// ClientError bits of a routed packet.
constexpr uint32_t KZ_CLIENT_ERROR_REFUSED = 2;

// Slot of a data type code in a sender record's channels (video 0 ... file 4), -1 for another.
int KzKindSlot(uint8_t Code);
uint8_t KzSlotKind(int Slot);
TKzMediaType KzKindMediaType(uint8_t Code);

struct TKzBufferInfo {
  TGUID nGUID;
  uint16_t DataType = 0;
  uint32_t BufferSize = 0;
  uint32_t MaxSize = 0;
  TKzKindLimit KindLimit = TKzKindLimit::kzmklWarrning;
};

// A GUID list kept in insertion order, without duplicates.
struct TKzMediaServerGUIDItem {
  bool Connected = false;
  std::vector<TGUID> GUIDs;
  uint16_t Count() const { return static_cast<uint16_t>(GUIDs.size()); }
  // False when it was already there.
  bool Add(const TGUID& G);
  bool Remove(const TGUID& G);
  int IndexOf(const TGUID& G) const;
};

struct TKzMediaServerGroupItem {
  TKzMediaServerGUIDItem Members;  // Members.Connected: while it has members
  std::unique_ptr<TGUID> Owner;    // the creator
  std::unique_ptr<std::string> Password;
  std::vector<std::string> Values;  // the group's user data
};

struct TKzMediaServerSenderItem {
  uint16_t Mask = KZ_MASK_NEW;
  bool Connected = false;
  bool Permanent = false;
  TKzMediaServerGUIDItem Receivers;  // the GUIDs accepted as senders
  TKzMediaServerGUIDItem Groups;     // the groups joined
  std::array<std::shared_ptr<TKzClientRedirect>, 5> ClientRedirect;
  // Whether data of kind Code from From is accepted.
  bool Accepts(uint8_t Code, const TGUID& From) const;
  bool NoChannel() const;
};

// Limits that keep a relay's use of memory, threads and disk bounded. Zero
// means no limit.
struct TKzServerBounds {
  uint32_t MaxUsers = 10000;               // user records in each registry
  uint32_t MaxChannelsPerUser = 5;         // open channels of one user
  uint64_t MaxBufferedBytes = 512u << 20;  // all memory buffers together
  uint64_t MaxFileBufferBytes = 1u << 30;  // all file buffers together
};

using TKzServerEvent = std::function<void(TKzMediaServer* Sender, TKzProtocol Protocol)>;
using TKzMSUserEvent = std::function<void(TKzMediaServer* Sender, const std::string& GUIDUser, TKzMediaType MediaType)>;
using TKzMSServerCmdEvent = std::function<void(TKzMediaServer* Sender, const std::string& GUIDUser,
                                               const std::string& GUIDToUser, const std::string& GUIDGroupUser,
                                               const TKzCmd& ServerCMD)>;
using TKzMSCountEvent = std::function<void(TKzMediaServer* Sender, int32_t Count)>;
using TKzServerDataReadEvent =
    std::function<void(TKzMediaServer* Sender, uint32_t SessionKey, uint16_t ADataType, TStream& AData,
                       TKzSocket ASocket, const TGUID& AGUIDFrom, const TGUID& AGUIDTo, const TGUID& AGUIDGroup)>;
using TKzLimitBufferEvent = std::function<void(TKzMediaServer* Sender, const TGUID& AGUIDTo, uint16_t ADataType,
                                               int32_t ABufferSize, int32_t AMaxSize, TKzKindLimit AKindLimit)>;
// A bound of TKzServerBounds was reached (what, and for whom when it is one user). Any worker thread.
using TKzServerBoundEvent = std::function<void(TKzMediaServer* Sender, const std::string& What, const TGUID& User)>;

// The first characters of a GUID's text, enough to tell users apart in a
// log without writing anyone's identity in full.
std::string KzShortGUID(const TGUID& G);

}  // namespace kz
