// Small changes a sender must not pass over. The detector drops changes
// smaller than its minimum area (noise, as a rule). A sender comparing with
// what it sent would then leave them on the receiver's picture until the
// next whole frame, and a moving object leaves many: the rim of a disc that
// moved by a pixel falls apart into single pixels at and near its corners.
// So small changes lying close together count together, and are sent when
// together they pass the minimum area; and a small change found again where
// one was passed over the frame before is lasting, not noise, and is sent.
#pragma once
#include <cstdint>
#include <vector>

#include "video/fmxMKzMotionDetector.h"

namespace kz {

// After Detector.DetectChanges on a FrameW x FrameH frame: the areas (frame
// pixels) to send beside the detector's regions Sent, joined where they lie
// close; at most Budget of them (more are joined into one). PassedOver (the
// detector's working pixels) holds the small changes left unsent: read from
// the frame before, written for the next.
std::vector<TRect> KzSmallChangesToSend(const TKzMotionDetector& Detector, int32_t FrameW, int32_t FrameH,
                                        const std::vector<TRect>& Sent, int32_t Budget,
                                        std::vector<TRect>& PassedOver);

// Joins areas whose joint rectangle costs less than the records it saves:
// each record carries a fixed HeadBytes (its head and the picture's header),
// each pixel the union adds about BytesPerPixel.
void KzJoinCheaperAreas(std::vector<TRect>& Areas, double BytesPerPixel, int64_t HeadBytes);

}  // namespace kz
