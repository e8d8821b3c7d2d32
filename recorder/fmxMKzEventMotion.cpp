#include "recorder/fmxMKzEventMotion.h"

#include <cmath>

namespace kz {

bool TKzEventMotionWatcher::Check(const TKzMCustomBitmap& Frame, int64_t MinRegionArea, TKzEventRect& Bounds) {
  Bounds = {};
  if (Frame.Width() <= 0 || Frame.Height() <= 0) return false;
  if (FReference.Width() != Frame.Width() || FReference.Height() != Frame.Height()) {
    // The first picture (or a new size) is only the reference.
    FReference.AssignKzMBitmap(Frame);
    FDetector.DetectChanges(Frame, FReference);
    return false;
  }
  const int32_t count = FDetector.DetectChanges(Frame, FReference);
  // Pictures decoded smaller than the source: boxes in source pixels.
  const double sx = double(Frame.SourceWidth()) / Frame.Width(), sy = double(Frame.SourceHeight()) / Frame.Height();
  bool moved = false;
  for (int32_t i = 0; i < count; ++i) {
    if (!FDetector.IsRectValid(i)) continue;
    const TKzRectF r = FDetector.GetRect(i);
    const TKzEventRect box{int32_t(std::lround(r.Left * sx)), int32_t(std::lround(r.Top * sy)),
                           int32_t(std::lround(r.Right * sx)), int32_t(std::lround(r.Bottom * sy))};
    if (box.Area() < MinRegionArea) continue;
    Bounds.Unite(box);
    moved = true;
  }
  FDetector.UpdateReferenceImage(Frame, FReference);
  return moved;
}

}  // namespace kz
