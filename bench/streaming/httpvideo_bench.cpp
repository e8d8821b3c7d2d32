// One 640x480 25 fps source served as Motion-JPEG over HTTP to 1, 10 and 50
// clients on loopback, three ways, in the same run:
//   ours    TKzCamera plays the kzcamsim stream, TKzHttpVideoServer serves it;
//   ffmpeg  one "ffmpeg -i STREAM -f mpjpeg -listen 1" process per client;
//   gst     one gst-launch-1.0 "souphttpsrc ! multipartdemux ! jpegdec !
//           jpegenc ! multipartmux ! tcpserversink" for all clients.
// Each side decodes the camera's JPEG frames and encodes them again. The
// clients read in one thread of this process and count the parts; reported
// per side: delivered frames per second per client (lowest) and CPU per
// client (the side's CPU seconds over the window, without the clients',
// divided by the clients). Ratios: our CPU per client over each anchor's.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "bench/kzbench.h"
#include "bench/kzstreamfleet.h"
#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformPollSet.h"
#include "webserver/fmxMKzHttpVideoServer.h"

using namespace kz;
using kzbench::TChild;

namespace {

constexpr int kWarmUpMs = 3000;
constexpr int kWindowMs = 8000;

struct TResult {
  double MinFps = 0;
  double CpuPerClient = 0;  // CPU seconds per second of window, per client
};

uint32_t Loopback() { return PlatformLookupIPv4("127.0.0.1"); }

// Whether something listens on 127.0.0.1:Port, read from the kernel's table
// (a probe connection would take the one client an "ffmpeg -listen 1" serves).
bool Listening(uint16_t Port) {
  char want[32];
  std::snprintf(want, sizeof want, ":%04X ", Port);
  std::ifstream f("/proc/net/tcp");
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream in(line);
    std::string slot, local, remote, state;
    in >> slot >> local >> remote >> state;
    if (state == "0A" && (local + " ").find(want) != std::string::npos) return true;
  }
  return false;
}

bool WaitListening(uint16_t Port, int Ms) {
  for (int t = 0; t < Ms; t += 50) {
    if (Listening(Port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// Clients that read Motion-JPEG and count its parts (by "image/jpeg" lines).
class TClients {
public:
  // Connects to each port of Ports (Request sent first unless empty).
  TClients(const std::vector<uint16_t>& Ports, const std::string& Request) : FParts(Ports.size()) {
    for (uint16_t p : Ports) {
      TKzSocket s = PlatformSocketTCP();
      PlatformConnect(s, Loopback(), p);
      if (!Request.empty()) PlatformSend(s, Request.data(), int64_t(Request.size()));
      FSockets.push_back(s);
    }
    FThread = std::thread([this] { Read(); });
  }
  ~TClients() {
    FStop = true;
    FThread.join();
    for (TKzSocket& s : FSockets) PlatformCloseSocket(s);
  }
  std::vector<int64_t> Parts() const {
    std::vector<int64_t> p;
    for (const auto& n : FParts) p.push_back(n.load());
    return p;
  }
  double Cpu() const { return FCpu.load(); }

private:
  void Read() {
    std::vector<std::string> tails(FSockets.size());
    TKzPollSet poll;
    for (size_t i = 0; i < FSockets.size(); ++i) poll.Add(FSockets[i], i);
    std::vector<TKzPollSet::TEvent> ready;
    std::vector<char> b(1 << 16);
    while (!FStop) {
      poll.Wait(50, ready);
      for (const TKzPollSet::TEvent& e : ready) {
        const size_t i = static_cast<size_t>(e.Token);
        const int64_t n = PlatformRecv(FSockets[i], b.data(), int64_t(b.size()));
        if (n <= 0) continue;
        std::string& t = tails[i];
        t.append(b.data(), size_t(n));
        for (size_t p = t.find("image/jpeg\r\n"); p != std::string::npos; p = t.find("image/jpeg\r\n", p + 1)) ++FParts[i];
        t.erase(0, t.size() > 11 ? t.size() - 11 : 0);
      }
      FCpu.store(kzbench::CpuSeconds(RUSAGE_THREAD));
    }
  }
  std::vector<TKzSocket> FSockets;
  std::vector<std::atomic<int64_t>> FParts;
  std::atomic<bool> FStop{false};
  std::atomic<double> FCpu{0};
  std::thread FThread;
};

// Warms up, then measures the window: SideCpu() gives the side's CPU seconds so far.
TResult Measure(TClients& C, size_t N, const std::function<double()>& SideCpu, const std::function<void(int)>& Wait) {
  Wait(kWarmUpMs);
  const std::vector<int64_t> p0 = C.Parts();
  const double cpu0 = SideCpu();
  const auto t0 = std::chrono::steady_clock::now();
  Wait(kWindowMs);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const std::vector<int64_t> p1 = C.Parts();
  TResult r;
  r.MinFps = 1e9;
  for (size_t i = 0; i < N; ++i) r.MinFps = std::min(r.MinFps, double(p1[i] - p0[i]) / secs);
  r.CpuPerClient = std::max(0.0, SideCpu() - cpu0) / secs / double(N);
  return r;
}

TResult RunOurs(const std::string& URL, size_t N) {
  TKzCamera camera(nullptr);
  TKzHttpVideoServer server(nullptr);
  server.SetMaxClients(int32_t(N) + 8);
  server.Publish("cam", &camera);
  server.SetActive(true);
  camera.SetURL(URL);
  camera.SetDeviceType(TKzDeviceType::kzdtHTTP);
  camera.PlayVideoStream();
  TClients clients(std::vector<uint16_t>(N, server.ListeningPort()), "GET /video/cam.mjpg HTTP/1.0\r\n\r\n");
  // The process's CPU without the clients' reading thread.
  const TResult r = Measure(
      clients, N, [&] { return kzbench::CpuSeconds() - clients.Cpu(); },
      [](int Ms) { PumpUntil([] { return false; }, Ms); });
  server.SetActive(false);
  server.Unpublish("cam");
  camera.Abort();
  PumpUntil([&] { return !camera.IsVideoPlaying(); }, 5000);
  return r;
}

TResult RunFfmpeg(const std::string& URL, size_t N) {
  std::vector<std::unique_ptr<TChild>> children;
  std::vector<uint16_t> ports;
  for (size_t i = 0; i < N; ++i) {
    TKzSocket s = PlatformListenTCP(Loopback(), 0, 1);
    ports.push_back(PlatformSocketLocalPort(s));
    PlatformCloseSocket(s);
    auto c = std::make_unique<TChild>();
    c->Start({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", URL, "-c:v", "mjpeg", "-q:v", "5", "-f", "mpjpeg",
              "-listen", "1", "http://127.0.0.1:" + std::to_string(ports.back())},
             false);
    children.push_back(std::move(c));
  }
  for (uint16_t p : ports)
    if (!WaitListening(p, 60000)) return {};
  TClients clients(ports, "GET / HTTP/1.0\r\n\r\n");
  auto cpu = [&] {
    double s = 0;
    for (const auto& c : children) s += c->Cpu();
    return s;
  };
  const TResult r = Measure(clients, N, cpu, [](int Ms) { std::this_thread::sleep_for(std::chrono::milliseconds(Ms)); });
  children.clear();
  return r;
}

TResult RunGst(const std::string& URL, size_t N) {
  TKzSocket s = PlatformListenTCP(Loopback(), 0, 1);
  const uint16_t port = PlatformSocketLocalPort(s);
  PlatformCloseSocket(s);
  TChild gst;
  gst.Start({"gst-launch-1.0", "-q", "souphttpsrc", "location=" + URL, "is-live=true", "!", "multipartdemux", "!",
             "jpegdec", "!", "jpegenc", "quality=80", "!", "multipartmux", "!", "tcpserversink", "host=127.0.0.1",
             "port=" + std::to_string(port), "sync=false"},
            false);
  if (!WaitListening(port, 10000)) return {};
  TClients clients(std::vector<uint16_t>(N, port), "");
  const TResult r = Measure(clients, N, [&] { return gst.Cpu(); },
                            [](int Ms) { std::this_thread::sleep_for(std::chrono::milliseconds(Ms)); });
  gst.Stop();
  return r;
}

}  // namespace

int main() {
  SetMainThread();
  setpriority(PRIO_PROCESS, 0, 0);
  kzcamsim::TKzSimOptions so;
  so.Width = 640;
  so.Height = 480;
  so.FramePerSec = 25;
  kzcamsim::TKzCamSim sim(so);
  if (!sim.Start()) return std::fprintf(stderr, "kzcamsim did not start\n"), 1;
  const bool haveFfmpeg = std::system("command -v ffmpeg >/dev/null 2>&1") == 0;
  const bool haveGst = std::system("command -v gst-launch-1.0 >/dev/null 2>&1") == 0;
  std::printf("one 640x480 25 fps source served as Motion-JPEG to N clients on loopback (%u cores)\n"
              "  N   side    fps/client (lowest)   CPU per client (%% of a core)\n",
              std::thread::hardware_concurrency());
  // CPU of the whole side with one client and with fifty: what a client adds.
  double total[3][2] = {};  // [side][1 or 50 clients]
  for (size_t n : {size_t(1), size_t(10), size_t(50)}) {
    const int at = n == 1 ? 0 : n == 50 ? 1 : -1;
    const TResult ours = RunOurs(sim.StreamURL(), n);
    if (at >= 0) total[0][at] = ours.CpuPerClient * double(n);
    std::printf("%3zu   ours    %6.1f                %7.2f\n", n, ours.MinFps, 100 * ours.CpuPerClient);
    const std::string name = "httpvideo_" + std::to_string(n) + "_clients";
    kzbench::Ours(name + "_cpu_vs_ffmpeg", ours.CpuPerClient, "core/client");
    kzbench::Ours(name + "_cpu_vs_gst", ours.CpuPerClient, "core/client");
    kzbench::Ours(name + "_min_fps", ours.MinFps, "fps", true);
    if (haveFfmpeg) {
      const TResult ff = RunFfmpeg(sim.StreamURL(), n);
      if (at >= 0) total[1][at] = ff.CpuPerClient * double(n);
      std::printf("%3zu   ffmpeg  %6.1f                %7.2f\n", n, ff.MinFps, 100 * ff.CpuPerClient);
      kzbench::Anchor(name + "_cpu_vs_ffmpeg", ff.CpuPerClient);
      kzbench::Anchor(name + "_min_fps", ff.MinFps);
    } else {
      kzbench::MissingAnchor(name + "_cpu_vs_ffmpeg", "ffmpeg");
    }
    if (haveGst) {
      const TResult g = RunGst(sim.StreamURL(), n);
      if (at >= 0) total[2][at] = g.CpuPerClient * double(n);
      std::printf("%3zu   gst     %6.1f                %7.2f\n", n, g.MinFps, 100 * g.CpuPerClient);
      kzbench::Anchor(name + "_cpu_vs_gst", g.CpuPerClient);
    } else {
      kzbench::MissingAnchor(name + "_cpu_vs_gst", "gst-launch-1.0");
    }
  }
  const double added[3] = {(total[0][1] - total[0][0]) / 49, (total[1][1] - total[1][0]) / 49,
                           (total[2][1] - total[2][0]) / 49};
  std::printf("CPU per added client (%% of a core): ours %.3f, ffmpeg %.3f, gst %.3f\n", 100 * added[0],
              100 * added[1], 100 * added[2]);
  if (haveFfmpeg) kzbench::Cost("httpvideo_cpu_per_added_client_vs_ffmpeg", added[0], added[1], "core/client");
  if (haveGst) kzbench::Cost("httpvideo_cpu_per_added_client_vs_gst", added[0], added[2], "core/client");
  KzInetShutdown();
  sim.Stop();
  return kzbench::Finish();
}
