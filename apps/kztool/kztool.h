// kztool: command-line access to the library for scripts. Each subcommand
// lives in its own unit (kztool_<name>.cpp) and is listed in the table of
// kztool.cpp.
#pragma once
#include <string>
#include <vector>

namespace kztool {

// One subcommand: Args are the words after its name; the result is the
// process exit code.
struct TSubcommand {
  const char* Name;
  const char* Usage;  // argument synopsis, shown by "kztool help"
  const char* Summary;
  int (*Run)(const std::vector<std::string>& Args);
};

int RunHttp(const std::vector<std::string>& Args);
int RunDecode(const std::vector<std::string>& Args);
int RunMotion(const std::vector<std::string>& Args);
int RunFetch(const std::vector<std::string>& Args);
int RunRemux(const std::vector<std::string>& Args);

}  // namespace kztool
