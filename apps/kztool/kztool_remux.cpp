// kztool remux: plays a URL or file through the FFmpeg engine and copies its
// compressed packets unchanged into OUT, from the first key frame on, until
// the input ends or --seconds have passed.
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "apps/kztool/kztool.h"
#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"

using namespace kz;

namespace kztool {

namespace {
int Fail(const std::string& Text) {
  std::fprintf(stderr, "kztool remux: %s\n", Text.c_str());
  return 2;
}
}  // namespace

int RunRemux(const std::vector<std::string>& Args) {
  std::vector<std::string> words;
  double seconds = 0;
  for (size_t i = 0; i < Args.size(); ++i) {
    if (Args[i] == "--seconds") {
      char* end = nullptr;
      if (i + 1 >= Args.size() || (seconds = std::strtod(Args[i + 1].c_str(), &end)) <= 0 || *end)
        return Fail("--seconds takes a positive number");
      ++i;
    } else if (Args[i].rfind("--", 0) == 0) {
      return Fail("unknown option " + Args[i]);
    } else {
      words.push_back(Args[i]);
    }
  }
  if (words.size() != 2) return Fail("needs URL and OUT");
  if (!IsSupportedFFmpeg()) return Fail("FFmpeg is not available: " + LastFFmpegBindError());

  TKzMFFMPEG player;
  player.Options.RTSPTransport = kzRtspTCP;
  player.Remuxing = true;
  player.RemuxFileName = words[1];
  std::string error;
  player.OnError = [&](void*, int32_t, const std::string& Text) { error = Text; };
  auto done = std::async(std::launch::async, [&] { player.PlayVideo(words[0]); });
  if (seconds > 0 && done.wait_for(std::chrono::duration<double>(seconds)) != std::future_status::ready) player.Abort();
  done.wait();
  if (!error.empty()) return Fail(error);
  std::printf("remuxed: %s\n", words[1].c_str());
  return 0;
}

}  // namespace kztool
