// Constants and small helpers shared by the units of TKzCamView. Not for
// callers of the view.
#pragma once
#include <cstdint>

#include "video/fmxMKzCamView.h"

namespace kz::camview_detail {

inline constexpr uint32_t kFrameTimeOutMs = 5000;
inline constexpr uint32_t kWaitAnimationStepMs = 100;
inline constexpr uint32_t kFullScreenIconCheckMs = 1000;
inline constexpr uint64_t kFullScreenIconHideMs = 3000;
inline constexpr int32_t kMinCaptionHeight = 10;

inline bool PtIn(const TRect& R, float X, float Y) {
  return X >= R.Left && X < R.Right && Y >= R.Top && Y < R.Bottom;
}

inline TKzPixelSurface SurfaceOf(TKzMBitmap& B) {
  return TKzPixelSurface{B.Data(), B.Width(), B.Height(), B.Width()};
}

inline TKzStretchQuality StretchQualityOf(TKzMFrameScaleQuality Q) {
  return Q == TKzMFrameScaleQuality::kzmfscLow ? TKzStretchQuality::kzsqLow : TKzStretchQuality::kzsqNormal;
}

}  // namespace kz::camview_detail
