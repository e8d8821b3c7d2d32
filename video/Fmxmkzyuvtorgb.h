// Conversion of raw camera frames in the YUV family to library pixels.
// Each converter reads one whole frame in the published layout of its FourCC
// and writes Width x Height pixels, top row first, alpha 255:
//   R = Y + 1.4075 (V - 128)
//   G = Y - 0.3455 (U - 128) - 0.7169 (V - 128)
//   B = Y + 1.779 (U - 128)
// each rounded to the nearest integer (halves to even) and clamped to 0..255.
// Chroma covers two columns (and in 4:2:0 two rows); odd sizes round the
// chroma planes up. Any thread, never blocks; the caller supplies a source
// of KzYuvFrameSize bytes.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

enum class TKzYuvFormat : uint8_t {
  kzyI420 = 0,  // planar 4:2:0, U plane then V plane
  kzyYV12,      // planar 4:2:0, V plane then U plane
  kzyYV16,      // planar 4:2:2, V plane then U plane
  kzyNV12,      // Y plane, then 4:2:0 chroma pairs U V
  kzyNV21,      // Y plane, then 4:2:0 chroma pairs V U
  kzyNV16,      // Y plane, then 4:2:2 chroma pairs U V
  kzyNV61,      // Y plane, then 4:2:2 chroma pairs V U
  kzyYUY2,      // packed Y0 U Y1 V
  kzyUYVY,      // packed U Y0 V Y1
  kzyYVYU,      // packed Y0 V Y1 U
  kzyVYUY,      // packed V Y0 U Y1
};

// Bytes of one frame of Format at Width x Height.
size_t KzYuvFrameSize(TKzYuvFormat Format, int32_t Width, int32_t Height);
void KzYuvToRGB(TKzYuvFormat Format, const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);

void I420ToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);
void YV12ToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);
void YV16ToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);
void NV12ToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);
void NV21ToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);
void NV16ToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);
void NV61ToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);
void YUY2ToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);
void UYVYToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);
void YVYUToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);
void VYUYToRGB(const uint8_t* Source, uint32_t* Dest, int32_t Width, int32_t Height);

}  // namespace kz
