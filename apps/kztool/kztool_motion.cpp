// kztool motion FILE...: runs the motion detector with its default settings
// over the frames in order and prints the moving regions of each frame in
// its own pixel coordinates: "FILE: x,y,w,h x,y,w,h ..." ("FILE:" alone when
// nothing moved).
#include <cmath>
#include <cstdio>

#include "apps/kztool/kztool.h"
#include "foundation/fmxMKzBitmap.h"
#include "video/fmxMKzImageFiles.h"
#include "video/fmxMKzMotionDetectorProperties.h"

namespace kztool {

int RunMotion(const std::vector<std::string>& Args) {
  if (Args.empty()) {
    std::fprintf(stderr, "kztool motion: no file given\n");
    return 2;
  }
  kz::TKzGlobalMotionDetectorProperties properties;
  int failed = 0;
  for (const std::string& file : Args) {
    kz::TKzMBitmap frame;
    std::string error;
    if (!kz::KzDecodeImageFile(file, frame, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      ++failed;
      continue;
    }
    kz::TKzMotionDetector& detector = properties.DetectMotion(frame);
    std::printf("%s:", file.c_str());
    for (const kz::TKzRectF& r : detector.ValidRects()) {
      const long x = std::lround(r.Left), y = std::lround(r.Top);
      std::printf(" %ld,%ld,%ld,%ld", x, y, std::lround(r.Right) - x, std::lround(r.Bottom) - y);
    }
    std::printf("\n");
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace kztool
