// A TCP listener on loopback that gives every connection it accepts a
// thread of its own running Serve(socket, n), n counting from 1. Serve
// owns the socket and returns once Stopping() is true (looking at it at
// least every 100 ms); the destructor sets it and joins every thread.
// Used by the chaos proxy and the scripted pulled sender. ReceiveBuffer,
// when above 0, fixes the accepted connections' receive buffer (no growth).
#pragma once
#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/fmxMKzPlatformSockets.h"

namespace kztest {

class TLoopbackServer {
public:
  using TServe = std::function<void(kz::TKzSocket, int)>;
  explicit TLoopbackServer(TServe Serve, int ReceiveBuffer = 0) : FServe(std::move(Serve)) {
    FListen = kz::PlatformListenTCP(kz::PlatformLookupIPv4("127.0.0.1"), 0, 16);
    if (ReceiveBuffer > 0) setsockopt(FListen, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
    Port = kz::PlatformSocketLocalPort(FListen);
    std::lock_guard<std::mutex> g(FLock);  // the acceptor may add a thread before emplace_back returns
    FThreads.emplace_back([this] {
      for (int n = 1; !FStop;) {
        const kz::TKzSocket s = kz::PlatformAccept(FListen, 100);
        if (s == kz::KZ_INVALID_SOCKET) continue;
        std::lock_guard<std::mutex> g(FLock);
        FThreads.emplace_back([this, s, c = n++] { FServe(s, c); });
      }
    });
  }
  ~TLoopbackServer() {
    FStop = true;
    for (size_t i = 0;; ++i) {
      std::thread t;
      {
        std::lock_guard<std::mutex> g(FLock);
        if (i == FThreads.size()) break;
        t = std::move(FThreads[i]);
      }
      t.join();
    }
    kz::PlatformCloseSocket(FListen);
  }
  bool Stopping() const { return FStop; }
  // Connections accepted so far.
  int Connections() {
    std::lock_guard<std::mutex> g(FLock);
    return static_cast<int>(FThreads.size()) - 1;
  }

  uint16_t Port = 0;

private:
  const TServe FServe;
  kz::TKzSocket FListen;
  std::atomic<bool> FStop{false};
  std::mutex FLock;                   // guards FThreads
  std::vector<std::thread> FThreads;  // the acceptor first
};

}  // namespace kztest
