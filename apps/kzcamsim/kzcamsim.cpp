// kzcamsim: a synthetic network camera on the command line. See
// kzcamsim_lib.h for what it serves. It runs until Ctrl-C, SIGTERM or
// --seconds, and then exits 0.
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappoptions.h"
#include "apps/kzcamsim/kzcamsim_lib.h"
#include "apps/kzcamsim/kzcamsim_onvif.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kzcamsim;
using namespace kzapp;

namespace {
const TKzOption kOptions[] = {
    {"--port", "P", "first port (0: a free one; default 8554)"},
    {"--ports", "N", "number of ports showing the same picture (default 1)"},
    {"--bind", "ADDRESS", "local address to listen on, 0.0.0.0 for all (default 127.0.0.1)"},
    {"--size", "WxH", "picture size (default 640x480)"},
    {"--fps", "F", "frame rate (default 25)"},
    {"--quality", "Q", "JPEG quality 1..100 (default 80)"},
    {"--auth", "KIND", "none, basic or digest (default none)"},
    {"--user", "U", "user name the camera accepts (default admin); with --vendor NAME:PASSWORD:LEVEL, repeatable"},
    {"--vendor", "V", "answer a maker's commands: foscam, foscam-hd, panasonic, dlink, axis or mobotix"},
    {"--model", "NAME", "the model the camera names (D-Link: picks its stream path)"},
    {"--onvif", nullptr, "also answer ONVIF (device, media, PTZ services and WS-Discovery)"},
    {"--rtsp-url", "URL", "ONVIF: the stream URI of the H.264 profile"},
    {"--onvif-user", "NAME:PASSWORD:LEVEL", "ONVIF: a user (admin, operator or user), repeatable"},
    {"--clock-offset", "S", "ONVIF: the camera's clock runs S seconds ahead (negative: behind)"},
    {"--discovery-port", "P", "ONVIF: WS-Discovery port (default 3702; 0: a free one)"},
    {"--password", "P", "password the camera accepts (default admin)"},
    {"--realm", "R", "realm of the authentication (default kzcamsim)"},
    {"--chunked", nullptr, "chunked transfer coding for the stream"},
    {"--close-after", "N", "cut each stream connection in the middle of frame N+1"},
    {"--garbage-every", "K", "garbage bytes before every K-th frame"},
    {"--truncate-every", "K", "send only half of every K-th frame"},
    {"--corrupt-every", "K", "every K-th frame cannot be decoded"},
    {"--stall-after", "N", "pause each stream once after N frames (for --stall-ms)"},
    {"--stall-ms", "MS", "length of that pause"},
    {"--max-clients", "N", "at most N streams at once; more get 503 Service Unavailable"},
    {"--motion", "A-B,...", "the disc moves only in frames A to B-1 of each range (default: always)"},
    {"--disc-radius", "R", "radius of the moving disc in pixels (default: a tenth of the shorter side)"},
    {"--seconds", "S", "stop after S seconds (default: run until interrupted)"},
    {"--quiet", nullptr, "no statistics lines"},
};

struct TKzIntOption {
  const char* Name;
  int32_t TKzSimOptions::*Field;
  double Min, Max;
};
struct TKzFaultOption {
  const char* Name;
  int32_t TKzSimFaults::*Field;
};
const TKzIntOption kIntOptions[] = {{"--ports", &TKzSimOptions::PortCount, 1, 256},
                                    {"--max-clients", &TKzSimOptions::MaxClients, 0, 1 << 20},
                                    {"--quality", &TKzSimOptions::Quality, 1, 100},
                                    {"--disc-radius", &TKzSimOptions::DiscRadius, 0, 4096}};
const TKzFaultOption kFaultOptions[] = {{"--close-after", &TKzSimFaults::CloseAfterFrames},
                                        {"--garbage-every", &TKzSimFaults::GarbageEvery},
                                        {"--truncate-every", &TKzSimFaults::TruncateEvery},
                                        {"--corrupt-every", &TKzSimFaults::CorruptEvery},
                                        {"--stall-after", &TKzSimFaults::StallAfterFrames},
                                        {"--stall-ms", &TKzSimFaults::StallMs}};

// The options of the command line in O; false with Args.Error set when one is wrong.
bool ReadOptions(TKzArgs& Args, TKzSimOptions& O, double& Seconds) {
  if (!Args.Positional.empty()) {
    Args.Error = "unexpected argument " + Args.Positional[0];
    return false;
  }
  double port = 8554, fps = O.FramePerSec;
  if (!Args.Number("--port", port, 0, 65535) || !Args.Number("--fps", fps, 0.001, 1000) ||
      !Args.Number("--seconds", Seconds, 0, 1e9))
    return false;
  O.Port = static_cast<uint16_t>(port);
  O.FramePerSec = fps;
  for (const TKzIntOption& o : kIntOptions) {
    double v = O.*o.Field;
    if (!Args.Number(o.Name, v, o.Min, o.Max)) return false;
    O.*o.Field = static_cast<int32_t>(v);
  }
  for (const TKzFaultOption& o : kFaultOptions) {
    double v = O.Faults.*o.Field;
    if (!Args.Number(o.Name, v, 0, 1 << 30)) return false;
    O.Faults.*o.Field = static_cast<int32_t>(v);
  }
  if (Args.Has("--size")) {
    const std::string v = Args.Get("--size");
    if (std::sscanf(v.c_str(), "%dx%d", &O.Width, &O.Height) != 2 || O.Width < 16 || O.Height < 16 ||
        O.Width > 8192 || O.Height > 8192) {
      Args.Error = "--size takes WxH, each from 16 to 8192";
      return false;
    }
  }
  if (Args.Has("--auth")) {
    const std::string v = Args.Get("--auth");
    if (v == "none") O.Auth = TKzSimAuth::kzsaNone;
    else if (v == "basic") O.Auth = TKzSimAuth::kzsaBasic;
    else if (v == "digest") O.Auth = TKzSimAuth::kzsaDigest;
    else {
      Args.Error = "--auth takes none, basic or digest";
      return false;
    }
  }
  O.BindAddress = Args.Get("--bind", O.BindAddress);
  O.Vendor = Args.Get("--vendor");
  O.Model = Args.Get("--model");
  if (!O.Vendor.empty() && Args.Repeated.count("--user"))
    O.VendorUsers = Args.Repeated.at("--user");
  else
    O.UserName = Args.Get("--user", O.UserName);
  O.Password = Args.Get("--password", O.Password);
  O.Realm = Args.Get("--realm", O.Realm);
  O.Chunked = Args.Has("--chunked");
  std::istringstream ranges(Args.Get("--motion"));
  for (std::string r; std::getline(ranges, r, ',');) {
    unsigned first = 0, last = 0;
    if (std::sscanf(r.c_str(), "%u-%u", &first, &last) != 2 || last <= first) {
      Args.Error = "--motion takes ranges A-B (B > A) separated by commas";
      return false;
    }
    O.MotionFrames.emplace_back(first, last);
  }
  O.Onvif = Args.Has("--onvif");
  O.RtspURL = Args.Get("--rtsp-url");
  if (Args.Repeated.count("--onvif-user")) O.OnvifUsers = Args.Repeated.at("--onvif-user");
  double offset = 0, discovery = O.DiscoveryPort;
  if (!Args.Number("--clock-offset", offset, -1e9, 1e9) || !Args.Number("--discovery-port", discovery, 0, 65535))
    return false;
  O.OnvifClockOffset = static_cast<int64_t>(offset);
  O.DiscoveryPort = static_cast<uint16_t>(discovery);
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  kz::SetMainThread();
  const std::string usage = KzUsageText("kzcamsim", "[OPTIONS]", kOptions,
                                        "Serves /video.mjpg (Motion-JPEG), /image.jpg and /still/* (one picture).\n");
  TKzArgs args = KzParseArgs(std::vector<std::string>(argv + 1, argv + argc), kOptions);
  if (const int rc = KzArgsOutcome(args, "kzcamsim", usage); rc >= 0) return rc;
  TKzSimOptions o;
  double seconds = 0;
  if (!ReadOptions(args, o, seconds)) return KzArgsOutcome(args, "kzcamsim", usage);
  const bool quiet = args.Has("--quiet");

  TKzCamSim sim(o);
  std::string error;
  if (!sim.Start(&error)) {
    KzErr("kzcamsim: %s\n", error.c_str());
    return kzExitFailed;
  }
  KzCatchStopSignals();
  for (int32_t i = 0; i < o.PortCount; ++i) KzOut("kzcamsim: streaming on %s\n", sim.StreamURL(i).c_str());
  KzOut("kzcamsim: %dx%d at %.3g fps, still pictures at %s\n", o.Width, o.Height, o.FramePerSec,
        sim.StillURL().c_str());
  if (sim.Onvif())
    KzOut("kzcamsim: ONVIF at %s, WS-Discovery on port %u\n", sim.URL("/onvif/device_service").c_str(),
          static_cast<unsigned>(sim.Onvif()->DiscoveryPort()));

  auto report = [&sim] {
    const TKzSimStats s = sim.Stats();
    KzOut("kzcamsim: %d streaming, %llu frames rendered, %llu sent, %.1f MB, %llu connections\n", s.Streaming,
          static_cast<unsigned long long>(s.FramesRendered), static_cast<unsigned long long>(s.FramesSent),
          s.BytesSent / 1e6, static_cast<unsigned long long>(s.Connections));
  };
  const auto start = std::chrono::steady_clock::now();
  auto lastReport = start;
  while (KzStopSignal() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto now = std::chrono::steady_clock::now();
    if (seconds > 0 && now - start >= std::chrono::duration<double>(seconds)) break;
    if (!quiet && now - lastReport >= std::chrono::seconds(5)) {
      lastReport = now;
      report();
    }
  }
  if (!quiet) report();  // the totals, for whoever counts what was served
  sim.Stop();
  return kzExitDone;
}
