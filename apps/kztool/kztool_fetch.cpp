// kztool fetch: plays a URL (or a Motion-JPEG file) through a camera, with
// progress on stderr and the result line "frames: N fps: X.X" on stdout.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "apps/common/kzappfetch.h"
#include "apps/kztool/kztool.h"
#include "inet/fmxMKzURLFuncs.h"

using namespace kz;

namespace kztool {

namespace {
int Fail(const std::string& Text) {
  std::fprintf(stderr, "kztool fetch: %s\n", Text.c_str());
  return 2;
}

bool Number(const std::string& Text, double& Value) {
  char* end = nullptr;
  Value = std::strtod(Text.c_str(), &end);
  return !Text.empty() && *end == '\0' && Value >= 0;
}
}  // namespace

int RunFetch(const std::vector<std::string>& Args) {
  kzapp::TKzFetchOptions o;
  std::map<std::string, std::string> opt;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    if (a.rfind("--", 0) == 0) {
      if (i + 1 >= Args.size()) return Fail("missing value after " + a);
      opt[a.substr(2)] = Args[++i];
    } else if (o.URL.empty()) {
      o.URL = a;
    } else {
      return Fail("more than one URL");
    }
  }
  if (o.URL.empty()) return Fail("no URL");
  double frames = 0;
  for (const auto& [name, value] : opt) {
    double* number = name == "fps" ? &o.FramePerSec : name == "frames" ? &frames : name == "seconds" ? &o.Seconds : nullptr;
    if (name == "user") {
      o.UserName = value;
    } else if (name == "password") {
      o.Password = value;
    } else if (name == "out") {
      o.OutDir = value;
    } else if (!number) {
      return Fail("unknown option --" + name);
    } else if (!Number(value, *number)) {
      return Fail("--" + name + " takes a number");
    }
  }
  o.MaxFrames = static_cast<int64_t>(frames);
  if (o.MaxFrames == 0 && o.Seconds == 0) o.Seconds = 10;  // a bound for scripts that gave none
  o.PromptOnTerminal = isatty(STDIN_FILENO);
  o.OnProgress = [](const kzapp::TKzFetchProgress& p) {
    std::fprintf(stderr, "fetch: %5.1f s  frames %6lld  %5.1f fps  %8.2f MB\n", p.Seconds,
                 static_cast<long long>(p.Frames), p.FrameRate, p.Bytes / 1e6);
  };
  const kzapp::TKzFetchResult r = kzapp::KzRunFetch(o);
  if (!r.Error.empty()) {
    std::fprintf(stderr, "kztool fetch: %s\n", r.Error.c_str());
    return 1;
  }
  if (r.LoginFailed) std::fprintf(stderr, "kztool fetch: the camera refused the credentials\n");
  if (r.Ended && r.Frames == 0) std::fprintf(stderr, "kztool fetch: the stream ended (status %d)\n", r.EndStatus);
  if (!o.OutDir.empty()) std::fprintf(stderr, "fetch: %d pictures written to %s\n", r.Pictures, o.OutDir.c_str());
  std::printf("frames: %lld fps: %.1f\n", static_cast<long long>(r.Frames), r.FrameRate);
  std::fflush(stdout);
  const bool enough = o.MaxFrames > 0 ? r.Frames >= o.MaxFrames : r.Frames > 0;
  return enough && !r.LoginFailed ? 0 : 1;
}

}  // namespace kztool
