// kztool serve: publishes cameras in a browser. Each NAME=URL is played
// through a TKzCamera and published by one TKzHttpVideoServer as
// /video/NAME.mjpg and /snapshot/NAME.jpg, with the wall page at "/".
// The page address goes to stdout ("page: URL") once serving; a status
// line per second to stderr.
#include <memory>
#include <string>
#include <vector>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappfetch.h"
#include "apps/kztool/kztool.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "webserver/fmxMKzHttpVideoServer.h"

using namespace kzapp;

namespace kztool {

namespace {

const TKzOption kOptions[] = {
    {"--port", "P", "listen on port P (default 8080; 0: any free port)"},
    {"--bind", "ADDR", "listen on this IPv4 address (default 127.0.0.1; 0.0.0.0 for every one)"},
    {"--auth", "MODE", "ask browsers for credentials: basic or digest (with --user and --password)"},
    {"--user", "U", "the user name for --auth"},
    {"--password", "P", "the password for --auth"},
    {"--max-clients", "N", "requests served at once (default 32)"},
    {"--fps", "F", "encodings per second and source at most (default 25)"},
    {"--quality", "Q", "JPEG quality 1..100 (default 80)"},
    {"--seconds", "S", "stop after S seconds (default: until interrupted)"},
};

struct TNamedAuth {
  const char* Name;
  kz::TKzHttpAuthentication Mode;
};
const TNamedAuth kAuthModes[] = {{"basic", kz::TKzHttpAuthentication::kzhaBasic},
                                 {"digest", kz::TKzHttpAuthentication::kzhaDigest}};

int Run(TKzArgs& Args) {
  if (Args.Positional.empty()) {
    Args.Error = "give at least one NAME=URL";
    return kzExitUsage;
  }
  double port = 8080, maxClients = 32, fps = 25, quality = 80, seconds = 0;
  if (!Args.Number("--port", port, 0, 65535) || !Args.Number("--max-clients", maxClients, 1, 100000) ||
      !Args.Number("--fps", fps, 0.1, 1000) || !Args.Number("--quality", quality, 1, 100) ||
      !Args.Number("--seconds", seconds, 0, 1e9))
    return kzExitUsage;

  kz::TKzHttpVideoServer server(nullptr);
  if (Args.Has("--auth")) {
    const TNamedAuth* mode = nullptr;
    for (const TNamedAuth& m : kAuthModes)
      if (Args.Get("--auth") == m.Name) mode = &m;
    if (!mode || !Args.Has("--user") || !Args.Has("--password")) {
      Args.Error = "--auth takes basic or digest, with --user and --password";
      return kzExitUsage;
    }
    server.SetAuthentication(mode->Mode);
    server.SetUsers({{Args.Get("--user"), Args.Get("--password")}});
  }
  server.SetPort(static_cast<uint16_t>(port));
  server.SetBindAddress(Args.Get("--bind", "127.0.0.1"));
  server.SetMaxClients(static_cast<int32_t>(maxClients));
  server.SetMaxFrameRate(fps);
  server.SetQuality(static_cast<int32_t>(quality));

  std::vector<std::unique_ptr<kz::TKzCamera>> cameras;
  for (const std::string& item : Args.Positional) {
    const size_t eq = item.find('=');
    const std::string name = item.substr(0, eq == std::string::npos ? 0 : eq);
    const std::string url = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    if (url.empty() || !kz::KzHttpValidSourceName(name)) {
      Args.Error = "\"" + item + "\" is not NAME=URL (NAME: letters, digits, '-' and '_')";
      return kzExitUsage;
    }
    if (const std::string why = KzSourceError(url); !why.empty())
      return KzErr("kztool serve: %s: %s\n", name.c_str(), why.c_str()), kzExitFailed;
    auto cam = std::make_unique<kz::TKzCamera>(nullptr);
    if (!server.Publish(name, cam.get())) return KzErr("kztool serve: %s\n", server.LastError().c_str()), kzExitFailed;
    KzPlaySource(*cam, url);
    cameras.push_back(std::move(cam));
  }
  server.SetActive(true);
  if (!server.Active()) return KzErr("kztool serve: %s\n", server.LastError().c_str()), kzExitFailed;
  KzOut("page: %s\n", server.PageURL().c_str());
  std::fflush(stdout);

  KzCatchStopSignals();
  const uint64_t start = kz::KzMGetTickCount();
  uint64_t nextStatus = start + 1000;
  auto done = [&] {
    return KzStopSignal() != 0 || (seconds > 0 && kz::KzMGetTickCount() - start >= static_cast<uint64_t>(seconds * 1000));
  };
  while (!done()) {
    kz::PumpUntil(done, 200);
    if (kz::KzMGetTickCount() < nextStatus) continue;
    nextStatus += 1000;
    const kz::TKzHttpServerStats s = server.Stats();
    KzErr("serve: connections %d  requests %llu  frames encoded %llu  sent %llu  refused %llu  unauthorised %llu\n",
          server.ClientCount(), static_cast<unsigned long long>(s.Requests),
          static_cast<unsigned long long>(s.FramesEncoded), static_cast<unsigned long long>(s.FramesSent),
          static_cast<unsigned long long>(s.Refused), static_cast<unsigned long long>(s.AuthRefused));
  }
  server.SetActive(false);
  for (const std::string& name : server.Published()) server.Unpublish(name);
  for (auto& cam : cameras) {
    cam->Abort();
    kz::PumpUntil([&] { return !cam->IsVideoPlaying(); }, 5000);
  }
  return KzStopSignal() != 0 ? kzExitInterrupted : kzExitDone;
}

}  // namespace

const TSubcommand kServeCommand = {
    "serve", "NAME=URL...",
    "publishes cameras in a browser: /video/NAME.mjpg (Motion-JPEG), /snapshot/NAME.jpg and a wall page at /; "
    "\"page: URL\" to stdout",
    kOptions, Run};

}  // namespace kztool
