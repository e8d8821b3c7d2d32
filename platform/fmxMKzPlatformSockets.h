// Thin layer over the system's name resolution and sockets.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kz {

// IPv4 address of HostName in network byte order: a dotted address is taken
// as it is, a name goes to the system resolver (first IPv4 answer). 0 when
// the name does not resolve. Names under the reserved top-level domain
// "invalid" are answered here without asking the resolver, as RFC 6761
// asks, so they never cause traffic. Any thread; may block on the resolver.
uint32_t PlatformLookupIPv4(const std::string& HostName);
// Whether HostName is "invalid" or a name under it (case-insensitive, a
// trailing dot allowed). Any thread, never blocks.
bool PlatformIsReservedInvalidName(const std::string& HostName);
// Dotted text of a network-order IPv4 address.
std::string PlatformIPv4ToText(uint32_t Address);
// The machine's own IPv4 address as text: the first non-loopback interface
// that is up, else the resolver's answer for the host name, else "127.0.0.1".
std::string PlatformLocalHostAddress();

}  // namespace kz

// ---- Stream sockets (IPv4)
//
// A thin layer over the BSD socket calls. Results follow the calls they wrap:
// -1 on failure, with the reason read at once through PlatformSocketError.
// Sockets stay in blocking mode; the calls that must not block take a time
// limit and wait with poll. Any thread; none blocks longer than its limit.
namespace kz {

using TKzSocket = int;
constexpr TKzSocket KZ_INVALID_SOCKET = -1;

// What the library needs to know about a failed socket call.
enum class TKzSocketError : uint8_t {
  kzseNone = 0,
  kzseWouldBlock = 1,  // nothing to do yet (non-blocking call, connect in progress)
  kzseTimedOut = 2,    // the call's time limit passed
  kzseNotSocket = 3,   // the handle is no (longer a) socket
  kzseClosed = 4,      // the peer reset or the connection is gone
  kzseOther = 5
};

// The meaning of the calling thread's last socket failure.
TKzSocketError PlatformSocketError();
// The operating system's number for it (errno), for logs and ErrCode fields.
int PlatformSocketErrorCode();
// Sets the calling thread's last failure (a wait that ran out is kzseTimedOut).
void PlatformSetLastSocketError(TKzSocketError Error);

// A new IPv4 stream socket, or KZ_INVALID_SOCKET.
TKzSocket PlatformSocketTCP();
// Closes Socket and sets it to KZ_INVALID_SOCKET; nothing for an invalid one.
void PlatformCloseSocket(TKzSocket& Socket);
bool PlatformSetNonBlocking(TKzSocket Socket, bool Value);
bool PlatformSetRecvTimeout(TKzSocket Socket, uint32_t Ms);
bool PlatformSetSendTimeout(TKzSocket Socket, uint32_t Ms);
bool PlatformSetNoDelay(TKzSocket Socket, bool Value);

// Starts a connection to Address (network order) and Port. 0 when connected
// at once, -1 otherwise: on a non-blocking socket PlatformSocketError then
// says kzseWouldBlock while the connection is under way.
int PlatformConnect(TKzSocket Socket, uint32_t Address, uint16_t Port);

// Waits up to Ms for the pending connects in Sockets; sets Done[i] for every
// socket whose connection completed (successfully) during the wait and
// Failed[i] for those that failed. Returns the number completed or failed.
int PlatformPollConnect(const TKzSocket* Sockets, bool* Done, bool* Failed, int Count, uint32_t Ms);

// 1 when Socket has data (or end of stream, or an error) to read within Ms,
// 0 when not, -1 on failure.
int PlatformPollRead(TKzSocket Socket, uint32_t Ms);
// 1 when Socket accepts more bytes within Ms, 0 when not, -1 on failure.
int PlatformPollWrite(TKzSocket Socket, uint32_t Ms);

// Receives up to Count bytes without blocking: > 0 bytes read, 0 the peer
// closed the stream, -1 failure (kzseWouldBlock when nothing is waiting).
int64_t PlatformRecv(TKzSocket Socket, void* Buffer, int64_t Count);
// Sends up to Count bytes without blocking (never raises SIGPIPE): bytes
// sent, or -1 (kzseWouldBlock when the send buffer is full).
int64_t PlatformSend(TKzSocket Socket, const void* Buffer, int64_t Count);

// True when an idle connected socket may still be used: the peer has not
// closed it and nothing unexpected is waiting to be read.
bool PlatformSocketIdleAlive(TKzSocket Socket);

// A listening socket on Address:Port (Port 0: a free one), or KZ_INVALID_SOCKET.
TKzSocket PlatformListenTCP(uint32_t Address, uint16_t Port, int Backlog);
// The local port of a bound socket, 0 on failure.
uint16_t PlatformSocketLocalPort(TKzSocket Socket);
// Accepts one connection within Ms, or KZ_INVALID_SOCKET.
TKzSocket PlatformAccept(TKzSocket Listener, uint32_t Ms);

// ---- Datagram sockets (IPv4)
// A datagram socket bound to Address:Port (Port 0: a free one; 0 as
// Address: any), or KZ_INVALID_SOCKET.
TKzSocket PlatformBindUDP(uint32_t Address, uint16_t Port);
// Sends one datagram to Address (network order):Port without blocking:
// bytes sent, or -1.
int64_t PlatformSendTo(TKzSocket Socket, const void* Buffer, int64_t Count, uint32_t Address, uint16_t Port);
// Receives one datagram without blocking: its size (cut to Count), or -1
// (kzseWouldBlock when none is waiting).
int64_t PlatformRecvFrom(TKzSocket Socket, void* Buffer, int64_t Count);
// The same, telling the sender's address (network order) and port.
int64_t PlatformRecvFromAddr(TKzSocket Socket, void* Buffer, int64_t Count, uint32_t& Address, uint16_t& Port);
// A new unbound IPv4 datagram socket, or KZ_INVALID_SOCKET.
TKzSocket PlatformSocketUDP();

// ---- Multicast (IPv4; addresses in network order)
// Joins Group on the interface with address Interface (0: the system's
// choice): 0, or -1.
int PlatformJoinMulticast(TKzSocket Socket, uint32_t Group, uint32_t Interface);
// Multicasts leave through Interface with time-to-live Ttl, and come back
// to this host's own members (loopback on). 0, or -1.
int PlatformSetMulticastSend(TKzSocket Socket, uint32_t Interface, int Ttl);
// The addresses of the IPv4 interfaces that are up and multicast-capable.
std::vector<uint32_t> PlatformMulticastInterfaces();

// ---- Both kinds
// Binds Socket to Address:Port (SO_REUSEADDR set first): 0, or -1.
int PlatformBind(TKzSocket Socket, uint32_t Address, uint16_t Port);
int PlatformListen(TKzSocket Socket, int Backlog);
// Ends both directions of a connection (readers and writers blocked on it
// wake up); the descriptor stays open for its owner to close. 0, or -1.
int PlatformShutdown(TKzSocket Socket);
// Whether Socket is a datagram socket (false for a stream socket or on failure).
bool PlatformIsDatagramSocket(TKzSocket Socket);
// The bytes the kernel lets one send queue: SO_SNDBUF, -1 on failure.
int64_t PlatformSendBufferBytes(TKzSocket Socket);
// Caps the kernel's send queue of Socket (SO_SNDBUF; the kernel doubles it). False on failure.
bool PlatformSetSendBufferBytes(TKzSocket Socket, int32_t Bytes);
// The largest IPv4 datagram payload: 65,535 - 20 (IP) - 8 (UDP) bytes.
constexpr int64_t KZ_MAX_DATAGRAM = 65507;
// Waits up to Ms for any of Count sockets to become readable (or closed);
// Ready[i] set for those. The number ready, 0 on time-out, -1 on failure.
// No limit on descriptor numbers or counts (poll, not select).
int PlatformPollReadMany(const TKzSocket* Sockets, bool* Ready, int Count, uint32_t Ms);

}  // namespace kz
