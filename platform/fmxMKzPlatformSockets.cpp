#include "platform/fmxMKzPlatformSockets.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <vector>
#include <string_view>
#include <cctype>

namespace kz {

bool PlatformIsReservedInvalidName(const std::string& HostName) {
  std::string name = HostName;
  if (!name.empty() && name.back() == '.') name.pop_back();
  static constexpr std::string_view kInvalid = "invalid";
  if (name.size() < kInvalid.size()) return false;
  const std::string_view tail = std::string_view(name).substr(name.size() - kInvalid.size());
  const bool isInvalid = std::equal(tail.begin(), tail.end(), kInvalid.begin(),
                                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
  return isInvalid && (name.size() == kInvalid.size() || name[name.size() - kInvalid.size() - 1] == '.');
}

uint32_t PlatformLookupIPv4(const std::string& HostName) {
  if (HostName.empty()) return 0;
  in_addr a{};
  if (inet_pton(AF_INET, HostName.c_str(), &a) == 1) return a.s_addr;
  if (PlatformIsReservedInvalidName(HostName)) return 0;
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

// ---- Stream sockets

namespace {
thread_local int tlLastError = 0;

int Fail() {
  tlLastError = errno;
  return -1;
}

sockaddr_in IPv4(uint32_t Address, uint16_t Port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = Address;
  sa.sin_port = htons(Port);
  return sa;
}

int BindTo(TKzSocket Socket, uint32_t Address, uint16_t Port) {
  const sockaddr_in sa = IPv4(Address, Port);
  return bind(Socket, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0 ? Fail() : 0;
}

// Closes a socket whose set-up failed, keeping the failure's error.
TKzSocket CloseAfterFailure(TKzSocket Socket) {
  const int keep = tlLastError;
  PlatformCloseSocket(Socket);
  tlLastError = keep;
  return KZ_INVALID_SOCKET;
}

int PollOne(TKzSocket Socket, short Events, uint32_t Ms) {
  if (Socket < 0) {
    tlLastError = EBADF;
    return -1;
  }
  pollfd p{Socket, Events, 0};
  for (;;) {
    const int r = poll(&p, 1, static_cast<int>(std::min<uint32_t>(Ms, 1u << 30)));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Fail();
    if (r > 0 && (p.revents & POLLNVAL) != 0) {
      tlLastError = EBADF;
      return -1;
    }
    return r > 0 ? 1 : 0;
  }
}
}  // namespace

TKzSocketError PlatformSocketError() {
  switch (tlLastError) {
    case 0:
      return TKzSocketError::kzseNone;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
    case EALREADY:
    case EINTR:
      return TKzSocketError::kzseWouldBlock;
    case ETIMEDOUT:
      return TKzSocketError::kzseTimedOut;
    case EBADF:
    case ENOTSOCK:
      return TKzSocketError::kzseNotSocket;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN:
    case ESHUTDOWN:
      return TKzSocketError::kzseClosed;
    default:
      return TKzSocketError::kzseOther;
  }
}

int PlatformSocketErrorCode() { return tlLastError; }

void PlatformSetLastSocketError(TKzSocketError Error) {
  static constexpr int kCodes[] = {0, EAGAIN, ETIMEDOUT, ENOTSOCK, ECONNRESET, EIO};
  tlLastError = kCodes[static_cast<size_t>(Error) % std::size(kCodes)];
}

TKzSocket PlatformSocketTCP() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) return Fail();
  return s;
}

void PlatformCloseSocket(TKzSocket& Socket) {
  if (Socket < 0) return;
  close(Socket);
  Socket = KZ_INVALID_SOCKET;
}

bool PlatformSetNonBlocking(TKzSocket Socket, bool Value) {
  const int flags = fcntl(Socket, F_GETFL, 0);
  if (flags < 0) return Fail(), false;
  const int want = Value ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (want != flags && fcntl(Socket, F_SETFL, want) < 0) return Fail(), false;
  return true;
}

static bool SetTimeout(TKzSocket Socket, int Option, uint32_t Ms) {
  timeval tv{};
  tv.tv_sec = Ms / 1000;
  tv.tv_usec = static_cast<suseconds_t>((Ms % 1000) * 1000);
  if (setsockopt(Socket, SOL_SOCKET, Option, &tv, sizeof tv) < 0) return Fail(), false;
  return true;
}

bool PlatformSetRecvTimeout(TKzSocket Socket, uint32_t Ms) { return SetTimeout(Socket, SO_RCVTIMEO, Ms); }
bool PlatformSetSendTimeout(TKzSocket Socket, uint32_t Ms) { return SetTimeout(Socket, SO_SNDTIMEO, Ms); }

bool PlatformSetNoDelay(TKzSocket Socket, bool Value) {
  const int v = Value ? 1 : 0;
  if (setsockopt(Socket, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) < 0) return Fail(), false;
  return true;
}

int PlatformConnect(TKzSocket Socket, uint32_t Address, uint16_t Port) {
  const sockaddr_in sa = IPv4(Address, Port);
  if (connect(Socket, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
    tlLastError = 0;
    return 0;
  }
  return Fail();
}

int PlatformPollConnect(const TKzSocket* Sockets, bool* Done, bool* Failed, int Count, uint32_t Ms) {
  std::vector<pollfd> fds;
  std::vector<int> index;
  for (int i = 0; i < Count; ++i) {
    if (Done[i] || Failed[i] || Sockets[i] < 0) continue;
    fds.push_back(pollfd{Sockets[i], POLLOUT, 0});
    index.push_back(i);
  }
  if (fds.empty()) return 0;
  int r;
  do {
    r = poll(fds.data(), fds.size(), static_cast<int>(std::min<uint32_t>(Ms, 1u << 30)));
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Fail();
  int changed = 0;
  for (size_t k = 0; k < fds.size(); ++k) {
    if (fds[k].revents == 0) continue;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fds[k].fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
    if (err == 0 && (fds[k].revents & (POLLERR | POLLHUP | POLLNVAL)) == 0) {
      Done[index[k]] = true;
    } else {
      Failed[index[k]] = true;
      tlLastError = err != 0 ? err : ECONNREFUSED;
    }
    ++changed;
  }
  return changed;
}

int PlatformPollRead(TKzSocket Socket, uint32_t Ms) { return PollOne(Socket, POLLIN, Ms); }
int PlatformPollWrite(TKzSocket Socket, uint32_t Ms) { return PollOne(Socket, POLLOUT, Ms); }

int64_t PlatformRecv(TKzSocket Socket, void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  ssize_t r;
  do {
    r = recv(Socket, Buffer, static_cast<size_t>(Count), MSG_DONTWAIT);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Fail();
  tlLastError = 0;
  return r;
}

int64_t PlatformSend(TKzSocket Socket, const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  ssize_t r;
  do {
    r = send(Socket, Buffer, static_cast<size_t>(Count), MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Fail();
  tlLastError = 0;
  return r;
}

bool PlatformSocketIdleAlive(TKzSocket Socket) {
  if (Socket < 0) return false;
  pollfd p{Socket, POLLIN, 0};
  const int r = poll(&p, 1, 0);
  if (r < 0) return false;
  if (r == 0) return true;  // nothing waiting: still open
  // Idle sockets have nothing to say; readable means closed or a stray reply.
  return false;
}

TKzSocket PlatformListenTCP(uint32_t Address, uint16_t Port, int Backlog) {
  TKzSocket s = PlatformSocketTCP();
  if (s < 0) return s;
  if (PlatformBind(s, Address, Port) < 0 || PlatformListen(s, Backlog) < 0) return CloseAfterFailure(s);
  return s;
}

uint16_t PlatformSocketLocalPort(TKzSocket Socket) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(Socket, reinterpret_cast<sockaddr*>(&sa), &len) < 0) return Fail(), 0;
  return ntohs(sa.sin_port);
}

TKzSocket PlatformAccept(TKzSocket Listener, uint32_t Ms) {
  if (PollOne(Listener, POLLIN, Ms) != 1) return KZ_INVALID_SOCKET;
  const int s = accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (s < 0) return Fail();
  return s;
}

TKzSocket PlatformBindUDP(uint32_t Address, uint16_t Port) {
  TKzSocket s = PlatformSocketUDP();
  if (s < 0) return s;
  if (BindTo(s, Address, Port) < 0) return CloseAfterFailure(s);
  return s;
}

int64_t PlatformSendTo(TKzSocket Socket, const void* Buffer, int64_t Count, uint32_t Address, uint16_t Port) {
  const sockaddr_in sa = IPv4(Address, Port);
  ssize_t r;
  do {
    r = sendto(Socket, Buffer, static_cast<size_t>(std::max<int64_t>(Count, 0)), MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Fail();
  tlLastError = 0;
  return r;
}

int64_t PlatformRecvFrom(TKzSocket Socket, void* Buffer, int64_t Count) {
  ssize_t r;
  do {
    r = recv(Socket, Buffer, static_cast<size_t>(std::max<int64_t>(Count, 0)), MSG_DONTWAIT);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Fail();
  tlLastError = 0;
  return r;
}

int64_t PlatformRecvFromAddr(TKzSocket Socket, void* Buffer, int64_t Count, uint32_t& Address, uint16_t& Port) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ssize_t r;
  do {
    r = recvfrom(Socket, Buffer, static_cast<size_t>(std::max<int64_t>(Count, 0)), MSG_DONTWAIT,
                 reinterpret_cast<sockaddr*>(&sa), &len);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Fail();
  tlLastError = 0;
  Address = sa.sin_addr.s_addr;
  Port = ntohs(sa.sin_port);
  return r;
}

TKzSocket PlatformSocketUDP() {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (s < 0) return Fail();
  return s;
}

int PlatformBind(TKzSocket Socket, uint32_t Address, uint16_t Port) {
  const int one = 1;
  setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  return BindTo(Socket, Address, Port);
}

int PlatformJoinMulticast(TKzSocket Socket, uint32_t Group, uint32_t Interface) {
  ip_mreq m{};
  m.imr_multiaddr.s_addr = Group;
  m.imr_interface.s_addr = Interface;
  return setsockopt(Socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) < 0 ? Fail() : 0;
}

int PlatformSetMulticastSend(TKzSocket Socket, uint32_t Interface, int Ttl) {
  in_addr a{};
  a.s_addr = Interface;
  const unsigned char ttl = static_cast<unsigned char>(std::clamp(Ttl, 0, 255)), loop = 1;
  if (setsockopt(Socket, IPPROTO_IP, IP_MULTICAST_IF, &a, sizeof a) < 0 ||
      setsockopt(Socket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) < 0 ||
      setsockopt(Socket, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) < 0)
    return Fail();
  return 0;
}

std::vector<uint32_t> PlatformMulticastInterfaces() {
  std::vector<uint32_t> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) < 0) return out;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    if (!(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_MULTICAST)) continue;
    out.push_back(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
  }
  freeifaddrs(list);
  return out;
}

int PlatformListen(TKzSocket Socket, int Backlog) { return listen(Socket, Backlog) < 0 ? Fail() : 0; }

int PlatformShutdown(TKzSocket Socket) { return shutdown(Socket, SHUT_RDWR) < 0 ? Fail() : 0; }

bool PlatformIsDatagramSocket(TKzSocket Socket) {
  int type = 0;
  socklen_t len = sizeof type;
  if (getsockopt(Socket, SOL_SOCKET, SO_TYPE, &type, &len) < 0) return Fail(), false;
  return type == SOCK_DGRAM;
}

int64_t PlatformSendBufferBytes(TKzSocket Socket) {
  int v = 0;
  socklen_t len = sizeof v;
  if (getsockopt(Socket, SOL_SOCKET, SO_SNDBUF, &v, &len) < 0) return Fail();
  return v;
}

bool PlatformSetSendBufferBytes(TKzSocket Socket, int32_t Bytes) {
  return setsockopt(Socket, SOL_SOCKET, SO_SNDBUF, &Bytes, sizeof Bytes) == 0 || (Fail(), false);
}

int PlatformPollReadMany(const TKzSocket* Sockets, bool* Ready, int Count, uint32_t Ms) {
  std::vector<pollfd> fds(static_cast<size_t>(std::max(Count, 0)));
  for (int i = 0; i < Count; ++i) fds[static_cast<size_t>(i)] = pollfd{Sockets[i], POLLIN, 0};
  int r;
  do {
    r = poll(fds.data(), fds.size(), static_cast<int>(std::min<uint32_t>(Ms, 1u << 30)));
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Fail();
  for (int i = 0; i < Count; ++i) Ready[i] = fds[static_cast<size_t>(i)].revents != 0;
  return r;
}

}  // namespace kz
