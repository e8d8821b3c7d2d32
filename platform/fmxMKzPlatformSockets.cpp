#include "platform/fmxMKzPlatformSockets.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace kz {

uint32_t PlatformLookupIPv4(const std::string& HostName) {
  if (HostName.empty()) return 0;
  in_addr a{};
  if (inet_pton(AF_INET, HostName.c_str(), &a) == 1) return a.s_addr;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(HostName.c_str(), nullptr, &hints, &res) != 0 || !res) return 0;
  uint32_t out = 0;
  for (addrinfo* p = res; p; p = p->ai_next) {
    if (p->ai_family == AF_INET && p->ai_addrlen >= sizeof(sockaddr_in)) {
      out = reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
      break;
    }
  }
  freeaddrinfo(res);
  return out;
}

std::string PlatformIPv4ToText(uint32_t Address) {
  in_addr a{};
  a.s_addr = Address;
  char buf[INET_ADDRSTRLEN] = {0};
  inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

std::string PlatformLocalHostAddress() {
  ifaddrs* list = nullptr;
  std::string out;
  if (getifaddrs(&list) == 0) {
    for (ifaddrs* p = list; p && out.empty(); p = p->ifa_next) {
      if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET) continue;
      if ((p->ifa_flags & IFF_UP) == 0 || (p->ifa_flags & IFF_LOOPBACK) != 0) continue;
      out = PlatformIPv4ToText(reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr);
    }
    freeifaddrs(list);
  }
  if (out.empty()) {
    char name[256] = {0};
    if (gethostname(name, sizeof name - 1) == 0) {
      uint32_t a = PlatformLookupIPv4(name);
      if (a != 0) out = PlatformIPv4ToText(a);
    }
  }
  return out.empty() ? "127.0.0.1" : out;
}

}  // namespace kz
