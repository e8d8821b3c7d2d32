// Hands every frame of one image list to another without copying pixels,
// with the queueing rule of AddImageGUID.
#pragma once
#include <cstdint>

#include "foundation/fmxMKzImageList.h"

namespace kz {

// Mode 1: a frame replaces the one waiting in Dest for its source and video
// index. Any other mode: when more than Mode frames of that source and video
// index already wait in Dest, the oldest is dropped first. Source ends
// empty. Takes both list locks (Source first). Any thread.
void KzMoveImages(TKzImageList& Source, TKzImageList& Dest, int32_t Mode);

}  // namespace kz
