// A TCP proxy on loopback that spoils what passes through it: every
// connection made to it is forwarded to the far end, and once, on the first
// connection that carries packets of the chosen data type, one fault strikes
// At bytes into what that connection sent:
//   OneByteWrites - the bytes before At go out one write each;
//   CutMidPacket  - the connection is closed there, both ways;
//   Reset         - the same with a reset;
//   Garbage       - a marker and a broken block are slipped in;
//   Stall         - nothing passes for 1.5 s;
//   Hold          - nothing passes until Release (the proxy's receive buffer
//                   is small, so what is held soon waits at the sender).
// CutNow cuts a connection of the chosen data type in the middle of the next
// bytes it carries, whatever the fault and however often it is called.
// Bytes the far end sends back pass untouched. Used by the socket tests and
// the sender-to-receiver tests alike.
#pragma once
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <thread>
#include <vector>

#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzStreamConnect.h"
#include "streaming/fmxMKzStreamMarkers.h"
#include "tests/kztestpeers.h"
#include "tests/streaming/kzloopbackserver.h"

namespace kztest {

enum class TChaosFault { OneByteWrites, CutMidPacket, Garbage, Stall, Reset, Hold };

class TChaosProxy {
public:
  // Forwards to To; the fault strikes on the first connection whose first
  // packet header is of DataType (0: any connection).
  TChaosProxy(uint16_t To, TChaosFault Fault, size_t At, uint8_t DataType = 0)
      : FTo(To), FFault(Fault), FAt(At), FType(DataType) {
    Port = FServer.Port;
  }
  // Whether the fault has struck.
  bool Struck() const { return FStruck; }
  void CutNow() { FCutNow = true; }
  // Lets what Hold keeps pass from now on.
  void Release() {
    std::lock_guard<std::mutex> g(FHoldLock);
    FReleased = true;
    FHoldWake.notify_all();
  }
  bool Released() {
    std::lock_guard<std::mutex> g(FHoldLock);
    return FReleased;
  }

  uint16_t Port = 0;

private:
  // The data type of the first packet header in Bytes; 0 while none is there.
  static uint8_t FirstType(const std::vector<uint8_t>& Bytes) {
    const int64_t at = kz::KzFindMarker(Bytes.data(), Bytes.size(), 0, kz::MARKER);
    return at >= 0 && static_cast<size_t>(at) + 6 <= Bytes.size() ? Bytes[static_cast<size_t>(at) + 4] & 0x1F : 0;
  }

  void Forward(kz::TKzSocket C) {
    kz::TKzSocket far = kz::KzMConnectTimed(Loopback(), FTo, 3000);
    if (far == kz::KZ_INVALID_SOCKET) {
      kz::PlatformCloseSocket(C);
      return;
    }
    kz::PlatformSetNoDelay(C, true), kz::PlatformSetNoDelay(far, true);
    Forward(C, far);
  }

  void Forward(kz::TKzSocket C, kz::TKzSocket Far) {
    std::vector<uint8_t> head;  // the connection's first bytes, until its type is known
    bool mine = false, decided = false, typed = false;
    size_t sent = 0;
    uint8_t buf[65536];
    pollfd p[2] = {{C, POLLIN, 0}, {Far, POLLIN, 0}};
    while (!FServer.Stopping()) {
      if (poll(p, 2, 100) <= 0) continue;
      if (p[1].revents) {  // the far end's answers pass as they are
        const int64_t n = kz::PlatformRecv(Far, buf, sizeof buf);
        if (n <= 0 || kz::KzSendAll(C, buf, static_cast<size_t>(n)) < 0) break;
      }
      if (!p[0].revents) continue;
      const int64_t n = kz::PlatformRecv(C, buf, sizeof buf);
      if (n <= 0) break;
      if (!decided) {
        head.insert(head.end(), buf, buf + n);
        const uint8_t type = FirstType(head);
        decided = type != 0 || head.size() > 4096;
        typed = decided && (FType == 0 || type == FType);
        mine = typed && !FClaimed.exchange(true);
      }
      if (typed && n > 1 && FCutNow.exchange(false)) {
        kz::KzSendAll(Far, buf, static_cast<size_t>(n / 2));
        break;
      }
      if (!mine || FStruck || sent + static_cast<size_t>(n) <= FAt) {
        const size_t step = mine && FFault == TChaosFault::OneByteWrites && !FStruck ? 1 : static_cast<size_t>(n);
        for (int64_t at = 0; at < n; at += static_cast<int64_t>(step))
          if (kz::KzSendAll(Far, buf + at, std::min(step, static_cast<size_t>(n - at))) < 0) goto done;
        sent += static_cast<size_t>(n);
        continue;
      }
      const size_t before = FAt - sent;  // the fault strikes inside this read
      for (size_t at = 0; at < before; at += FFault == TChaosFault::OneByteWrites ? 1 : before)
        if (kz::KzSendAll(Far, buf + at, FFault == TChaosFault::OneByteWrites ? 1 : before) < 0) goto done;
      sent += static_cast<size_t>(n);
      FStruck = true;
      if (FFault == TChaosFault::CutMidPacket || FFault == TChaosFault::Reset) {
        linger abort{1, 0};
        if (FFault == TChaosFault::Reset) setsockopt(C, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        break;
      }
      if (FFault == TChaosFault::Garbage) {
        static const uint8_t garbage[] = {'m', 'd', 'B', 'D', 7, 'g', 'm', 'c', 'B', 'D'};
        if (kz::KzSendAll(Far, garbage, sizeof garbage) < 0) break;
      }
      if (FFault == TChaosFault::Stall) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      if (FFault == TChaosFault::Hold) {
        std::unique_lock<std::mutex> g(FHoldLock);
        while (!FReleased && !FServer.Stopping()) FHoldWake.wait_for(g, std::chrono::milliseconds(100));
      }
      if (kz::KzSendAll(Far, buf + before, static_cast<size_t>(n) - before) < 0) break;
    }
  done:
    kz::PlatformCloseSocket(C);
    kz::PlatformShutdown(Far);
    kz::PlatformCloseSocket(Far);
  }

  const uint16_t FTo;
  const TChaosFault FFault;
  const size_t FAt;
  const uint8_t FType;
  std::atomic<bool> FClaimed{false}, FStruck{false}, FCutNow{false};
  std::mutex FHoldLock;  // guards FReleased
  std::condition_variable FHoldWake;
  bool FReleased = false;
  // Last: its threads use the rest.
  TLoopbackServer FServer{[this](kz::TKzSocket C, int) { Forward(C); }, FFault == TChaosFault::Hold ? 32768 : 0};
};

}  // namespace kztest
