// Camera commands against kzcamsim (a separate process) under Digest: 1000
// MultiExecute in wait mode and 500 move/stop pairs, ours against curl
// --digest fetching the same URLs in one kept-alive process, same run. CPU
// time of the requesting side (ours: this process; curl: its process) and
// wall time.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "bench/kzbench.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/camera/camera_testvendor.h"
#include "tests/kztestpeers.h"

using namespace kz;
using namespace kztest;
using Clock = std::chrono::steady_clock;

namespace {
struct TCost {
  double Cpu = 0, Wall = 0;  // seconds
};

template <typename F>
TCost Measure(F&& Fn) {
  rusage a{}, b{};
  getrusage(RUSAGE_SELF, &a);
  const auto t0 = Clock::now();
  Fn();
  TCost c;
  c.Wall = std::chrono::duration<double>(Clock::now() - t0).count();
  getrusage(RUSAGE_SELF, &b);
  c.Cpu = kzbench::CpuSecondsOf(b) - kzbench::CpuSecondsOf(a);
  return c;
}

// curl fetching URLs in one process (one kept-alive connection); false when it failed.
bool Curl(const TTempDir& Dir, const std::vector<std::string>& URLs, TCost& Cost) {
  const std::string config = Dir / "curl.conf";
  {
    std::ofstream out(config);
    out << "silent\ndigest\nuser = \"admin:admin\"\n";
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

void Report(const std::string& Name, const TCost& Ours, const TCost& Anchor) {
  kzbench::Cost(Name + "/cpu", Ours.Cpu * 1e3, Anchor.Cpu * 1e3, "ms");
  kzbench::Cost(Name + "/wall", Ours.Wall * 1e3, Anchor.Wall * 1e3, "ms");
  std::printf("%-28s ours cpu %.0f ms wall %.0f ms | curl cpu %.0f ms wall %.0f ms\n", Name.c_str(), Ours.Cpu * 1e3,
              Ours.Wall * 1e3, Anchor.Cpu * 1e3, Anchor.Wall * 1e3);
}
}  // namespace

int main() {
  constexpr int kCommands = 1000, kMoves = 500;
  const char* names[] = {"camera_multiexecute_1000", "camera_move_stop_500"};
  TTempDir dir;
  const uint16_t port = FreePort();
  TPeer sim;
  if (!sim.Start({AppPath("kzcamsim"), "--port", std::to_string(port), "--auth", "digest", "--fps", "1", "--size",
                  "160x120", "--quiet"},
                 dir / "sim.log") ||
      !sim.WaitListening(port, 10000)) {
    for (const char* n : names) kzbench::MissingAnchor(n, "kzcamsim did not start");
    return kzbench::Finish();
  }
  TTestVendor vendor;
  TTestVendorScope scope(vendor);
  TKzCamera cam(nullptr);
  UseTestVendor(cam, "127.0.0.1", port, "admin", "admin", TKzSendMode::kzsmWait);

  std::vector<std::string> commands, moves;
  for (int i = 0; i < kCommands; ++i) commands.push_back(vendor.URL(cam, "bright", "value=" + std::to_string(i % 256)));
  for (int i = 0; i < kMoves; ++i) {
    moves.push_back(vendor.URL(cam, "left"));
    moves.push_back(vendor.URL(cam, "stopleft"));
  }
  // Warm both sides up (connection, challenge).
  cam.MultiExecute(commands[0], TKzCamCommand::kzcmdBrightness);
  int failed = 0;
  const TCost oursCommands = Measure([&] {
    for (const std::string& u : commands) failed += cam.MultiExecute(u, TKzCamCommand::kzcmdBrightness) ? 0 : 1;
  });
  const TCost oursMoves = Measure([&] {
    for (int i = 0; i < kMoves; ++i) failed += (cam.MoveLeft() && cam.MoveLeftStop()) ? 0 : 1;
  });
  if (failed) std::printf("%d commands failed\n", failed);

  TCost curlCommands, curlMoves;
  if (!HaveProgram("curl") || !Curl(dir, commands, curlCommands) || !Curl(dir, moves, curlMoves)) {
    for (const char* n : names) kzbench::MissingAnchor(n, "curl did not run");
    return kzbench::Finish();
  }
  Report(names[0], oursCommands, curlCommands);
  Report(names[1], oursMoves, curlMoves);
  KzInetShutdown();
  return failed ? 1 : kzbench::Finish();
}
