// Shows a camera in a browser for some seconds: the HTTP video server
// publishes it as a Motion-JPEG stream, a snapshot and a wall page.
//   serve_camera [URL [PORT [SECONDS]]]   (default port 8080, 60 s)
#include <cstdio>
#include <cstdlib>

#include "kzexample.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "webserver/fmxMKzHttpVideoServer.h"

using namespace kz;

int main(int argc, char** argv) {
  SetMainThread();
  TKzExampleSource source(argc > 1 ? argv[1] : nullptr);
  if (source.URL().empty()) return 1;
  const int port = argc > 2 ? std::atoi(argv[2]) : 8080;
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
  TKzCamera camera(nullptr);
  TKzHttpVideoServer server(nullptr);
  server.SetPort(static_cast<uint16_t>(port));
  server.Publish("camera", &camera);  // the camera's draw thread hands each frame to the server
  server.SetActive(true);
  if (!server.Active()) {
    std::fprintf(stderr, "%s\n", server.LastError().c_str());
    return 1;
  }
  std::printf("open %s (stream: %svideo/camera.mjpg)\n", server.PageURL().c_str(), server.PageURL().c_str());
  std::fflush(stdout);
  source.Play(camera);
  PumpFor(seconds * 1000);
  server.SetActive(false);
  server.Unpublish("camera");
  camera.Abort();
  std::printf("frames encoded: %llu\n", static_cast<unsigned long long>(server.Stats().FramesEncoded));
  return 0;
}
