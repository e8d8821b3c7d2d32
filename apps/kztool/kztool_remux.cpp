// kztool remux URL OUT [--seconds S]: plays a URL or file through the FFmpeg
// engine and copies its compressed packets unchanged into OUT, from the first
// key frame on, until the input ends, S seconds have passed or Ctrl-C.
#include <chrono>
#include <future>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "foundation/fmxMKzRedact.h"

using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--seconds", "S", "stop after S seconds (default: at the end of the input)"},
};

int Run(TKzArgs& Args) {
  if (Args.Positional.size() != 2) {
    Args.Error = Args.Positional.size() < 2 ? "needs URL and OUT" : "more than URL and OUT given";
    return kzExitUsage;
  }
  double seconds = 0;
  if (Args.Has("--seconds") && !Args.Number("--seconds", seconds, 0.001, 1e9)) return kzExitUsage;
  const std::string& url = Args.Positional[0];
  const std::string& out = Args.Positional[1];
  if (!kz::IsSupportedFFmpeg()) {
    KzErr("kztool remux: FFmpeg is not available: %s\n", kz::LastFFmpegBindError().c_str());
    return kzExitFailed;
  }
  KzCatchStopSignals();
  kz::TKzMFFMPEG player;
  player.Options.RTSPTransport = kz::kzRtspTCP;
  player.Remuxing = true;
  player.RemuxFileName = out;
  std::string error;
  player.OnError = [&](void*, int32_t, const std::string& Text) { error = Text; };
  auto done = std::async(std::launch::async, [&] { player.PlayVideo(url); });
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds > 0 ? seconds : 1e9);
  while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
    if (KzStopSignal() != 0 || std::chrono::steady_clock::now() >= end) player.Abort();
  if (!error.empty()) {
    KzErr("kztool remux: %s (%s)\n", error.c_str(), kz::KzRedactCredentials(url).c_str());
    return kzExitFailed;
  }
  KzOut("remuxed: %s\n", out.c_str());
  return KzStopSignal() != 0 ? kzExitInterrupted : kzExitDone;
}
}  // namespace

const TSubcommand kRemuxCommand = {
    "remux", "URL OUT",
    "copies the compressed streams of URL (rtsp://, http:// or a media file) unchanged into OUT (.mkv, .mp4, ...) "
    "from its first key frame, until the input ends or S seconds have passed",
    kOptions, Run};

}  // namespace kztool
