// The last steps every draw thread takes with a frame: smoothing and
// rotation, and handing it to the registered consumers.
#pragma once
#include <cstdint>
#include <memory>

#include "foundation/fmxMKzBitmapFilters.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "video/fmxMKzConsumers.h"

namespace kz {

class TKzImageWrapper;

// With Smooth, copies Frame into SmoothImg (created on first use, smoothing
// on) and goes on with the copy; rotates the frame. Returns the frame to
// output. Draw thread.
TKzMBitmap& KzPrepareOutputFrame(TKzMBitmap& Frame, bool Smooth, std::unique_ptr<TKzImageWrapper>& SmoothImg,
                                 TKzRotation Rotation);

// Hands Frame to every consumer, in this order: views not in full-screen
// mode, senders (through SmoothImg when Frame is its bitmap, else through
// SenderImg refreshed with a copy of the frame), recorders. Draw thread, holding the
// display lock that guards Lists.
void KzHandToConsumers(TComponent* Owner, const TKzConsumerLists& Lists, TKzMBitmap& Frame, bool Own,
                       uint16_t VideoIndex, const TGUID& GUIDFrom, TKzImageWrapper* SmoothImg,
                       TKzImageWrapper& SenderImg);

// Whether Lists holds any consumer. A display lock held elsewhere counts as
// yes: frames are going out right now. Any thread, never blocks.
bool KzHasListedConsumers(TKzCriticalSection& DisplaySection, const TKzConsumerLists& Lists);

}  // namespace kz
