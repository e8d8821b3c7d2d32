// Sending one payload: cut into packets (fmxMKzPacketWriter) and written to
// a stream connection or sent as datagrams, with the sender's pacing.
//
// KzSendStream runs on the calling channel thread and blocks while it
// sends; it polls the thread's terminate flag between packets and waits.
#pragma once
#include <cstdint>
#include <functional>

#include "platform/fmxMKzPlatformComponent.h"
#include "platform/fmxMKzPlatformSockets.h"
#include "platform/fmxMKzPlatformThread.h"
#include "streaming/fmxMKzPacketWriter.h"

namespace kz {

// Per data type send configuration: packet size limit and the pause after
// each send call (0 for none).
struct TKzSendParam {
  uint32_t BufferSize = 8192;
  uint32_t Interval = 0;
};

// Told after every packet sent (file transfers follow their progress by it).
using TKzPacketSentEvent = std::function<void(TComponent* Owner, TKzSessionKey SessionKey, uint16_t DataType,
                                              const TKzInfo& Info, TKzSocket Socket, const TGUID& GUIDFrom,
                                              const TGUID& GUIDTo, const TGUID& GUIDGroup)>;

struct TKzSendStreamArgs {
  TComponent* Owner = nullptr;  // gets the connection error (1027) and debug (1034) reports
  TThread* Thread = nullptr;    // stops the sending when terminated
  TKzSessionKey SessionKey = 0;
  TKzPacketSpec Spec;  // data type, compression, protocol, GUIDs, TKzInfo
  TKzSendParam SendParam;
  TKzSocket Socket = KZ_INVALID_SOCKET;
  uint32_t Address = 0;  // datagram destination (network order) and port
  uint16_t Port = 0;
  uint32_t DatagramPause = 0;  // ms after each datagram
  bool DebugReport = false;
  TStream* Dump = nullptr;  // every packet's bytes are appended when set
  TKzPacketSentEvent OnPacketSent;
};

// Sends the payload from its position to its end (a file payload's position
// is its offset in the file). Returns the bytes sent, or -1 after a failure
// (reported to the owner as a connection error for the data type), when the
// thread was terminated first or the payload exceeds KZ_MAX_PAYLOAD.
// IndexPart counts on from packet to packet, wrapping from 65,535 to 0.
int64_t KzSendStream(const TKzSendStreamArgs& Args, TStream& Payload, uint16_t& IndexPart,
                     TKzPacketWriter* Writer = nullptr);

}  // namespace kz
