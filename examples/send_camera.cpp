// Sends a camera's video to a receiver for some seconds: the sender
// registers with the camera and pushes JPEG frames over TCP.
//   send_camera [URL [HOST:PORT [SECONDS]]]   (default 127.0.0.1:7777, 10 s)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kzexample.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"

using namespace kz;

int main(int argc, char** argv) {
  SetMainThread();
  TKzExampleSource source(argc > 1 ? argv[1] : nullptr);
  if (source.URL().empty()) return 1;
  const std::string to = argc > 2 ? argv[2] : "127.0.0.1:7777";
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;
  TKzCamera camera(nullptr);
  TKzCamSender sender(nullptr);
  sender.SetProtocol(TKzProtocol::kzpTCP);
  sender.SetReceiverHost(to.substr(0, to.rfind(':')));
  sender.SetReceiverPort(static_cast<uint16_t>(std::atoi(to.c_str() + to.rfind(':') + 1)));
  // Events arrive on this thread while it pumps the main loop.
  sender.OnConnectError = [](TComponent*, uint16_t DataType, uint64_t) {
    std::fprintf(stderr, "cannot reach the receiver (data type %u)\n", unsigned(DataType));
  };
  sender.SetVideoSource(&camera);  // the camera's draw thread hands each frame to the sender
  sender.SetActive(true);
  source.Play(camera);
  PumpFor(seconds * 1000);
  camera.Abort();
  sender.SetActive(false);
  sender.SetVideoSource(nullptr);
  std::printf("frames sent: %llu\n", static_cast<unsigned long long>(sender.FramesSent()));
  return sender.FramesSent() > 0 ? 0 : 1;
}
