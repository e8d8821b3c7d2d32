// What every benchmark reports: each comparison of ours with its anchor is
// recorded under a name and printed once, when the benchmark program ends,
// as one line
//   RATIO <name> <ours> <anchor> <ratio> <unit>
// where ratio is our cost over the anchor's (time, CPU; for rates the
// anchor's rate over ours), so below 1 is faster than the anchor. An anchor
// that cannot run is recorded as missing, which fails the program.
#pragma once
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

namespace kzbench {

// User and system CPU seconds in U.
inline double CpuSecondsOf(const rusage& U) {
  return double(U.ru_utime.tv_sec + U.ru_stime.tv_sec) + double(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}
// CPU seconds so far of this process (RUSAGE_SELF), of its children waited
// for (RUSAGE_CHILDREN) or of the calling thread (RUSAGE_THREAD).
inline double CpuSeconds(int Who = RUSAGE_SELF) {
  rusage u{};
  getrusage(Who, &u);
  return CpuSecondsOf(u);
}
// CPU seconds of a shell command run to its end; -1 when it does not exit 0.
inline double CommandCpuSeconds(const std::string& Cmd) {
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", Cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage u{};
  if (pid < 0 || wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return CpuSecondsOf(u);
}

struct TRatio {
  double Ours = -1, Anchor = -1;
  std::string Unit;
  bool Rate = false;  // higher is better
};

inline std::map<std::string, TRatio>& Ratios() {
  static std::map<std::string, TRatio> r;
  return r;
}
inline std::map<std::string, std::string>& Missing() {
  static std::map<std::string, std::string> m;
  return m;
}

// Our side and the anchor's side of Name, recorded where each is measured.
inline void Ours(const std::string& Name, double Value, const std::string& Unit, bool Rate = false) {
  TRatio& r = Ratios()[Name];
  r.Ours = Value;
  r.Unit = Unit;
  r.Rate = Rate;
}
inline void Anchor(const std::string& Name, double Value) { Ratios()[Name].Anchor = Value; }
// Both sides as costs (lower is better: ms, CPU seconds, ...).
inline void Cost(const std::string& Name, double OursValue, double AnchorValue, const std::string& Unit) {
  Ours(Name, OursValue, Unit);
  Anchor(Name, AnchorValue);
}
// Both sides as rates (higher is better: frames/s, ...).
inline void Rate(const std::string& Name, double OursValue, double AnchorValue, const std::string& Unit) {
  Ours(Name, OursValue, Unit, true);
  Anchor(Name, AnchorValue);
}
// The anchor of Name could not run (What says which and why).
inline void MissingAnchor(const std::string& Name, const std::string& What) { Missing()[Name] = What; }

// Prints the RATIO lines and the missing anchors (a side never measured
// counts as missing); the program's exit code.
inline int Finish() {
  std::fflush(stdout);
  for (const auto& [name, r] : Ratios()) {
    if (r.Ours <= 0 || r.Anchor <= 0) {
      if (!Missing().count(name)) Missing()[name] = r.Ours <= 0 ? "our side was not measured" : "no anchor measured";
      continue;
    }
    const double ratio = r.Rate ? r.Anchor / r.Ours : r.Ours / r.Anchor;
    std::printf("RATIO %s %.6g %.6g %.3f %s\n", name.c_str(), r.Ours, r.Anchor, ratio, r.Unit.c_str());
  }
  for (const auto& [name, what] : Missing()) std::printf("MISSING %s %s\n", name.c_str(), what.c_str());
  std::fflush(stdout);
  return Missing().empty() ? 0 : 1;
}

}  // namespace kzbench
