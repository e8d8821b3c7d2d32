#include "streaming/fmxMKzStreamConnect.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "inet/fmxMKzURLFuncs.h"
#include "streaming/Fmxmkzsocketutil.h"

namespace kz {

namespace {

constexpr uint32_t kSliceMs = 250;
constexpr size_t kMaxProxyReply = 8192;

uint64_t NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

bool Stopped(TThread* Thread) { return Thread && Thread->Terminated(); }

// The proxy's reply header, read a byte at a time so that nothing after it
// (the tunnel's first bytes) is taken from the socket.
bool ReadReplyHeader(TKzSocket Socket, uint32_t Timeout, TThread* Thread, std::string& Header) {
  const uint64_t deadline = NowMs() + Timeout;
  while (Header.size() < kMaxProxyReply) {
    if (Header.size() >= 4 && Header.compare(Header.size() - 4, 4, "\r\n\r\n") == 0) return true;
    const uint64_t now = NowMs();
    if (now >= deadline || Stopped(Thread)) return false;
    const int r = PlatformPollRead(Socket, static_cast<uint32_t>(std::min<uint64_t>(deadline - now, kSliceMs)));
    if (r < 0) return false;
    if (r == 0) continue;
    char c = 0;
    const int64_t n = PlatformRecv(Socket, &c, 1);
    if (n == 0) return false;
    if (n < 0) {
      if (PlatformSocketError() == TKzSocketError::kzseWouldBlock) continue;
      return false;
    }
    Header += c;
  }
  return false;
}

}  // namespace

TKzSocket KzMConnectTimed(uint32_t Address, uint16_t Port, uint32_t Timeout, TThread* Thread) {
  TKzSocket s = PlatformSocketTCP();
  if (s == KZ_INVALID_SOCKET) return s;
  PlatformSetNoDelay(s, true);
  if (!PlatformSetNonBlocking(s, true)) {
    PlatformCloseSocket(s);
    return s;
  }
  bool done = PlatformConnect(s, Address, Port) == 0;
  if (!done && PlatformSocketError() == TKzSocketError::kzseWouldBlock) {
    const uint64_t deadline = NowMs() + (Timeout ? Timeout : KZ_CONNECT_WAIT_MAX);
    bool ok = false, failed = false;
    for (uint64_t now = NowMs(); !ok && !failed && now < deadline && !Stopped(Thread); now = NowMs())
      PlatformPollConnect(&s, &ok, &failed, 1, static_cast<uint32_t>(std::min<uint64_t>(deadline - now, kSliceMs)));
    done = ok;
  }
  if (!done || !PlatformSetNonBlocking(s, false)) PlatformCloseSocket(s);
  return s;
}

bool KzMSendHttpPreamble(TKzSocket Socket, const std::string& Host, TThread* Thread) {
  const std::string preamble = CreateHeader(Host, Host, "", "POST");
  return KzSendAll(Socket, reinterpret_cast<const uint8_t*>(preamble.data()), preamble.size(), 0, Thread) >= 0;
}

int KzMOpenProxyTunnel(TKzSocket Socket, const std::string& Host, uint16_t Port, const std::string& Authorization,
                       uint32_t Timeout, TThread* Thread, std::string& StatusLine) {
  const std::string request = KzProxyPreamble(Host, Port, Authorization);
  StatusLine.clear();
  std::string header;
  if (KzSendAll(Socket, reinterpret_cast<const uint8_t*>(request.data()), request.size(), 0, Thread) < 0 ||
      !ReadReplyHeader(Socket, Timeout ? Timeout : KZ_CONNECT_WAIT_MAX, Thread, header))
    return -1;
  StatusLine = header.substr(0, header.find("\r\n"));
  // "HTTP/1.x NNN reason"
  const size_t sp = StatusLine.find(' ');
  if (StatusLine.rfind("HTTP/", 0) != 0 || sp == std::string::npos) return -1;
  const int status = std::atoi(StatusLine.c_str() + sp + 1);
  return status >= 200 && status < 300 ? 0 : (status > 0 ? status : -1);
}

TKzSocket KzMConnectStream(const TKzStreamTarget& T, TThread* Thread, std::string& Error) {
  const bool viaProxy = T.Proxy && T.Proxy->ProxyMode() == TKzMFProxyMode::kzmManualSettings && !T.Proxy->Host().empty();
  const std::string host = viaProxy ? T.Proxy->Host() : T.Host;
  const uint16_t port = viaProxy ? static_cast<uint16_t>(T.Proxy->Port()) : T.Port;
  const uint32_t address = PlatformLookupIPv4(host);
  if (address == 0) {
    Error = "cannot resolve " + host;
    return KZ_INVALID_SOCKET;
  }
  std::string authorization;
  for (int attempt = 0; attempt < 2; ++attempt) {
    TKzSocket s = KzMConnectTimed(address, port, T.ConnectTimeout, Thread);
    if (s == KZ_INVALID_SOCKET) {
      Error = "cannot connect to " + host + ":" + std::to_string(port);
      return s;
    }
    if (viaProxy) {
      std::string line;
      const int status = KzMOpenProxyTunnel(s, T.Host, T.Port, authorization, T.ConnectTimeout, Thread, line);
      if (status != 0) {
        PlatformShutdown(s);
        PlatformCloseSocket(s);
        // Proxies ask for credentials with 407 (tinyproxy with 401): once more with them.
        if ((status == 407 || status == 401) && authorization.empty() && !T.Proxy->Username().empty()) {
          authorization = "Basic " + EncodeBase64(T.Proxy->Username() + ":" + T.Proxy->Password());
          continue;
        }
        Error = "proxy " + host + ":" + std::to_string(port) + " refused the tunnel: " +
                (line.empty() ? std::string("no answer") : line);
        return KZ_INVALID_SOCKET;
      }
    }
    if (T.Protocol == TKzProtocol::kzpHTTP && !KzMSendHttpPreamble(s, T.Host, Thread)) {
      PlatformCloseSocket(s);
      Error = "cannot send the HTTP preamble to " + T.Host;
      return KZ_INVALID_SOCKET;
    }
    Error.clear();
    return s;
  }
  Error = "proxy " + host + ":" + std::to_string(port) + " refused the credentials";
  return KZ_INVALID_SOCKET;
}

std::pair<std::string, uint16_t> KzRelayAddress(const std::string& Host, uint16_t Port, size_t Attempt) {
  if (Host.find(',') == std::string::npos) return {Host, Port};
  std::vector<std::string> items;
  for (size_t at = 0; at <= Host.size();) {
    const size_t comma = std::min(Host.find(',', at), Host.size());
    if (comma > at) items.push_back(Host.substr(at, comma - at));
    at = comma + 1;
  }
  if (items.empty()) return {Host, Port};
  const std::string& item = items[Attempt % items.size()];
  const size_t colon = item.rfind(':');
  if (colon == std::string::npos || item.find(':') != colon) return {item, Port};
  const unsigned long p = std::strtoul(item.c_str() + colon + 1, nullptr, 10);
  return {item.substr(0, colon), p > 0 && p <= 65535 ? static_cast<uint16_t>(p) : Port};
}

}  // namespace kz
