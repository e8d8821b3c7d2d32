// Pixel operations of the motion detector: the reduced working size and the
// area-averaging reduction that makes the working copies (the bitmap's own
// resampling is bilinear, which at these factors would skip most pixels).
//
// All functions: any thread that owns the bitmaps, never block.
#pragma once
#include <cstdint>

#include "foundation/fmxMKzBitmap.h"

namespace kz {

// The longest side of a reduced working copy.
constexpr int32_t KzMotionMaxWorkingSide = 320;

// Working size of a Width x Height frame in reduced mode: the longer side is
// halved (integer) until it is at most 320, the other side follows as
// side * reduced / longer (integer), but never below 1 so that a very thin
// frame still has a working image. Sides of 320 or less stay as they are.
void KzMMotionWorkingSize(int32_t Width, int32_t Height, int32_t& WorkWidth, int32_t& WorkHeight);

// Dest := Source resampled to Width x Height. Each destination pixel is the
// rounded average of the block of source pixels it covers (all four bytes),
// so that sensor noise averages out instead of aliasing into the working
// copy. An empty source or size gives an empty Dest.
void KzMReduceBitmap(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest, int32_t Width, int32_t Height);
// Redoes, in Dest (a reduction of Source), the pixels whose blocks reach
// into Area of Source: the same values KzMReduceBitmap gives them.
void KzMReduceBitmapArea(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest, const TRect& Area);

}  // namespace kz
