#include "video/fmxMKzAnimation.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kz {

void TKzCustomCameraAnimationCounter::Draw(TCanvas& Canvas, const TRect& Rect, TAlphaColor Color) const {
  const int32_t side = std::min(Rect.Width(), Rect.Height());
  if (side < 6) return;
  const double cx = Rect.Left + Rect.Width() / 2.0;
  const double cy = Rect.Top + Rect.Height() / 2.0;
  const double dot = std::max(2.0, side / 7.0);
  const double radius = side / 2.0 - dot / 2.0;
  const uint32_t alpha = Color >> 24;
  for (int32_t i = 0; i < DotCount; ++i) {
    // Position i of the ring, clockwise from twelve o'clock.
    const double angle = 2.0 * std::numbers::pi * i / DotCount - std::numbers::pi / 2.0;
    const double x = cx + radius * std::cos(angle);
    const double y = cy + radius * std::sin(angle);
    const int32_t behind = (FStep - i + DotCount) % DotCount;  // 0 = the head
    const uint32_t a = alpha / 4 + (alpha - alpha / 4) * static_cast<uint32_t>(DotCount - 1 - behind) /
                                       static_cast<uint32_t>(DotCount - 1);
    const TRect r(static_cast<int32_t>(std::lround(x - dot / 2)), static_cast<int32_t>(std::lround(y - dot / 2)),
                  static_cast<int32_t>(std::lround(x + dot / 2)), static_cast<int32_t>(std::lround(y + dot / 2)));
    Canvas.FillEllipse(r, (a << 24) | (Color & 0x00FFFFFFu));
  }
}

}  // namespace kz
