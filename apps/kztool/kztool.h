// kztool: command-line access to the library for scripts. Each subcommand
// lives in its own unit (kztool_<name>.cpp) with its table of options and is
// listed in the table of kztool.cpp.
#pragma once
#include <span>
#include <string>
#include <vector>

#include "apps/common/kzappoptions.h"

namespace kz {
class TCustomKzAudioPlayer;
}

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
extern const TSubcommand kRecordCommand;
extern const TSubcommand kRecordEventsCommand;
extern const TSubcommand kPlayCommand;

// Sets Player's device from "N" (an index, -1 the default) or a device name;
// false when there is no such device. Main thread (kztool_play.cpp).
bool PickPlaybackDevice(kz::TCustomKzAudioPlayer& Player, const std::string& Value);
extern const TSubcommand kDevicesCommand;
extern const TSubcommand kCaptureCommand;
extern const TSubcommand kSendCommand;
extern const TSubcommand kCamCommand;
extern const TSubcommand kPtzCommand;
extern const TSubcommand kReceiveCommand;
extern const TSubcommand kIdentifyCommand;
extern const TSubcommand kServeCommand;
extern const TSubcommand kOnvifCommand;

}  // namespace kztool
