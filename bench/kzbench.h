// What every benchmark reports: each comparison of ours with its anchor is
// recorded under a name and printed once, when the benchmark program ends,
// as one line
//   RATIO <name> <ours> <anchor> <ratio> <unit>
// where ratio is our cost over the anchor's (time, CPU; for rates the
// anchor's rate over ours), so below 1 is faster than the anchor. An anchor
// that cannot run is recorded as missing, which fails the program.
#pragma once
#include <cstdio>
#include <map>
#include <string>

namespace kzbench {

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
