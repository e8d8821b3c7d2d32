#include "platform/fmxMKzPlatformPollSet.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace kz {

TKzPollSet::TKzPollSet() : FWake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), FFds(std::make_unique<std::vector<pollfd>>()) { Clear(); }

TKzPollSet::~TKzPollSet() {
  if (FWake >= 0) close(FWake);
}

void TKzPollSet::Clear() {
  FFds->clear();
  FFds->push_back(pollfd{FWake, POLLIN, 0});
}

size_t TKzPollSet::Add(TKzSocket Socket, uint8_t Want) {
  short events = 0;
  if (Want & kzpsRead) events |= POLLIN;
  if (Want & kzpsWrite) events |= POLLOUT;
  FFds->push_back(pollfd{Socket, events, 0});
  return FFds->size() - 2;
}

int TKzPollSet::Wait(uint32_t Ms) {
  int r;
  do {
    r = poll(FFds->data(), FFds->size(), static_cast<int>(Ms));
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  if ((*FFds)[0].revents & POLLIN) {
    uint64_t n;
    while (read(FWake, &n, sizeof n) == sizeof n) {
    }
    --r;
  }
  return r;
}

uint8_t TKzPollSet::Ready(size_t Index) const {
  const short e = (*FFds)[Index + 1].revents;
  uint8_t r = 0;
  if (e & POLLIN) r |= kzpsRead;
  if (e & POLLOUT) r |= kzpsWrite;
  if (e & (POLLERR | POLLHUP | POLLNVAL)) r |= kzpsClosed;
  return r;
}

void TKzPollSet::Wake() {
  const uint64_t one = 1;
  if (FWake >= 0 && write(FWake, &one, sizeof one) < 0) {
    // Full counter: a wake is pending anyway.
  }
}

}  // namespace kz
