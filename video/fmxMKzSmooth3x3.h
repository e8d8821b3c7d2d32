// 3 x 3 box smoothing of a picture: each colour byte becomes the rounded
// mean of its neighbourhood (edges repeat the border pixels); alpha kept.
// Any thread, never blocks.
#pragma once
#include "foundation/fmxMKzBitmap.h"

namespace kz {

void KzSmooth3x3(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest);

}  // namespace kz
