// Connection options of the streaming components: per data type read
// time-outs and blocking flags, the connect time-out, the cap on
// connections a listener serves; the compression chosen per data type;
// the two connection topologies; the notifications the connection threads
// post to their component.
//
// Plain values: any thread that owns the object, never blocks.
#pragma once
#include <cstdint>

#include "foundation/fmxMKzMessages.h"
#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "streaming/fmxMKzStreamTypes.h"

namespace kz {

// Push: the sender connects to the receiver. Pull: the receiver connects
// to the sender and asks for each batch.
enum class TKzTCPConnectionType : uint8_t { kztcpSenderToReceiver = 0, kztcpReceiverToSender = 1 };

// Notifications of the connection threads (WParam, LParam):
constexpr uint32_t KZ_MSG_CONNECTED = 1025;     // data type, connection serial
constexpr uint32_t KZ_MSG_DISCONNECTED = 1026;  // data type, session key (push: connection serial)
// 1027 KZ_MSG_CONNECTION_ERROR: data type (KzErrorConnectedEvent)
constexpr uint32_t KZ_MSG_CONNECTING = 1028;    // data type (0 before it is known), connection serial
constexpr uint32_t KZ_MSG_FILE_SENT = 1037;     // 0, TKzFileSent* (the message's payload)

// Who a pulled file went to.
struct TKzHeaderInfo {
  TKzSessionKey SessionKey = 0;
  uint64_t ClientSocket = 0;  // the connection's serial
  TGUID GUIDTo, GUIDFrom, GUIDGroup;
};
struct TKzFileSent {
  TKzHeaderInfo HeaderInfo;
  TKzFileInfo FileInfo;
};

// Default connections one listener serves at once.
constexpr int32_t KZ_DEFAULT_MAX_CONNECTIONS = 256;
// Time-out of a data type the properties do not name (and of a connection
// whose data type is not known yet).
constexpr int32_t KZ_DEFAULT_TIMEOUT = 15000;

class TKzConnectionProperties : public TPersistent {
public:
  TKzConnectionProperties() = default;
  void Assign(const TPersistent& Source) override;

  int32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int32_t V) { FConnectTimeout = V; }
  int32_t VideoTimeout() const { return FVideoTimeout; }
  void SetVideoTimeout(int32_t V) { FVideoTimeout = V; }
  int32_t AudioTimeout() const { return FAudioTimeout; }
  void SetAudioTimeout(int32_t V) { FAudioTimeout = V; }
  int32_t CmdTimeout() const { return FCmdTimeout; }
  void SetCmdTimeout(int32_t V) { FCmdTimeout = V; }
  int32_t DataTimeout() const { return FDataTimeout; }
  void SetDataTimeout(int32_t V) { FDataTimeout = V; }
  int32_t FileTimeout() const { return FFileTimeout; }
  void SetFileTimeout(int32_t V) { FFileTimeout = V; }
  bool UseBlockingSocketsForConnect() const { return FBlockConnect; }
  void SetUseBlockingSocketsForConnect(bool V) { FBlockConnect = V; }
  bool UseBlockingSocketsForVideo() const { return FBlockVideo; }
  void SetUseBlockingSocketsForVideo(bool V) { FBlockVideo = V; }
  bool UseBlockingSocketsForAudio() const { return FBlockAudio; }
  void SetUseBlockingSocketsForAudio(bool V) { FBlockAudio = V; }
  bool UseBlockingSocketsForCmd() const { return FBlockCmd; }
  void SetUseBlockingSocketsForCmd(bool V) { FBlockCmd = V; }
  bool UseBlockingSocketsForData() const { return FBlockData; }
  void SetUseBlockingSocketsForData(bool V) { FBlockData = V; }
  bool UseBlockingSocketsForFile() const { return FBlockFile; }
  void SetUseBlockingSocketsForFile(bool V) { FBlockFile = V; }
  // Connections one listener serves at once; more are refused.
  int32_t MaxConnections() const { return FMaxConnections; }
  void SetMaxConnections(int32_t V) { FMaxConnections = V; }

protected:
  int32_t FConnectTimeout = 3000;
  int32_t FVideoTimeout = 3000;
  int32_t FAudioTimeout = 3000;
  int32_t FCmdTimeout = 15000;
  int32_t FDataTimeout = 10000;
  int32_t FFileTimeout = 10000;
  bool FBlockConnect = false;
  bool FBlockVideo = false;
  bool FBlockAudio = false;
  bool FBlockCmd = true;
  bool FBlockData = false;
  bool FBlockFile = true;
  int32_t FMaxConnections = KZ_DEFAULT_MAX_CONNECTIONS;
};

// A receiver waits longer for data than a sender for answers.
class TKzReceiverConnectionProperties : public TKzConnectionProperties {
public:
  TKzReceiverConnectionProperties();
};

// The read time-out of a data-type word in ms: looked up by its low five
// bits (flags such as 0x8000 do not matter); another code, or a time-out
// set to 0 or less, gives KZ_DEFAULT_TIMEOUT, so every read ends.
uint32_t GetTimeOut(const TKzConnectionProperties& Properties, uint16_t DataType);
// The blocking flag of a data-type word, by its low five bits; true for another code.
bool GetUseBlocking(const TKzConnectionProperties& Properties, uint16_t DataType);
// ConnectTimeout while UseBlockingSocketsForConnect is set, 0 otherwise.
int32_t GetConnectTimeOut(const TKzConnectionProperties& Properties);

class TKzCompressionOptions : public TPersistent {
public:
  void Assign(const TPersistent& Source) override;
  TKzCompressionType Video = TKzCompressionType::kztcNone;
  TKzCompressionType Audio = TKzCompressionType::kztcNone;
  TKzCompressionType UserData = TKzCompressionType::kztcNone;
  TKzCompressionType Cmd = TKzCompressionType::kztcNone;
  TKzCompressionType FileData = TKzCompressionType::kztcNone;
  // The entry of a data type code (none for another code).
  TKzCompressionType ForDataType(uint16_t DataType) const;
};

// Posts a connection notification to a component; nothing for a null one.
void KzPostConnectionEvent(const void* Component, uint32_t Msg, WPARAM WParam, LPARAM LParam,
                           std::shared_ptr<void> Payload = nullptr);

}  // namespace kz
