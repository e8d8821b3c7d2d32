// kztool: command-line access to the library for scripts. Each subcommand
// lives in its own unit (kztool_<name>.cpp) with its table of options and is
// listed in the table of kztool.cpp.
#pragma once
#include <span>
#include <string>
#include <vector>

#include "apps/common/kzappoptions.h"

namespace kztool {

// One subcommand. Run gets its command line already read against Options
// and returns the exit code; for a command line it cannot use it sets
// Args.Error and returns kzExitUsage.
struct TSubcommand {
  const char* Name;
  const char* Synopsis;  // the arguments besides the options, e.g. "URL"
  const char* Summary;
  std::span<const kzapp::TKzOption> Options;
  int (*Run)(kzapp::TKzArgs& Args);
};

extern const TSubcommand kHttpCommand;
extern const TSubcommand kFetchCommand;
extern const TSubcommand kDecodeCommand;
extern const TSubcommand kMotionCommand;
extern const TSubcommand kRemuxCommand;
extern const TSubcommand kHwlCommand;
extern const TSubcommand kMicCommand;
extern const TSubcommand kDevicesCommand;
extern const TSubcommand kCaptureCommand;
extern const TSubcommand kReceiveCommand;

}  // namespace kztool
