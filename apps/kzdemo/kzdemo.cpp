// kzdemo: the main job of KzMedia in one command. Until the camera chain is
// in place it reports what the library already provides and checks that the
// spine (threads, main thread, message pump) runs on this machine.
#include <chrono>
#include <cstdio>
#include <string>

#include "foundation/fmxMKzMessages.h"
#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kz;

int main() {
  SetMainThread();
  std::printf("KzMedia demo\n");
  std::printf("available: threads, main-thread hand-over, message pump, timers, option objects\n");
  std::printf("not yet: cameras, frame pipeline, views, streaming (see README.md)\n");

  // Round trip through the message pump: a worker posts, the main thread handles.
  int handled = 0;
  const int total = 1000;
  const void* target = &handled;
  KzMessages().RegisterMessageHandler2(target, WM_USER, [&](TMessage&) { ++handled; });
  const auto start = std::chrono::steady_clock::now();
  std::thread poster([&] {
    for (int i = 0; i < total; ++i) KzMessages().PostMessage2(target, WM_USER, i, 0);
  });
  const bool ok = PumpUntil([&] { return handled == total; }, 5000);
  poster.join();
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  KzMessages().UnRegister2(target);
  std::printf("message pump: %d of %d messages delivered on the main thread in %.1f ms\n", handled, total, ms);
  std::printf("local address: %s\n", GetLocalHostAddress().c_str());
  KzMessagesShutdown();
  return ok ? 0 : 1;
}
