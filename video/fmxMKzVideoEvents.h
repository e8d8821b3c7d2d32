// Event types of video sources and pipelines. Sender is the source
// component unless said otherwise.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzBitmap.h"

namespace kz {

class TComponent;
class TKzMotionDetector;

using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TKzCamDoneEvent = std::function<void(TComponent* Sender, int32_t Status)>;
using TKzImageEvent = std::function<void(TComponent* Sender, TKzMBitmap& img)>;
using TKzImageEventEx = std::function<void(TComponent* Sender, TKzMBitmap& AImage, double ATime)>;
using TKzGetRegionsEvent = std::function<void(TComponent* Sender, TKzMBitmap& AImg, TKzMotionDetector& ARegionObject)>;
// Frames of a multi-source receiver: the connection handle and identities of
// the sender, and which of its video streams.
using TKzGetImageEvent = std::function<void(TComponent* Sender, TKzMBitmap& img, int32_t hClient,
                                            const TGUID& AGUIDFrom, const TGUID& AGUIDTo, uint16_t AVideoIndex)>;
// A receiver's regions event: also names the source and its video stream.
using TKzGetRegionsEventEx = std::function<void(TComponent* Sender, TKzMBitmap& AImg, uint16_t AVideoIndex,
                                                const TGUID& AGUIDFrom, TKzMotionDetector& ARegionObject)>;

}  // namespace kz
