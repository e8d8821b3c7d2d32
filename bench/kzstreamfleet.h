// Many live streams measured together, ours against a set of ffmpeg
// processes: frames per second of each stream and the CPU share of the
// whole side over one window after a warm-up. Used by the benchmarks that
// compare cameras in this process with one ffmpeg process per stream.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "bench/kzbench.h"
#include "apps/kzcamsim/kzcamsim_lib.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kzbench {

struct TKzFleetSide {
  std::vector<double> Fps;  // per stream
  double CpuShare = 0;      // of one core
  double Min() const { return Fps.empty() ? 0 : *std::min_element(Fps.begin(), Fps.end()); }
  double Mean() const { return Fps.empty() ? 0 : std::accumulate(Fps.begin(), Fps.end(), 0.0) / Fps.size(); }
};

// User and system CPU seconds of another process so far (0 once it is gone).
inline double KzProcessCpuSeconds(pid_t Pid) {
  std::ifstream f("/proc/" + std::to_string(Pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(f)), {});
  if (text.empty()) return 0;
  std::istringstream in(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && in >> field; ++i)
    if (i == 14 || i == 15) ticks += std::stod(field);
  return ticks / double(sysconf(_SC_CLK_TCK));
}

// The last "frame=N" of an ffmpeg -progress file.
// A program built beside the benchmarks (build/apps/Name).
inline std::string AppPath(const std::string& Name) {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "apps" / Name).string();
}

// A child process with its stdout in a pipe (or to /dev/null).
struct TChild {
  pid_t Pid = -1;
  FILE* Out = nullptr;
  bool Start(const std::vector<std::string>& Argv, bool ReadOut) {
    std::vector<char*> args;
    for (const std::string& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (ReadOut && pipe(fds) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (ReadOut) {
      posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
      posix_spawn_file_actions_addclose(&fa, fds[0]);
    } else {
      posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawnp(&Pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (ReadOut) {
      close(fds[1]);
      Out = fdopen(fds[0], "r");
    }
    return rc == 0;
  }
  double Cpu() const { return kzbench::KzProcessCpuSeconds(Pid); }
  void Stop() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
      Pid = -1;
    }
    if (Out) fclose(Out), Out = nullptr;
  }
  ~TChild() { Stop(); }
};

inline int64_t KzProgressFrames(const std::string& File) {
  std::ifstream f(File);
  std::string line;
  int64_t frames = 0;
  while (std::getline(f, line))
    if (line.rfind("frame=", 0) == 0) frames = std::stoll(line.substr(6));
  return frames;
}

// Waits WarmUpMs, then measures Streams streams over WindowMs: Frames(i) is
// stream i's frame count so far, Cpu() the side's CPU seconds so far. The
// main loop is served all the while.
inline TKzFleetSide KzMeasureFleet(size_t Streams, int WarmUpMs, int WindowMs,
                                   const std::function<int64_t(size_t)>& Frames, const std::function<double()>& Cpu) {
  using Clock = std::chrono::steady_clock;
  TKzFleetSide side;
  kz::PumpUntil([] { return false; }, WarmUpMs);
  std::vector<int64_t> start;
  for (size_t i = 0; i < Streams; ++i) start.push_back(Frames(i));
  const double cpu0 = Cpu();
  const auto t0 = Clock::now();
  kz::PumpUntil([] { return false; }, WindowMs);
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  side.CpuShare = (Cpu() - cpu0) / wall;
  for (size_t i = 0; i < Streams; ++i) side.Fps.push_back((Frames(i) - start[i]) / wall);
  return side;
}

// One TKzCamera per URL in this process, each counted by a frame probe;
// Configure may set a camera up before it plays.
inline TKzFleetSide KzRunCameraFleet(const std::vector<std::string>& URLs, int WarmUpMs, int WindowMs,
                                     const std::function<void(kz::TKzCamera&)>& Configure = {}) {
  std::vector<std::unique_ptr<kz::TKzCamera>> cams;
  std::vector<std::unique_ptr<kzcamsim::TKzSimFrameProbe>> probes;
  for (const std::string& url : URLs) {
    cams.push_back(std::make_unique<kz::TKzCamera>(nullptr));
    probes.push_back(std::make_unique<kzcamsim::TKzSimFrameProbe>());
    cams.back()->RegisterCamView(probes.back().get());
    if (Configure) Configure(*cams.back());
    cams.back()->SetURL(url);
    cams.back()->PlayVideoStream();
  }
  const TKzFleetSide side = KzMeasureFleet(
      URLs.size(), WarmUpMs, WindowMs, [&](size_t i) { return probes[i]->Frames(); }, [] { return CpuSeconds(); });
  for (auto& c : cams) c->Abort();
  kz::PumpUntil([&] { return std::none_of(cams.begin(), cams.end(), [](auto& c) { return c->IsVideoPlaying(); }); },
                5000);
  for (size_t i = 0; i < cams.size(); ++i) cams[i]->UnRegisterCamView(probes[i].get());
  return side;
}

}  // namespace kzbench
