// Helpers of the camera tests that play real streams: a camera with a view
// that measures what arrives, and the bounds of checks in builds slowed
// down by sanitizers.
#pragma once
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <vector>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/kztestpeers.h"

namespace kztest {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Bound of a stop: far below the network time-outs (10 s and more) a stuck
// wait would run into, far above what scheduling under load costs.
constexpr int64_t kStopBoundMs = 5000;

// Frames that arrived over the frames the source sent meanwhile (by the
// stamps the simulator draws into them), from the first arrival on.
inline double ArrivedShare(const std::vector<int64_t>& Stamps) {
  if (Stamps.size() < 2 || Stamps.back() <= Stamps.front()) return 0;
  return double(Stamps.size() - 1) / double(Stamps.back() - Stamps.front());
}

// Pumps the main thread for Ms milliseconds.
using kz::PumpFor;

// A camera playing a URL into a measuring view; stopped and waited for at the end.
struct TStreamRig {
  explicit TStreamRig(const kzcamsim::TKzCamSim* Sim = nullptr) : Probe(Sim) {
    Cam.RegisterCamView(&Probe);
    Cam.OnEndVideoStream = [this](kz::TComponent*, int32_t Status) { Ends.push_back(Status); };
    Cam.OnEndVideoFile = [this](kz::TComponent*, int32_t Status) { Ends.push_back(Status); };
    Cam.OnLoginFailed = [this](kz::TComponent*, const std::string&) { ++LoginFailed; };
  }
  ~TStreamRig() {
    Stop();
    Cam.UnRegisterCamView(&Probe);
  }
  void Play(const std::string& URL, const std::string& User = "", const std::string& Password = "") {
    Cam.SetURL(URL);
    Cam.SetUserName(User);
    Cam.SetUserPassword(Password);
    Cam.PlayVideoStream();
  }
  // Aborts and waits for the end report; the milliseconds that took.
  int64_t Stop() {
    const uint64_t t0 = kz::KzMGetTickCount();
    if (Cam.IsVideoPlaying()) {
      Cam.Abort();
      kz::PumpUntil([this] { return !Cam.IsVideoPlaying(); }, 10000);
    }
    return static_cast<int64_t>(kz::KzMGetTickCount() - t0);
  }
  bool WaitFrames(int64_t N, int Ms = 10000) {
    return kz::PumpUntil([&] { return Probe.Frames() >= N; }, Ms);
  }
  bool WaitEnd(int Ms = 10000) {
    return kz::PumpUntil([&] { return !Ends.empty(); }, Ms);
  }

  kz::TKzCamera Cam{nullptr};
  kzcamsim::TKzSimFrameProbe Probe;
  std::vector<int32_t> Ends;
  std::atomic<int> LoginFailed{0};
};

// Requests the simulator saw for Path (ignoring the query).
inline int CountRequests(const kzcamsim::TKzCamSim& Sim, const std::string& Path) {
  int n = 0;
  for (const std::string& r : Sim.Requests())
    if (r.substr(r.find(' ') + 1, Path.size()) == Path) ++n;
  return n;
}

// Resident memory of this process, bytes.
inline int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace kztest
