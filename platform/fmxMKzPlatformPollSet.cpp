#include "platform/fmxMKzPlatformPollSet.h"

#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>

namespace kz {

namespace {

constexpr size_t kMaxEvents = 256;
constexpr size_t kMaxPieces = 64;

epoll_event EventFor(uint64_t Token, bool Read, bool Write) {
  epoll_event e{};
  e.events = (Read ? EPOLLIN | EPOLLRDHUP : 0u) | (Write ? EPOLLOUT : 0u);
  e.data.u64 = Token;
  return e;
}

}  // namespace

TKzPollSet::TKzPollSet() : FPoll(epoll_create1(EPOLL_CLOEXEC)), FWake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (Valid()) {
    epoll_event e = EventFor(WakeToken, true, false);
    epoll_ctl(FPoll, EPOLL_CTL_ADD, FWake, &e);
  }
}

TKzPollSet::~TKzPollSet() {
  if (FPoll >= 0) close(FPoll);
  if (FWake >= 0) close(FWake);
}

bool TKzPollSet::Add(TKzSocket Socket, uint64_t Token, bool Write) {
  epoll_event e = EventFor(Token, true, Write);
  return epoll_ctl(FPoll, EPOLL_CTL_ADD, Socket, &e) == 0;
}

bool TKzPollSet::Modify(TKzSocket Socket, uint64_t Token, bool Read, bool Write) {
  epoll_event e = EventFor(Token, Read, Write);
  return epoll_ctl(FPoll, EPOLL_CTL_MOD, Socket, &e) == 0;
}

void TKzPollSet::Remove(TKzSocket Socket) { epoll_ctl(FPoll, EPOLL_CTL_DEL, Socket, nullptr); }

bool TKzPollSet::Wait(uint32_t Ms, std::vector<TEvent>& Events) {
  Events.clear();
  epoll_event got[kMaxEvents];
  int n;
  do {
    n = epoll_wait(FPoll, got, static_cast<int>(kMaxEvents), static_cast<int>(std::min<uint32_t>(Ms, 1u << 30)));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  for (int i = 0; i < n; ++i) {
    if (got[i].data.u64 == WakeToken) {
      uint64_t count = 0;
      while (read(FWake, &count, sizeof count) > 0) {
      }
    }
    const uint32_t ev = got[i].events;
    Events.push_back({got[i].data.u64, (ev & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0,
                      (ev & (EPOLLOUT | EPOLLHUP | EPOLLERR)) != 0});
  }
  return true;
}

void TKzPollSet::Wake() {
  const uint64_t one = 1;
  (void)!write(FWake, &one, sizeof one);
}

int64_t PlatformSendPieces(TKzSocket Socket, const TKzSendPiece* Pieces, size_t Count) {
  iovec v[kMaxPieces];
  const size_t n = std::min(Count, kMaxPieces);
  for (size_t i = 0; i < n; ++i) v[i] = {const_cast<uint8_t*>(Pieces[i].Data), Pieces[i].Size};
  msghdr m{};
  m.msg_iov = v;
  m.msg_iovlen = n;
  ssize_t r;
  do {
    r = sendmsg(Socket, &m, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  if (r >= 0) return r;
  return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
}

}  // namespace kz
