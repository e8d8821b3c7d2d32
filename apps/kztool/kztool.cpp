// kztool entry point: picks the subcommand from the table, reads its command
// line and runs it on the main thread.
#include "apps/kztool/kztool.h"

#include "apps/common/kzappconsole.h"
#include "foundation/fmxMKzMessages.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kzapp;

namespace kztool {
namespace {
const TSubcommand* const kSubcommands[] = {&kHttpCommand, &kFetchCommand, &kDecodeCommand, &kMotionCommand,
                                           &kRemuxCommand,
                                           &kHwlCommand,
                                           &kMicCommand,
                                           &kRecordCommand,
                                           &kRecordEventsCommand,
                                           &kPlayCommand,
                                           &kDevicesCommand, &kCaptureCommand,
                                           &kSendCommand,
                                           &kCamCommand, &kPtzCommand,
                                           &kReceiveCommand,
                                           &kIdentifyCommand,
                                           &kServeCommand,
                                           &kOnvifCommand,
};

std::string ToolUsage() {
  std::string text = "usage: kztool COMMAND [ARGS]   (kztool COMMAND --help for its options)\n\ncommands:\n";
  for (const TSubcommand* s : kSubcommands) text += KzFormat("  %-7s %s\n          %s\n", s->Name, s->Synopsis, s->Summary);
  return text;
}

std::string CommandUsage(const TSubcommand& S) {
  return KzUsageText(std::string("kztool ") + S.Name, std::string(S.Synopsis) + " [OPTIONS]", S.Options,
                     std::string(S.Summary) + "\n");
}

const TSubcommand* FindCommand(const std::string& Name) {
  for (const TSubcommand* s : kSubcommands)
    if (Name == s->Name) return s;
  return nullptr;
}

int RunCommand(const TSubcommand& S, const std::vector<std::string>& Words) {
  TKzArgs args = KzParseArgs(Words, S.Options);
  const std::string program = std::string("kztool ") + S.Name;
  const std::string usage = CommandUsage(S);
  if (const int rc = KzArgsOutcome(args, program, usage); rc >= 0) return rc;
  const int rc = S.Run(args);
  if (rc == kzExitUsage) KzErr("%s: %s\n%s", program.c_str(), args.Error.c_str(), usage.c_str());
  return rc;
}

int Main(const std::vector<std::string>& Words) {
  if (Words.empty()) {
    KzErr("kztool: no command given\n%s", ToolUsage().c_str());
    return kzExitUsage;
  }
  const std::string& first = Words[0];
  if (first == "-h" || first == "--help" || first == "help") {
    if (Words.size() > 1) {
      if (const TSubcommand* s = FindCommand(Words[1])) return RunCommand(*s, {"--help"});
      KzErr("kztool: unknown command \"%s\"\n%s", Words[1].c_str(), ToolUsage().c_str());
      return kzExitUsage;
    }
    KzOut("%s", ToolUsage().c_str());
    return kzExitDone;
  }
  const TSubcommand* s = FindCommand(first);
  if (!s) {
    KzErr(first[0] == '-' ? "kztool: unknown option %s\n%s" : "kztool: unknown command \"%s\"\n%s", first.c_str(),
          ToolUsage().c_str());
    return kzExitUsage;
  }
  KzCatchStopSignals();
  return RunCommand(*s, std::vector<std::string>(Words.begin() + 1, Words.end()));
}
}  // namespace
}  // namespace kztool

int main(int argc, char** argv) {
  kz::SetMainThread();
  const int rc = kztool::Main(std::vector<std::string>(argv + 1, argv + argc));
  kz::KzInetShutdown();
  kz::KzMessagesShutdown();
  return rc;
}
