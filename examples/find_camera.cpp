// Finds out what camera answers at an address — a vendor's command set, an
// ONVIF device or a stream path of the built-in model table — and plays
// the stream it found for a few frames.
//   find_camera [HOST[:PORT] [USER PASSWORD]]
// Without a host it starts the synthetic camera as an ONVIF device and
// finds it first the way ONVIF cameras are found on a network, by
// WS-Discovery (here a probe sent straight to its discovery port).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "camera/fmxMKzCamFields.h"
#include "camera/fmxMKzIPCameraAPI.h"
#include "camera/fmxMKzOnvifDiscovery.h"
#include "foundation/fmxMKzRedact.h"
#include "kzexample.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzConsumers.h"

using namespace kz;

// Counts the frames the camera shows (on the camera's draw thread).
class TFrameCounter : public IKzCamViewConsumer {
public:
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap&, bool, uint16_t, const TGUID&) override { ++Frames; }
  std::atomic<int> Frames{0};
};

// Asks the simulator's discovery responder who is there; the host:port of
// the first device service named, "" when none answered.
std::string Discover(TKzExampleSource& Sim) {
  // "kzcamsim: ONVIF at http://..., WS-Discovery on port N"
  std::string line;
  for (int i = 0; i < 3 && line.find("WS-Discovery on port ") == std::string::npos; ++i) line = Sim.NextLine();
  const size_t at = line.find("WS-Discovery on port ");
  if (at == std::string::npos) return "";
  TKzOnvifDiscoveryOptions options;
  options.Unicast = "127.0.0.1";
  options.Port = static_cast<uint16_t>(std::atoi(line.c_str() + at + 21));
  options.WindowMs = 1000;
  std::atomic<bool> abort{false};
  std::vector<TKzOnvifDiscovered> found;
  std::string error;
  if (!KzOnvifDiscover(options, abort, found, error) || found.empty() || found[0].Match.XAddrs.empty()) {
    std::fprintf(stderr, "no ONVIF device answered %s\n", error.c_str());
    return "";
  }
  const std::string& xaddr = found[0].Match.XAddrs[0];  // http://HOST:PORT/onvif/device_service
  std::printf("discovered %s (%s) at %s\n", found[0].Match.Endpoint.c_str(), found[0].Match.Name.c_str(),
              xaddr.c_str());
  const size_t host = xaddr.find("://") + 3;
  return xaddr.substr(host, xaddr.find('/', host) - host);
}

int main(int argc, char** argv) {
  SetMainThread();
  std::string address = argc > 1 ? argv[1] : "";
  const std::string user = argc > 3 ? argv[2] : "admin", password = argc > 3 ? argv[3] : "admin";
  std::optional<TKzExampleSource> sim;
  if (address.empty()) {
    sim.emplace(nullptr, std::vector<std::string>{"--onvif", "--discovery-port", "0"});
    if (sim->URL().empty() || (address = Discover(*sim)).empty()) return 1;
  }

  TKzCamera camera(nullptr);
  const size_t colon = address.rfind(':');
  camera.SetCameraHost(address.substr(0, colon));
  camera.SetCameraPort(colon == std::string::npos ? 80 : static_cast<uint16_t>(std::atoi(address.c_str() + colon + 1)));
  camera.SetUserName(user);
  camera.SetUserPassword(password);
  // The search runs on worker threads; its end comes as an event on this thread.
  int status = -1;
  camera.OnSearchComplete = [&](TComponent*, int32_t Status) { status = Status; };
  if (!camera.SearchCamera({}) || !PumpUntil([&] { return status >= 0; }, 60000) || status != 0) {
    std::printf("nothing identified at %s\n", address.c_str());
    return 1;
  }
  std::printf("vendor families 0x%04x, ONVIF %s, model %s\n", camera.IPCameraTypes().Bits(),
              camera.Onvif().DeviceURL.empty() ? "no" : camera.Onvif().DeviceURL.c_str(),
              KzCamFieldGet(camera, TKzCamField::kzfID).c_str());
  // A model-table match set the URL; otherwise the vendor (or ONVIF) names the stream.
  const std::string url = camera.URL().empty() ? TKzIPCameraAPI::GetMJpegURL(camera) : camera.URL();
  std::printf("playing %s\n", KzRedactCredentials(url).c_str());
  TFrameCounter counter;
  camera.RegisterCamView(&counter);
  camera.PlayVideoStream();
  PumpUntil([&] { return counter.Frames >= 5 || !camera.IsVideoPlaying(); }, 30000);
  camera.Abort();
  camera.WaitForVideoStream();
  camera.UnRegisterCamView(&counter);
  std::printf("%d frames\n", counter.Frames.load());
  return counter.Frames >= 5 ? 0 : 1;
}
