// kztool fetch: plays a URL (or a video file) through a camera, with
// progress on stderr and the result line "frames: N fps: X.X" on stdout.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappfetch.h"
#include "apps/kztool/kztool.h"

using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--user", "U", "user name for the camera"},
    {"--password", "P", "password for the camera"},
    {"--fps", "F", "the frame rate asked of the camera (default 25); the stream may come slower"},
    {"--frames", "N", "stop after N frames"},
    {"--seconds", "S", "stop after S seconds (10 when neither --frames nor --seconds is given)"},
    {"--out", "DIR", "write every frame as DIR/frame-NNNNNN.png (DIR is created)"},
    {"--view", "WxH", "receive frames as a view of that size would (JPEG decoded no larger than needed)"},
};

// Why the stream gave no (or too few) frames, for the last line on stderr.
std::string FailureReason(const TKzFetchResult& R) {
  if (R.LoginFailed) return "the camera refused the credentials";
  if (R.Ended) return KzFormat("the stream ended (status %d)", R.EndStatus);
  return "no frame arrived";
}

int Run(TKzArgs& Args) {
  TKzFetchOptions o;
  if (Args.Positional.size() != 1) {
    Args.Error = Args.Positional.empty() ? "no URL given" : "more than one URL given";
    return kzExitUsage;
  }
  o.URL = Args.Positional[0];
  o.UserName = Args.Get("--user");
  o.Password = Args.Get("--password");
  o.OutDir = Args.Get("--out");
  double frames = 0;
  if (!Args.Number("--fps", o.FramePerSec, 0.01, 1000) || !Args.Number("--frames", frames, 1, 1e12) ||
      !Args.Number("--seconds", o.Seconds, 0.001, 1e9))
    return kzExitUsage;
  o.MaxFrames = static_cast<int64_t>(frames);
  if (Args.Has("--view")) {
    char end = 0;
    if (std::sscanf(Args.Get("--view").c_str(), "%dx%d%c", &o.ViewWidth, &o.ViewHeight, &end) != 2 ||
        o.ViewWidth <= 0 || o.ViewHeight <= 0) {
      Args.Error = "--view takes WxH, for example 480x270";
      return kzExitUsage;
    }
  }
  if (o.MaxFrames == 0 && o.Seconds == 0) o.Seconds = 10;  // a bound for scripts that gave none
  o.PromptOnTerminal = isatty(STDIN_FILENO);
  o.OnProgress = [](const TKzFetchProgress& p) {
    KzErr("fetch: %5.1f s  frames %6lld  %5.1f fps  %8.2f MB\n", p.Seconds, static_cast<long long>(p.Frames),
          p.FrameRate, p.Bytes / 1e6);
  };
  const TKzFetchResult r = KzRunFetch(o);
  if (!r.Error.empty()) KzErr("kztool fetch: %s\n", r.Error.c_str());
  if (!r.Error.empty() && !r.Interrupted) return kzExitFailed;
  if (!o.OutDir.empty()) KzErr("fetch: %d pictures written to %s\n", r.Pictures, o.OutDir.c_str());
  KzErr("fetch: decoded at scale %s\n", r.DecodeScales.c_str());
  KzOut("frames: %lld fps: %.1f\n", static_cast<long long>(r.Frames), r.FrameRate);
  if (r.Interrupted) {
    KzErr("kztool fetch: interrupted\n");
    return kzExitInterrupted;
  }
  const bool enough = o.MaxFrames > 0 ? r.Frames >= o.MaxFrames : r.Frames > 0;
  if (enough && !r.LoginFailed) return kzExitDone;
  KzErr("kztool fetch: %s\n", FailureReason(r).c_str());
  return kzExitFailed;
}
}  // namespace

const TSubcommand kFetchCommand = {
    "fetch", "URL",
    "plays URL (http://, rtsp:// or a video file) through a camera until N frames or S seconds; progress to "
    "stderr, \"frames: N fps: X.X\" to stdout; asks for credentials on a terminal when the camera refuses them; "
    "Ctrl-C ends it with the summary",
    kOptions, Run};

}  // namespace kztool
