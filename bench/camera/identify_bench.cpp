// Identification of fifty fakes in mixed vendor modes, each on its own
// address of 127.0.0.0/26: `kztool identify --scan` (32 at once) against
// curl making the same requests (the targets the fakes logged during our
// run) with --parallel --parallel-max 32, same run. Wall time and CPU of
// the requesting process.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "apps/kzcamsim/kzcamsim_vendor.h"
#include "bench/kzbench.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/camera/vendor_rig.h"
#include "tests/kztestpeers.h"

using namespace kz;
using namespace kztest;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int kFakes = 50;
constexpr int kRounds = 5;

struct TCost {
  double Cpu = 0, Wall = 0;  // seconds
};

// Runs Argv to its end; its CPU and wall time. False unless it exits with Want.
bool Run(const std::vector<std::string>& Argv, int Want, TCost& Cost) {
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const std::string& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage u{};
  if (pid < 0 || wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != Want) return false;
  Cost.Wall += std::chrono::duration<double>(Clock::now() - t0).count();
  Cost.Cpu += kzbench::CpuSecondsOf(u);
  return true;
}
}  // namespace

int main() {
  SetMainThread();
  const char* const name = "identify_scan_50";
  struct TMode {
    const char* Vendor;
    const char* Admin;
  };
  const TMode modes[] = {{"foscam", "2"}, {"foscam-hd", "2"}, {"panasonic", "1"},
                         {"dlink", "admin"}, {"axis", "admin"}, {"mobotix", "admin"}};
  const uint16_t port = FreePort();
  std::vector<std::unique_ptr<kzcamsim::TKzCamSim>> fakes;
  for (int i = 0; i < kFakes; ++i) {
    kzcamsim::TKzSimOptions o = VendorOptions(modes[i % 6].Vendor, {std::string("admin:admin:") + modes[i % 6].Admin});
    o.BindAddress = "127.0.0." + std::to_string(i + 2);
    o.Port = port;
    fakes.push_back(std::make_unique<kzcamsim::TKzCamSim>(o));
    std::string error;
    if (!fakes.back()->Start(&error)) {
      kzbench::MissingAnchor(name, "kzcamsim did not start: " + error);
      return kzbench::Finish();
    }
  }
  const std::vector<std::string> ours = {AppPath("kztool"), "identify", "--scan", "127.0.0.0/26", "--ports",
                                         std::to_string(port), "--parallel", "32", "--send-credentials",
                                         "--user", "admin", "--password", "admin"};
  TCost warm, our;
  if (!Run(ours, 0, warm)) {
    std::printf("kztool identify --scan failed\n");
    return 1;
  }
  // The requests of that round, as the fakes logged them.
  TTempDir dir;
  const std::string config = dir / "curl.conf";
  size_t requests = 0;
  {
    std::ofstream out(config);
    out << "silent\nbasic\nuser = \"admin:admin\"\nmax-time = 5\n";
    for (auto& f : fakes) {
      for (const std::string& line : f->Requests()) {
        const std::string target = line.substr(line.find(' ') + 1);
        out << "url = \"http://" << f->Options().BindAddress << ":" << port << target << "\"\noutput = \"/dev/null\"\n";
        ++requests;
      }
    }
  }
  for (int r = 0; r < kRounds; ++r)
    if (!Run(ours, 0, our)) {
      std::printf("kztool identify --scan failed\n");
      return 1;
    }
  TCost curl;
  bool curlRan = HaveProgram("curl");
  for (int r = 0; curlRan && r < kRounds; ++r)
    curlRan = Run({"curl", "--parallel", "--parallel-max", "32", "-K", config}, 0, curl);
  if (!curlRan) {
    kzbench::MissingAnchor(name, "curl --parallel did not run");
    return kzbench::Finish();
  }
  kzbench::Cost(std::string(name) + "/wall", our.Wall * 1e3 / kRounds, curl.Wall * 1e3 / kRounds, "ms");
  kzbench::Cost(std::string(name) + "/cpu", our.Cpu * 1e3 / kRounds, curl.Cpu * 1e3 / kRounds, "ms");
  std::printf("%s: %zu requests a scan | ours wall %.1f cpu %.1f ms | curl wall %.1f cpu %.1f ms | ratio wall %.2f "
              "cpu %.2f\n",
              name, requests, our.Wall * 1e3 / kRounds, our.Cpu * 1e3 / kRounds, curl.Wall * 1e3 / kRounds,
              curl.Cpu * 1e3 / kRounds, our.Wall / std::max(curl.Wall, 1e-9), our.Cpu / std::max(curl.Cpu, 1e-9));
  return kzbench::Finish();
}
