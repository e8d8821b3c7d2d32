// Many sockets waited on at once (epoll): one thread serves every
// connection of a listener instead of a thread per connection.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/fmxMKzPlatformSockets.h"

namespace kz {

class TKzPollSet {
public:
  struct TEvent {
    uint64_t Token = 0;
    bool Readable = false;  // or the peer hung up: a read tells
    bool Writable = false;
  };
  static constexpr uint64_t WakeToken = UINT64_MAX;  // reported after Wake

  // Creating thread.
  TKzPollSet();
  ~TKzPollSet();
  TKzPollSet(const TKzPollSet&) = delete;
  TKzPollSet& operator=(const TKzPollSet&) = delete;
  bool Valid() const { return FPoll >= 0 && FWake >= 0; }

  // Watches Socket for reading (and for room to write when Write). The
  // owning thread, never blocks.
  bool Add(TKzSocket Socket, uint64_t Token, bool Write = false);
  // What to watch from now on: reading, room to write, or both (a hang-up
  // or error is reported either way).
  bool Modify(TKzSocket Socket, uint64_t Token, bool Read, bool Write);
  void Remove(TKzSocket Socket);
  // Waits up to Ms for ready sockets; Events holds them (empty on time-out).
  // False on a failed wait. The owning thread; blocks up to Ms.
  bool Wait(uint32_t Ms, std::vector<TEvent>& Events);
  // Ends a Wait now. Any thread, never blocks.
  void Wake();

private:
  int FPoll = -1;
  int FWake = -1;  // eventfd
};

// Sends the pieces in order with one call as far as the socket takes them
// (never blocks): the bytes sent, or -1 on failure (would-block gives 0).
struct TKzSendPiece {
  const uint8_t* Data;
  size_t Size;
};
int64_t PlatformSendPieces(TKzSocket Socket, const TKzSendPiece* Pieces, size_t Count);

}  // namespace kz
