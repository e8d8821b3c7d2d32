// Motion as the event recorder sees it: the library's motion detector run
// on the pictures a source hands over, and only regions of at least a
// given area counted. Owned by one draw thread.
#pragma once
#include <cstdint>

#include "foundation/fmxMKzBitmap.h"
#include "recorder/fmxMKzEventTypes.h"
#include "video/fmxMKzMotionDetector.h"

namespace kz {

class TKzEventMotionWatcher {
public:
  // Compares Frame with the previous ones; true when a region of at least
  // MinRegionArea pixels (full-frame) moved, with their union in Bounds.
  bool Check(const TKzMCustomBitmap& Frame, int64_t MinRegionArea, TKzEventRect& Bounds);
  TKzMotionDetector& Detector() { return FDetector; }

private:
  TKzMotionDetector FDetector;
  TKzMBitmap FReference;
};

}  // namespace kz
