// kztool run as a user runs it (stdin empty, both outputs caught), and the
// address of a fake on its command line.
#pragma once
#include <string>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "tests/kztestpeers.h"

namespace kztest {

// kztool's stdout, then its stderr, in Out.
inline TToolRun RunKztool(const TTempDir& Dir, const std::string& Args) {
  TToolRun r = RunTool(Dir, AppPath("kztool") + " " + Args);
  r.Out += r.Err;
  return r;
}

// "127.0.0.1:PORT" of Sim's first port.
inline std::string AddressOf(const kzcamsim::TKzCamSim& Sim) { return "127.0.0.1:" + std::to_string(Sim.Port()); }

}  // namespace kztest
