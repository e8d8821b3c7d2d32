// Packet helpers over sockets: sending whole buffers, the 60-byte header
// pack and the 16-byte session pack; the HTTP request preamble a sender
// may put in front of its protocol data and the proxy preamble.
//
// Any thread. The send and receive helpers block for at most their time
// limits and give up early when the thread they are given is terminated.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fmxMKzPlatformSockets.h"
#include "platform/fmxMKzPlatformStream.h"
#include "platform/fmxMKzPlatformThread.h"
#include "streaming/fmxMKzStreamTypes.h"

namespace kz {

constexpr int KZ_SEND_CALLS = 6;               // send calls allowed for one packet
constexpr uint32_t KZ_SEND_WAIT_MS = 3000;     // wait for room before each call
constexpr size_t KZ_HTTP_PREAMBLE_MAX = 8192;  // an HTTP preamble ends within this

// Sends Size bytes in at most KZ_SEND_CALLS calls, each after waiting up to
// WaitMs for room, sleeping IntervalMs after each call that sent something.
// Returns Size, or -1 on a failed call, a terminated Thread or bytes left over.
int64_t KzSendAll(TKzSocket Socket, const uint8_t* Data, size_t Size, uint32_t IntervalMs = 0,
                  TThread* Thread = nullptr, uint32_t WaitMs = KZ_SEND_WAIT_MS);

// One header pack with marker "hmHT"; the send's result.
int64_t KzMSendHeaderPack(TKzSocket Socket, const TGUID& GUIDTo, const TGUID& GUIDFrom, const TGUID& GUIDGroup,
                          int64_t LenPack);
// One session pack ("hmSB", "hmSE" or "hmSN"); the send's result.
int64_t KzMSendSessionPack(TKzSocket Socket, TKzSessionKey SessionKey, int64_t DataLen, const TKzMarker& Marker);

enum class TKzHttpPreamble : uint8_t { kzhpNone = 0, kzhpIncomplete = 1, kzhpFound = 2, kzhpTooLong = 3 };
// Whether Data begins with an HTTP request ("POST", "GET" or "CONNECT") and
// where it ends: Found sets End just after its blank line; Incomplete when
// the blank line may still come; TooLong when none came within
// KZ_HTTP_PREAMBLE_MAX bytes. Pure.
TKzHttpPreamble KzMatchHttpPreamble(const uint8_t* Data, size_t Size, size_t& End);
// Recognises and skips an HTTP request preamble at the start of Stream:
// reads more from Socket (up to Timeout ms, each read appended to Stream
// and DumpStream) until its blank line is there, positions Stream just
// after it and returns true. Otherwise rewinds Stream and returns false.
bool KzMIsHttpRequest(TKzSocket Socket, TMemoryStream& Stream, bool Blocking, TStream* DumpStream, uint32_t Timeout);

// The request that opens a tunnel through an HTTP proxy:
//   "CONNECT host:port HTTP/1.1", "Host: host:port",
//   "Proxy-Authorization: <Authorization>" when one is given, a blank line
// (":port" left out for port 0).
std::string KzProxyPreamble(const std::string& Host, uint16_t Port, const std::string& Authorization = "");

// ---- Receiving with a time limit. Every wait ends within Timeout ms, and
// within a quarter of a second of Thread being terminated.

// Receives into Buffer until Count bytes are there (WaitAll) or any came
// (otherwise), or Timeout ms passed. The bytes received (0 when the peer
// closed or nothing came in time), or -1 when the connection failed.
int64_t KzMRecvNonBlock(TKzSocket Socket, uint8_t* Buffer, int64_t Count, bool WaitAll, uint32_t Timeout,
                        TThread* Thread = nullptr);
// Sizes Stream to Size and receives into its memory from Offset on (at most
// Size - Offset bytes): Blocking, one receive waiting up to Timeout;
// otherwise KzMRecvNonBlock with WaitAll. What arrived is appended to
// DumpStream. The bytes received, 0, or -1 as KzMRecvNonBlock; the caller
// shrinks the stream to what arrived.
int64_t KzMReadFromSocket(TKzSocket Socket, TMemoryStream& Stream, bool Blocking, int64_t Offset, uint32_t Timeout,
                          bool WaitAll, int64_t Size, TStream* DumpStream = nullptr, TThread* Thread = nullptr);

}  // namespace kz
