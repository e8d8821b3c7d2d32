// Event types of video sources and pipelines. Sender is the source
// component unless said otherwise.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "foundation/fmxMKzBitmap.h"

namespace kz {

class TComponent;
class TKzMotionDetector;

using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TKzCamDoneEvent = std::function<void(TComponent* Sender, int32_t Status)>;
using TKzImageEvent = std::function<void(TComponent* Sender, TKzMBitmap& img)>;
using TKzImageEventEx = std::function<void(TComponent* Sender, TKzMBitmap& AImage, double ATime)>;
using TKzGetRegionsEvent = std::function<void(TComponent* Sender, TKzMBitmap& AImg, TKzMotionDetector& ARegionObject)>;

}  // namespace kz
