// Waiting on many stream sockets at once, for readability and writability,
// with a wake-up any thread can trigger: the loop of a server that serves
// all its connections from one thread.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/fmxMKzPlatformSockets.h"

struct pollfd;

namespace kz {

class TKzPollSet {
public:
  // Readiness of one socket after Wait.
  enum : uint8_t { kzpsRead = 1, kzpsWrite = 2, kzpsClosed = 4 };

  // Creates the wake-up channel. Any thread, never blocks.
  TKzPollSet();
  ~TKzPollSet();
  TKzPollSet(const TKzPollSet&) = delete;
  TKzPollSet& operator=(const TKzPollSet&) = delete;
  // Whether the wake-up channel could be made.
  bool Valid() const { return FWake >= 0; }

  // Empties the set; then Add the sockets of the next wait. The owning thread.
  void Clear();
  // Adds Socket with the wanted readiness (kzpsRead, kzpsWrite); returns its index.
  size_t Add(TKzSocket Socket, uint8_t Want);
  // Waits up to Ms for any socket's readiness or a Wake; returns the number
  // of ready sockets (0 after a time-out or a wake alone), -1 on failure.
  // The owning thread; blocks up to Ms.
  int Wait(uint32_t Ms);
  // What the last Wait found for the socket at Index (kzpsClosed for
  // errors and hang-ups).
  uint8_t Ready(size_t Index) const;
  // Ends the current or the next Wait early. Any thread, never blocks.
  void Wake();

private:
  int FWake = -1;  // eventfd
  std::unique_ptr<std::vector<pollfd>> FFds;
};

}  // namespace kz
