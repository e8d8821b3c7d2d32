// The vendor interfaces against kzcamsim (a separate process) in each vendor
// mode: 200 rounds of "read every group the vendor has, write one", ours
// against curl fetching the same request targets (recorded from one round
// of ours) in one kept-alive process with the same authentication, same
// run. CPU time of the requesting side and wall time, ms per round.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "apps/kzcamsim/kzcamsim_vendor.h"
#include "bench/kzbench.h"
#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzIPCameraAPI.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/camera/vendor_rig.h"
#include "tests/kztestpeers.h"

using namespace kz;
using namespace kztest;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int kRounds = 200;
struct TCost {
  double Cpu = 0, Wall = 0;  // seconds
};

// The write of a round: a group, or (kzcpNone) property Prop set to Value.
struct TWrite {
  TKzCamPropertyGroup Group;
  TKzCamProperty Prop;
  const char* Value;
};

// One round: every group with a read, then one write.
int Round(TKzCamera& Cam, const TWrite& Write) {
  int failed = 0;
  for (uint8_t g = static_cast<uint8_t>(TKzCamPropertyGroup::kzcpDateTimeParameter);
       g <= static_cast<uint8_t>(TKzCamPropertyGroup::kzcpUsers); ++g)
    if (TKzIPCameraAPI::GetGetFunc(Cam, static_cast<TKzCamPropertyGroup>(g)))
      failed += TKzIPCameraAPI::GetFromCamera(Cam, static_cast<TKzCamPropertyGroup>(g)) ? 0 : 1;
  const std::string url = Write.Group == TKzCamPropertyGroup::kzcpNone
                              ? TKzIPCameraAPI::SetPropURL(Cam, Write.Prop, Write.Value)
                              : TKzIPCameraAPI::SetToCameraURL(Cam, Write.Group, 0);
  failed += Cam.ExecuteURL(url) ? 0 : 1;
  return failed;
}

bool Curl(const TTempDir& Dir, const std::vector<std::string>& URLs, bool Basic, TCost& Cost) {
  const std::string config = Dir / "curl.conf";
  {
    std::ofstream out(config);
    out << "silent\n" << (Basic ? "basic\nuser = \"admin:pw\"\n" : "");
    for (int r = 0; r < kRounds; ++r)
      for (const std::string& u : URLs) out << "url = \"" << u << "\"\noutput = \"/dev/null\"\n";
  }
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execlp("curl", "curl", "-K", config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage u{};
  if (pid < 0 || wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  Cost.Wall = std::chrono::duration<double>(Clock::now() - t0).count();
  Cost.Cpu = kzbench::CpuSecondsOf(u);
  return true;
}
}  // namespace

int main() {
  SetMainThread();
  struct TVendor {
    const char* Name;
    const char* Level;
    TWrite Write;
  };
  using G = TKzCamPropertyGroup;
  using P = TKzCamProperty;
  const TVendor vendors[] = {{"foscam", "2", {G::kzcpNetwork, P::kzcp_Switch, ""}},
                             {"foscam-hd", "2", {G::kzcpNetwork, P::kzcp_Switch, ""}},
                             {"panasonic", "1", {G::kzcpNone, P::kzcp_Brightness, "2"}},
                             {"dlink", "admin", {G::kzcpNone, P::kzcp_dmAlias, "hall"}},
                             {"axis", "admin", {G::kzcpNone, P::kzcp_Brightness, "5"}},
                             {"mobotix", "admin", {G::kzcpNone, P::kzcp_Brightness, "5"}}};
  TTempDir dir;
  int failed = 0;
  for (const TVendor& v : vendors) {
    const std::string name = std::string("vendor_rounds_") + v.Name;
    // The targets of one round, recorded by a fake in this process.
    std::vector<std::string> targets;
    {
      TVendorRig rec(v.Name, {std::string("admin:pw:") + v.Level});
      if (!rec.Started) {
        kzbench::MissingAnchor(name, rec.Error);
        continue;
      }
      rec.As("admin", "pw", TKzUserAccess::uaAdmin);
      Round(rec.Cam, v.Write);
      targets = rec.Targets();
    }
    const uint16_t port = FreePort();
    TPeer sim;
    if (!sim.Start({AppPath("kzcamsim"), "--port", std::to_string(port), "--vendor", v.Name, "--user",
                    std::string("admin:pw:") + v.Level, "--fps", "1", "--size", "160x120", "--quiet"},
                   dir / "sim.log") ||
        !sim.WaitListening(port, 10000)) {
      kzbench::MissingAnchor(name, "kzcamsim did not start");
      continue;
    }
    TKzCamera cam(nullptr);
    TVendorRig setup(v.Name, {});  // only for its camera settings
    cam.SetCameraHost("127.0.0.1");
    cam.SetCameraPort(port);
    cam.SetIPCameraTypes(setup.Cam.IPCameraTypes());
    cam.DoSetProtocolVersion(setup.Cam.ProtocolVersion());
    cam.SetUserName("admin");
    cam.SetUserPassword("pw");
    cam.DoSetUserAccess(TKzUserAccess::uaAdmin);
    cam.SetCommandMode(TKzSendMode::kzsmWait);
    failed += Round(cam, v.Write);  // warm up
    rusage a{}, b{};
    getrusage(RUSAGE_SELF, &a);
    const auto t0 = Clock::now();
    for (int r = 0; r < kRounds; ++r) failed += Round(cam, v.Write);
    TCost ours;
    ours.Wall = std::chrono::duration<double>(Clock::now() - t0).count();
    getrusage(RUSAGE_SELF, &b);
    ours.Cpu = kzbench::CpuSecondsOf(b) - kzbench::CpuSecondsOf(a);
    std::vector<std::string> urls;
    for (const std::string& t : targets) urls.push_back("http://127.0.0.1:" + std::to_string(port) + t);
    TCost curl;
    const bool basic = std::string(v.Name).rfind("foscam", 0) != 0;
    if (!HaveProgram("curl") || !Curl(dir, urls, basic, curl)) {
      kzbench::MissingAnchor(name, "curl did not run");
      continue;
    }
    kzbench::Cost(name + "/cpu", ours.Cpu * 1e3 / kRounds, curl.Cpu * 1e3 / kRounds, "ms/round");
    kzbench::Cost(name + "/wall", ours.Wall * 1e3 / kRounds, curl.Wall * 1e3 / kRounds, "ms/round");
    std::printf("%-26s %zu requests a round: ours cpu %.3f wall %.3f ms | curl cpu %.3f wall %.3f ms | ratio cpu %.2f "
                "wall %.2f\n",
                name.c_str(), targets.size(), ours.Cpu * 1e3 / kRounds, ours.Wall * 1e3 / kRounds,
                curl.Cpu * 1e3 / kRounds, curl.Wall * 1e3 / kRounds, ours.Cpu / std::max(curl.Cpu, 1e-9),
                ours.Wall / std::max(curl.Wall, 1e-9));
  }
  if (failed) std::printf("%d requests failed\n", failed);
  KzInetShutdown();
  return failed ? 1 : kzbench::Finish();
}
