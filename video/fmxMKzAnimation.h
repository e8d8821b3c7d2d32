// Animations that views show while they wait: a ring of dots whose bright
// head goes round one position per step, leaving a fading trail.
// Main thread, never blocks.
#pragma once
#include <cstdint>

#include "platform/fmxMKzPlatformCanvas.h"
#include "platform/fmxMKzPlatformTypes.h"

namespace kz {

class TKzCustomCameraAnimationCounter {
public:
  static constexpr int32_t DotCount = 12;

  TKzCustomCameraAnimationCounter() = default;
  // Back to the first step.
  void Reset() { FStep = 0; }
  // One step further (a view steps once per 100 ms tick).
  void Step() { FStep = (FStep + 1) % DotCount; }
  int32_t CurrentStep() const { return FStep; }

  // Draws the current step centred in Rect: DotCount dots on a circle, the
  // head in Color, the dots behind it fading towards a quarter of its alpha.
  void Draw(TCanvas& Canvas, const TRect& Rect, TAlphaColor Color) const;

private:
  int32_t FStep = 0;
};

}  // namespace kz
