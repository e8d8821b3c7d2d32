// kztool run as a user runs it (stdin empty, both outputs caught), and the
// address of a fake on its command line.
#pragma once
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "tests/kztestpeers.h"

namespace kztest {

struct TToolRun {
  int Exit = -1;
  std::string Out;  // stdout and stderr together
};

inline TToolRun RunKztool(const TTempDir& Dir, const std::string& Args) {
  const std::string out = Dir / "run.out";
  const int st = std::system((AppPath("kztool") + " " + Args + " >" + out + " 2>&1 </dev/null").c_str());
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, ReadFile(out)};
}

// "127.0.0.1:PORT" of Sim's first port.
inline std::string AddressOf(const kzcamsim::TKzCamSim& Sim) { return "127.0.0.1:" + std::to_string(Sim.Port()); }

}  // namespace kztest
