// One client connection of the HTTP video server: the bytes of its request
// head (bounded), what is queued for it (texts and shared JPEG frames, sent
// without copying), and the ticks its time-outs are measured from. Only the
// server's own thread touches a connection.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/fmxMKzPlatformSockets.h"
#include "webserver/fmxMKzHttpSourceSlot.h"

namespace kz {

class TKzHttpConnection {
public:
  enum class TState : uint8_t {
    kzcsHead = 0,      // reading a request head
    kzcsReply = 1,     // sending one reply; then the next request or the end
    kzcsStream = 2,    // sending a Motion-JPEG stream until the client leaves
    kzcsSnapshot = 3,  // waiting for the source's next encoding
  };

  // Takes over Socket (made non-blocking). The server's thread.
  TKzHttpConnection(TKzSocket Socket, uint64_t Now);
  ~TKzHttpConnection();
  TKzHttpConnection(const TKzHttpConnection&) = delete;
  TKzHttpConnection& operator=(const TKzHttpConnection&) = delete;

  TKzSocket Socket() const { return FSocket; }

  // Reads what the socket holds, keeping at most Limit bytes of it (the
  // rest of a stream client's chatter is dropped). False when the peer
  // closed the connection or it failed.
  bool Receive(size_t Limit, uint64_t Now);
  std::string& Input() { return FInput; }

  void Queue(std::string Text);
  void Queue(TKzHttpJpegRef Jpeg);
  bool HasOutput() const { return !FOut.empty(); }
  size_t OutputBytes() const { return FOutBytes; }
  // Sends as much as the socket takes now. False when the connection failed.
  bool Flush(uint64_t Now);

  // Tick of the last byte read or sent.
  uint64_t LastProgress() const { return FLastProgress; }

  TState State = TState::kzcsHead;
  uint64_t StateSince = 0;  // tick the state began
  bool CloseWhenSent = false;
  std::shared_ptr<TKzHttpSourceSlot> Slot;  // the source streamed or awaited
  uint64_t LastNumber = 0;                  // the last encoding sent, or the one awaited past

private:
  struct TPiece {
    std::string Text;
    TKzHttpJpegRef Jpeg;
    const std::string& Bytes() const { return Jpeg ? Jpeg->Bytes : Text; }
  };
  TKzSocket FSocket;
  std::string FInput;
  std::deque<TPiece> FOut;
  size_t FOutOffset = 0;  // bytes of FOut.front() already sent
  size_t FOutBytes = 0;   // bytes queued, not yet sent
  uint64_t FLastProgress;
};

}  // namespace kz
