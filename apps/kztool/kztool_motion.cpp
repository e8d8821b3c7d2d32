// kztool motion FILE...: runs the motion detector with its default settings
// over the frames in order and prints the moving regions of each frame in
// its own pixel coordinates: "FILE: x,y,w,h x,y,w,h ..." ("FILE:" alone when
// nothing moved).
#include <cmath>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "foundation/fmxMKzBitmap.h"
#include "video/fmxMKzImageFiles.h"
#include "video/fmxMKzMotionDetectorProperties.h"

using namespace kzapp;

namespace kztool {

namespace {
int Run(TKzArgs& Args) {
  if (Args.Positional.empty()) {
    Args.Error = "no file given";
    return kzExitUsage;
  }
  kz::TKzGlobalMotionDetectorProperties properties;
  int failed = 0;
  for (const std::string& file : Args.Positional) {
    if (KzStopSignal() != 0) return kzExitInterrupted;
    kz::TKzMBitmap frame;
    std::string error;
    if (!kz::KzDecodeImageFile(file, frame, error)) {
      KzErr("%s\n", error.c_str());
      ++failed;
      continue;
    }
    kz::TKzMotionDetector& detector = properties.DetectMotion(frame);
    std::string line = file + ":";
    for (const kz::TKzRectF& r : detector.ValidRects()) {
      const long x = std::lround(r.Left), y = std::lround(r.Top);
      line += KzFormat(" %ld,%ld,%ld,%ld", x, y, std::lround(r.Right) - x, std::lround(r.Bottom) - y);
    }
    KzOut("%s\n", line.c_str());
  }
  return failed == 0 ? kzExitDone : kzExitFailed;
}
}  // namespace

const TSubcommand kMotionCommand = {
    "motion", "FILE...", "motion regions of each frame against the previous ones: \"FILE: x,y,w,h ...\"", {}, Run};

}  // namespace kztool
