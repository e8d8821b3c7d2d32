// Opening the stream connections and datagram sockets that carry packets:
// a timed connect, the tunnel through an HTTP proxy (CONNECT, answered
// before anything else is sent; Basic credentials when the proxy asks for
// them), and the HTTP request line a kzpHTTP connection starts with.
//
// Any thread; blocks up to the connect time-out (each step) and gives up
// within a quarter of a second once Thread is terminated.
#pragma once
#include <cstdint>
#include <string>
#include <utility>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformSockets.h"
#include "platform/fmxMKzPlatformThread.h"
#include "streaming/fmxMKzStreamTypes.h"

namespace kz {

// How long a connect with no time-out of its own (0) may take.
constexpr uint32_t KZ_CONNECT_WAIT_MAX = 30000;

struct TKzStreamTarget {
  std::string Host;  // name or dotted address
  uint16_t Port = 0;
  TKzProtocol Protocol = TKzProtocol::kzpTCP;
  const TKzProxyProperty* Proxy = nullptr;  // used when its mode is kzmManualSettings
  uint32_t ConnectTimeout = 3000;           // ms per step; 0: KZ_CONNECT_WAIT_MAX
};

// Connects to Address (network order):Port within Timeout ms (0:
// KZ_CONNECT_WAIT_MAX). The connected socket, or KZ_INVALID_SOCKET.
TKzSocket KzMConnectTimed(uint32_t Address, uint16_t Port, uint32_t Timeout, TThread* Thread = nullptr);

// Opens a stream connection to Target: directly or through the proxy's
// tunnel, then for kzpHTTP sends the POST preamble. The socket, or
// KZ_INVALID_SOCKET with Error saying why (a refusing proxy's status line
// included).
TKzSocket KzMConnectStream(const TKzStreamTarget& Target, TThread* Thread, std::string& Error);

// A host may name several relays, "host[:port],host[:port],...", each
// serving the same users: the one to try on attempt Attempt (round the
// list), with Port where an entry names none. A plain host is itself.
std::pair<std::string, uint16_t> KzRelayAddress(const std::string& Host, uint16_t Port, size_t Attempt);

// Sends the HTTP request preamble of a kzpHTTP connection to Host. True when sent.
bool KzMSendHttpPreamble(TKzSocket Socket, const std::string& Host, TThread* Thread = nullptr);

// Sends CONNECT for Host:Port on a socket connected to a proxy and reads
// its answer. 0 when the tunnel is open; otherwise the proxy's status
// (-1 when no answer came), with StatusLine holding what it said.
int KzMOpenProxyTunnel(TKzSocket Socket, const std::string& Host, uint16_t Port, const std::string& Authorization,
                       uint32_t Timeout, TThread* Thread, std::string& StatusLine);

}  // namespace kz
