// kzcamsim: a synthetic network camera on the command line. See
// kzcamsim_lib.h for what it serves.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kzcamsim;

namespace {
std::atomic<bool> gStop{false};
void OnSignal(int) { gStop = true; }

const char* const kUsage =
    "usage: kzcamsim [OPTIONS]\n"
    "  --port P            first port (0: a free one; default 8554)\n"
    "  --ports N           number of ports showing the same picture (default 1)\n"
    "  --bind ADDRESS      address to listen on (default 127.0.0.1)\n"
    "  --size WxH          picture size (default 640x480)\n"
    "  --fps F             frame rate (default 25)\n"
    "  --quality Q         JPEG quality 1..100 (default 80)\n"
    "  --auth none|basic|digest, --user U, --password P, --realm R\n"
    "  --chunked           chunked transfer coding for the stream\n"
    "  --max-clients N     at most N streams at once; more get 503 Service Unavailable\n"
    "  --close-after N     cut each stream connection in the middle of frame N+1\n"
    "  --garbage-every K   garbage bytes before every K-th frame\n"
    "  --truncate-every K  send only half of every K-th frame\n"
    "  --corrupt-every K   every K-th frame cannot be decoded\n"
    "  --stall-after N --stall-ms MS   pause each stream once after N frames\n"
    "  --seconds S         stop after S seconds (default: run until interrupted)\n"
    "  --quiet             no statistics lines\n"
    "Serves /video.mjpg (Motion-JPEG), /image.jpg and /still/* (one picture).\n";

int Fail(const std::string& Text) {
  std::fprintf(stderr, "kzcamsim: %s\n%s", Text.c_str(), kUsage);
  return 2;
}

bool ToInt(const std::string& S, int64_t Min, int64_t Max, int32_t& Out) {
  char* end = nullptr;
  const long long v = std::strtoll(S.c_str(), &end, 10);
  if (S.empty() || *end != '\0' || v < Min || v > Max) return false;
  Out = static_cast<int32_t>(v);
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  kz::SetMainThread();
  TKzSimOptions o;
  o.Port = 8554;
  double seconds = 0;
  bool quiet = false;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--chunked") {
      o.Chunked = true;
      continue;
    }
    if (a == "--quiet") {
      quiet = true;
      continue;
    }
    if (i + 1 >= args.size()) return Fail("missing value after " + a);
    const std::string& v = args[++i];
    int32_t n = 0;
    if (a == "--port") {
      if (!ToInt(v, 0, 65535, n)) return Fail("bad port " + v);
      o.Port = static_cast<uint16_t>(n);
    } else if (a == "--ports") {
      if (!ToInt(v, 1, 256, o.PortCount)) return Fail("bad port count " + v);
    } else if (a == "--bind") {
      o.BindAddress = v;
    } else if (a == "--size") {
      const size_t x = v.find('x');
      if (x == std::string::npos || !ToInt(v.substr(0, x), 16, 8192, o.Width) ||
          !ToInt(v.substr(x + 1), 16, 8192, o.Height))
        return Fail("bad size " + v);
    } else if (a == "--fps") {
      o.FramePerSec = std::atof(v.c_str());
      if (o.FramePerSec <= 0 || o.FramePerSec > 1000) return Fail("bad frame rate " + v);
    } else if (a == "--max-clients") {
      if (!ToInt(v, 0, 100000, o.MaxClients)) return Fail("bad client count " + v);
    } else if (a == "--quality") {
      if (!ToInt(v, 1, 100, o.Quality)) return Fail("bad quality " + v);
    } else if (a == "--auth") {
      if (v == "none") o.Auth = TKzSimAuth::kzsaNone;
      else if (v == "basic") o.Auth = TKzSimAuth::kzsaBasic;
      else if (v == "digest") o.Auth = TKzSimAuth::kzsaDigest;
      else return Fail("--auth takes none, basic or digest");
    } else if (a == "--user") {
      o.UserName = v;
    } else if (a == "--password") {
      o.Password = v;
    } else if (a == "--realm") {
      o.Realm = v;
    } else if (a == "--close-after") {
      if (!ToInt(v, 0, 1 << 30, o.Faults.CloseAfterFrames)) return Fail("bad count " + v);
    } else if (a == "--garbage-every") {
      if (!ToInt(v, 0, 1 << 30, o.Faults.GarbageEvery)) return Fail("bad count " + v);
    } else if (a == "--truncate-every") {
      if (!ToInt(v, 0, 1 << 30, o.Faults.TruncateEvery)) return Fail("bad count " + v);
    } else if (a == "--corrupt-every") {
      if (!ToInt(v, 0, 1 << 30, o.Faults.CorruptEvery)) return Fail("bad count " + v);
    } else if (a == "--stall-after") {
      if (!ToInt(v, 0, 1 << 30, o.Faults.StallAfterFrames)) return Fail("bad count " + v);
    } else if (a == "--stall-ms") {
      if (!ToInt(v, 0, 3600000, o.Faults.StallMs)) return Fail("bad time " + v);
    } else if (a == "--seconds") {
      seconds = std::atof(v.c_str());
    } else {
      return Fail("unknown option " + a);
    }
  }

  TKzCamSim sim(o);
  std::string error;
  if (!sim.Start(&error)) {
    std::fprintf(stderr, "kzcamsim: %s\n", error.c_str());
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  for (int32_t i = 0; i < o.PortCount; ++i) std::printf("kzcamsim: streaming on %s\n", sim.StreamURL(i).c_str());
  std::printf("kzcamsim: %dx%d at %.3g fps, still pictures at %s\n", o.Width, o.Height, o.FramePerSec,
              sim.StillURL().c_str());
  std::fflush(stdout);

  const auto start = std::chrono::steady_clock::now();
  auto lastReport = start;
  while (!gStop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto now = std::chrono::steady_clock::now();
    if (seconds > 0 && now - start >= std::chrono::duration<double>(seconds)) break;
    if (!quiet && now - lastReport >= std::chrono::seconds(5)) {
      lastReport = now;
      const TKzSimStats s = sim.Stats();
      std::printf("kzcamsim: %d streaming, %llu frames rendered, %llu sent, %.1f MB, %llu connections\n", s.Streaming,
                  static_cast<unsigned long long>(s.FramesRendered), static_cast<unsigned long long>(s.FramesSent),
                  s.BytesSent / 1e6, static_cast<unsigned long long>(s.Connections));
      std::fflush(stdout);
    }
  }
  sim.Stop();
  return 0;
}
