// ONVIF discovery and stream URIs of 20 fake cameras (kzcamsim --onvif,
// each on its own loopback address) in a network namespace of its own:
// ours (WS-Discovery, then clock, capabilities, profiles and the first
// profile's stream URI of each) against Debian's onvif-util doing the same
// (-a, then "get rtsp" logged in to each), same run, wall time.
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "bench/kzbench.h"
#include "bench/kzstreamfleet.h"
#include "camera/fmxMKzOnvifClient.h"
#include "camera/fmxMKzOnvifDiscovery.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformSockets.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int kCameras = 20;
constexpr uint16_t kPort = 8080;

std::string Address(int I) { return "127.0.0." + std::to_string(11 + I); }

bool Listening(const std::string& Host, uint16_t Port) {
  TKzSocket s = PlatformSocketTCP();
  const bool ok = s != KZ_INVALID_SOCKET && PlatformConnect(s, PlatformLookupIPv4(Host), Port) == 0;
  if (s != KZ_INVALID_SOCKET) PlatformCloseSocket(s);
  return ok;
}

int Inside() {
  const std::string name = "onvif_discover_and_uris_20";
  if (std::system("ip link set lo up && ip link set lo multicast on && ip route add 239.0.0.0/8 dev lo") != 0) {
    kzbench::MissingAnchor(name, "the namespace's loopback cannot carry multicast");
    return kzbench::Finish();
  }
  std::vector<kzbench::TChild> fakes(kCameras);
  for (int i = 0; i < kCameras; ++i)
    fakes[static_cast<size_t>(i)].Start({kzbench::AppPath("kzcamsim"), "--onvif", "--bind", Address(i), "--port",
                                         std::to_string(kPort), "--fps", "1", "--size", "160x120", "--quiet",
                                         "--rtsp-url", "rtsp://" + Address(i) + ":8554/live"},
                                        false);
  for (int i = 0; i < kCameras; ++i)
    for (int k = 0; k < 100 && !Listening(Address(i), kPort); ++k) usleep(50000);

  // Ours.
  const auto t0 = Clock::now();
  std::atomic<bool> abort{false};
  std::vector<TKzOnvifDiscovered> found;
  std::string error;
  KzOnvifDiscover({}, abort, found, error);
  int uris = 0;
  TKzCamRequestSettings s;
  s.UserName = s.Password = "admin";
  for (const TKzOnvifDiscovered& d : found) {
    TKzOnvifClient c(d.Match.XAddrs.empty() ? "" : d.Match.XAddrs[0], s, abort);
    TKzOnvifError e;
    TKzOnvifServices services;
    std::vector<TKzOnvifProfile> profiles;
    std::string uri;
    if (c.SyncClock(e) && c.GetCapabilities(services, e) && c.GetProfiles(profiles, e) && !profiles.empty() &&
        c.GetStreamUri(profiles[0].Token, uri, e))
      ++uris;
  }
  const double ours = std::chrono::duration<double>(Clock::now() - t0).count();

  // onvif-util: one look at all, then one login per camera.
  const auto t1 = Clock::now();
  const bool all = std::system("onvif-util -a >/tmp/kz_onvif_bench_all.txt 2>&1") == 0;
  int anchorUris = 0;
  for (int i = 0; i < kCameras; ++i) {
    const std::string out = "/tmp/kz_onvif_bench_" + std::to_string(i) + ".txt";
    std::system(("printf 'get rtsp\\nquit\\n' | onvif-util -u admin -p admin " + Address(i) + " >" + out + " 2>&1")
                    .c_str());
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    anchorUris += text.str().find("rtsp://" + Address(i)) != std::string::npos;
  }
  const double anchor = std::chrono::duration<double>(Clock::now() - t1).count();
  for (auto& f : fakes) f.Stop();
  std::printf("%-30s ours: %zu found, %d URIs in %.3f s | onvif-util: %d URIs in %.3f s | ratio %.2f\n", name.c_str(),
              found.size(), uris, ours, anchorUris, anchor, ours / std::max(anchor, 1e-9));
  if (!all || anchorUris != kCameras) {
    kzbench::MissingAnchor(name, "onvif-util did not read all " + std::to_string(kCameras) + " URIs");
    return kzbench::Finish();
  }
  kzbench::Cost(name + "/wall", ours, anchor, "s");
  KzInetShutdown();
  return uris == kCameras ? kzbench::Finish() : 1;
}
}  // namespace

int main(int argc, char** argv) {
  SetMainThread();
  if (std::getenv("KZ_ONVIF_BENCH_INSIDE")) return Inside();
  if (std::system("onvif-util -h >/dev/null 2>&1; command -v onvif-util >/dev/null") != 0) {
    kzbench::MissingAnchor("onvif_discover_and_uris_20", "onvif-util (onvif-tools) is missing");
    return kzbench::Finish();
  }
  if (std::system("unshare -rn true >/dev/null 2>&1") != 0) {
    kzbench::MissingAnchor("onvif_discover_and_uris_20", "no network namespaces here");
    return kzbench::Finish();
  }
  // The fakes answer multicast: they run in a namespace of their own, with this program.
  const std::string self = argc > 0 ? argv[0] : "";
  const int st = std::system(("KZ_ONVIF_BENCH_INSIDE=1 unshare -rn " + self).c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1;
}
