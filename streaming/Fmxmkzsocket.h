// Thin socket wrappers of the streaming components, over the platform's
// socket layer. Results are those of the calls they wrap (-1 on failure,
// the meaning read with KzMSocketError). Handles are closed only by the
// thread that owns them, after KzMRemoveSocket's shutdown.
//
// Any thread; the calls that wait take a limit and never wait longer.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/fmxMKzPlatformSockets.h"

namespace kz {

constexpr int KZ_AF_INET = 2;
constexpr int KZ_SOCK_STREAM = 1;
constexpr int KZ_SOCK_DGRAM = 2;

// An IPv4 address record; Port and Address in network order, as the wire has them.
struct TKzSockAddrIn {
  uint16_t Family = KZ_AF_INET;
  uint16_t Port = 0;
  uint32_t Address = 0;
};

// A stream (KZ_SOCK_STREAM) or datagram (KZ_SOCK_DGRAM) IPv4 socket.
TKzSocket KzMSocket(int Domain, int Type, int Protocol);
void KzMInitSockAddrIn(uint16_t Family, uint16_t Port, uint32_t Address, TKzSockAddrIn& SockAddr);
void KzMClearSockAddrIn(TKzSockAddrIn& SockAddr);
uint16_t KzMHostPort(const TKzSockAddrIn& SockAddr);
int KzMBind(TKzSocket Socket, const TKzSockAddrIn& SockAddr);
int KzMListen(TKzSocket Socket, int Backlog);
// Accepts one connection within Ms, or KZ_INVALID_SOCKET.
TKzSocket KzMAccept(TKzSocket Socket, uint32_t Ms);
int KzMConnect(TKzSocket Socket, const TKzSockAddrIn& SockAddr);
// One send, after waiting up to Ms for room: bytes sent or -1.
int64_t KzMSend(TKzSocket Socket, const void* Buffer, int64_t Count, uint32_t Ms);
int64_t KzMSendTo(TKzSocket Socket, const void* Buffer, int64_t Count, const TKzSockAddrIn& To);
// One receive, after waiting up to Ms for data: bytes, 0 (closed), or -1
// (kzseTimedOut when nothing came within Ms).
int64_t KzMRecv(TKzSocket Socket, void* Buffer, int64_t Count, uint32_t Ms);
int64_t KzMRecvFrom(TKzSocket Socket, void* Buffer, int64_t Count, uint32_t Ms, TKzSockAddrIn& From);
// Keeps in ReadList only the sockets readable (or closed) within Timeout ms;
// the number left, -1 on failure. Any number of sockets.
int KzMWSSelect(std::vector<TKzSocket>& ReadList, uint32_t Timeout);
TKzSocketError KzMSocketError();
// The largest message one send may carry: 65,507 bytes (KZ_MAX_DATAGRAM)
// for a datagram socket; a stream socket has no such limit, so Default,
// or 8,192 when Default is 0.
int64_t KzMGetSendBufferSize(TKzSocket Socket, int64_t Default);
// Non-blocking mode on; OldMode := 0 (blocking).
bool KzMSetNotBlockSocket(TKzSocket Socket, int& OldMode);
// Blocking mode back (Mode 0) or non-blocking (other).
bool KzMRestoreSocket(TKzSocket Socket, int Mode);
// The handle, with the variable set to KZ_INVALID_SOCKET.
TKzSocket KzMExchangeSocket(TKzSocket& Socket);
// Closes a valid handle; the variable becomes KZ_INVALID_SOCKET.
void KzMCloseSocket(TKzSocket& Socket);
// Shuts both directions down, closes, sets KZ_INVALID_SOCKET (nothing for an invalid one).
void KzMRemoveSocket(TKzSocket& Socket);

}  // namespace kz
