// kztool entry point: picks the subcommand from the table and runs it on the
// main thread.
#include "apps/kztool/kztool.h"

#include <cstdio>
#include <cstring>

#include "foundation/fmxMKzMessages.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kztool {
namespace {
const TSubcommand kSubcommands[] = {
    {"http", "URL [--user U] [--password P] [--proxy HOST:PORT] [--proxy-user U] [--proxy-password P] [--head] "
             "[--timeout short|medium|long|huge] [--max-bytes N]",
     "one request through the library's HTTP client: body to stdout, \"status: N\" to stderr", RunHttp},
    {"fetch", "URL [--user U] [--password P] [--fps F] [--frames N] [--seconds S] [--out DIR]",
     "plays URL (http://, rtsp:// or a Motion-JPEG file) through a camera until N frames or S seconds (10 s when "
     "neither is given); frames as PNG into DIR; progress to stderr, \"frames: N fps: X.X\" to stdout; asks for "
     "credentials on a terminal when the camera refuses them",
     RunFetch},
    {"remux", "URL OUT [--seconds S]",
     "copies the compressed streams of URL (rtsp://, http:// or a media file) unchanged into OUT (.mkv, .mp4, ...) "
     "from its first key frame, until the input ends or S seconds have passed",
     RunRemux},
    {"decode", "FILE... [--out DIR]", "decodes JPEG, PNG and BMP files and prints their sizes; --out writes them as PNG",
     RunDecode},
    {"motion", "FILE...", "motion regions of each frame against the previous ones: \"FILE: x,y,w,h ...\"", RunMotion},
};

void Usage(FILE* To) {
  std::fprintf(To, "usage: kztool COMMAND [ARGS]\n\ncommands:\n");
  for (const TSubcommand& s : kSubcommands) std::fprintf(To, "  %s %s\n      %s\n", s.Name, s.Usage, s.Summary);
}
}  // namespace
}  // namespace kztool

int main(int argc, char** argv) {
  kz::SetMainThread();
  if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
    kztool::Usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const kztool::TSubcommand& s : kztool::kSubcommands) {
    if (std::strcmp(argv[1], s.Name) != 0) continue;
    const std::vector<std::string> args(argv + 2, argv + argc);
    const int rc = s.Run(args);
    kz::KzInetShutdown();
    kz::KzMessagesShutdown();
    return rc;
  }
  std::fprintf(stderr, "kztool: unknown command \"%s\"\n", argv[1]);
  kztool::Usage(stderr);
  return 2;
}
