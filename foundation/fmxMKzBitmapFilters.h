// Whole-picture pixel operations on the library bitmap: quarter-turn
// rotations and the brightness/contrast table. Each runs on the thread that
// owns the bitmap and never blocks.
#pragma once
#include <array>
#include <cstdint>

#include "foundation/fmxMKzBitmap.h"

namespace kz {

enum class TKzRotation : uint8_t { kzrNone = 0, kzr90 = 1, kzr180 = 2, kzr270 = 3 };

// Clockwise quarter turns. 90 and 270 swap width and height; for 90 the new
// pixel at (x, y) is the old pixel at (y, old height - 1 - x). Only the
// colour bytes move: each position keeps the alpha it had.
void Rotate90A(TKzMCustomBitmap& Bitmap);
void Rotate180A(TKzMCustomBitmap& Bitmap);
void Rotate270A(TKzMCustomBitmap& Bitmap);
void RotateImg(TKzMCustomBitmap& Bitmap, TKzRotation Rotation);

// The 256-entry table for Brightness and Contrast (each 0..255, 128 neutral).
std::array<uint8_t, 256> KzBrightnessContrastTable(int32_t Brightness, int32_t Contrast);
// Applies that table to the blue, green and red bytes of every pixel.
void BrightnessContrast(TKzMCustomBitmap& Bitmap, int32_t Brightness, int32_t Contrast);

}  // namespace kz
