// A relay in an application: senders push to its port, receivers pull what
// is addressed to them; prints each channel as it opens and closes.
//   relay_server [PORT [SECONDS]]
#include <cstdio>
#include <cstdlib>

#include "platform/fmxMKzPlatformMainThread.h"
#include "streaming/server/fmxMKzMediaServer.h"

using namespace kz;

int main(int argc, char** argv) {
  SetMainThread();
  TKzMediaServer relay(nullptr);
  relay.SetHTTPPort(static_cast<uint16_t>(argc > 1 ? std::atoi(argv[1]) : 8080));
  // Connection threads call this one; the close comes on the main thread.
  relay.OnUserConnect = [](TKzMediaServer*, const std::string& User, TKzMediaType Type) {
    std::printf("channel %d of %s open\n", static_cast<int>(Type), User.c_str());
  };
  relay.OnUserDisconnect = [](TKzMediaServer*, const std::string& User, TKzMediaType Type) {
    std::printf("channel %d of %s closed\n", static_cast<int>(Type), User.c_str());
  };
  relay.OnError = [](TKzMediaServer*, TKzProtocol) { std::printf("the port is taken\n"); };
  relay.SetHTTPActive(true);
  std::printf("relaying on port %u\n", relay.HTTPBoundPort());
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  PumpFor(seconds * 1000);
  relay.SetHTTPActive(false);
  return 0;
}
