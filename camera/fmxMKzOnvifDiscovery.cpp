#include "camera/fmxMKzOnvifDiscovery.h"

#include <algorithm>
#include <memory>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzType.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformSockets.h"

namespace kz {

namespace {
// Datagrams read in one window: a flood costs parsing time, so it is capped.
constexpr size_t kMaxDatagrams = 4096;

struct TKzUdp {
  TKzSocket S = KZ_INVALID_SOCKET;
  explicit TKzUdp(TKzSocket A) : S(A) {}
  ~TKzUdp() {
    if (S != KZ_INVALID_SOCKET) PlatformCloseSocket(S);
  }
};

std::string NewMessageID() {
  std::string g = GUIDToStringA(KzCreateGUID());  // "{XXXXXXXX-...}"
  g = g.substr(1, g.size() - 2);
  std::transform(g.begin(), g.end(), g.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return "urn:uuid:" + g;
}

std::string HostOf(const std::string& URL) {
  const size_t scheme = URL.find("://");
  size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t at = URL.find('@', start), slash = URL.find('/', start);
  if (at != std::string::npos && (slash == std::string::npos || at < slash)) start = at + 1;
  const size_t end = URL.find_first_of(":/", start);
  return URL.substr(start, end == std::string::npos ? std::string::npos : end - start);
}
}  // namespace

std::string KzOnvifProbeMessage(const std::string& MessageID) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
         " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
         " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
         " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\">"
         "<s:Header><a:Action s:mustUnderstand=\"1\">http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action>"
         "<a:MessageID>" + MessageID + "</a:MessageID>"
         "<a:ReplyTo><a:Address>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:Address></a:ReplyTo>"
         "<a:To s:mustUnderstand=\"1\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To></s:Header>"
         "<s:Body><d:Probe><d:Types>dn:NetworkVideoTransmitter</d:Types></d:Probe></s:Body></s:Envelope>";
}

bool KzOnvifXAddrOnHost(const std::string& XAddr, const std::string& Address) { return HostOf(XAddr) == Address; }

bool KzOnvifDiscover(const TKzOnvifDiscoveryOptions& O, std::atomic<bool>& Abort,
                     std::vector<TKzOnvifDiscovered>& Found, std::string& Error) {
  Found.clear();
  const std::string id = NewMessageID(), probe = KzOnvifProbeMessage(id);
  std::vector<std::unique_ptr<TKzUdp>> sockets;
  if (!O.Unicast.empty()) {
    const uint32_t to = PlatformLookupIPv4(O.Unicast);
    if (to == 0) {
      Error = "cannot find the address of " + O.Unicast;
      return false;
    }
    auto s = std::make_unique<TKzUdp>(PlatformBindUDP(0, 0));
    if (s->S != KZ_INVALID_SOCKET &&
        PlatformSendTo(s->S, probe.data(), static_cast<int64_t>(probe.size()), to, O.Port) > 0)
      sockets.push_back(std::move(s));
  } else {
    std::vector<uint32_t> interfaces;
    if (!O.Interface.empty()) {
      const uint32_t a = PlatformLookupIPv4(O.Interface);
      if (a == 0) {
        Error = "not an interface address: " + O.Interface;
        return false;
      }
      interfaces.push_back(a);
    } else {
      interfaces = PlatformMulticastInterfaces();
    }
    const uint32_t group = PlatformLookupIPv4(KzOnvifDiscoveryGroup);
    for (uint32_t a : interfaces) {
      auto s = std::make_unique<TKzUdp>(PlatformBindUDP(a, 0));
      if (s->S == KZ_INVALID_SOCKET || PlatformSetMulticastSend(s->S, a, 1) < 0) continue;
      if (PlatformSendTo(s->S, probe.data(), static_cast<int64_t>(probe.size()), group, O.Port) > 0)
        sockets.push_back(std::move(s));
    }
  }
  if (sockets.empty()) {
    Error = O.Unicast.empty() ? "no multicast-capable interface could send the probe"
                              : "cannot send the probe to " + O.Unicast;
    return false;
  }
  std::vector<TKzSocket> fds;
  for (auto& s : sockets) fds.push_back(s->S);
  std::unique_ptr<bool[]> ready(new bool[fds.size()]);
  std::string buffer(KzOnvifMaxDatagram, '\0');
  const uint64_t end = KzMGetTickCount() + O.WindowMs;
  size_t datagrams = 0;
  while (!Abort.load(std::memory_order_acquire) && datagrams < kMaxDatagrams) {
    const uint64_t now = KzMGetTickCount();
    if (now >= end) break;
    const uint32_t wait = static_cast<uint32_t>(std::min<uint64_t>(end - now, 100));
    if (PlatformPollReadMany(fds.data(), ready.get(), static_cast<int>(fds.size()), wait) <= 0) continue;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!ready[i]) continue;
      uint32_t from = 0;
      uint16_t port = 0;
      const int64_t n = PlatformRecvFromAddr(fds[i], buffer.data(), static_cast<int64_t>(buffer.size()), from, port);
      if (n <= 0) continue;
      ++datagrams;
      std::vector<TKzOnvifProbeMatch> matches;
      std::string relates;
      TKzOnvifError e;
      if (!KzOnvifParseProbeMatches(buffer.substr(0, static_cast<size_t>(n)), matches, relates, e)) continue;
      if (!relates.empty() && relates != id) continue;
      const std::string fromText = PlatformIPv4ToText(from);
      for (TKzOnvifProbeMatch& m : matches) {
        const bool known = std::any_of(Found.begin(), Found.end(),
                                       [&](const TKzOnvifDiscovered& d) { return d.Match.Endpoint == m.Endpoint; });
        if (known || Found.size() >= O.MaxResponders) continue;
        TKzOnvifDiscovered d;
        d.From = fromText;
        d.ForeignXAddr = std::any_of(m.XAddrs.begin(), m.XAddrs.end(),
                                     [&](const std::string& x) { return !KzOnvifXAddrOnHost(x, fromText); });
        d.Match = std::move(m);
        Found.push_back(std::move(d));
      }
    }
  }
  return true;
}

}  // namespace kz
