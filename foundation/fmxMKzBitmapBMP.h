// The headers of the BMP file format (14-byte file header, 40-byte info
// header), read and written field by field, little-endian. The bitmap's
// SaveToStream/LoadFromStream use them; any thread, never blocks.
#pragma once
#include <cstdint>

#include "platform/fmxMKzPlatformStream.h"

namespace kz {

struct TBitmapFileHeader {
  uint16_t bfType = 0x4D42;  // "BM"
  uint32_t bfSize = 0;
  uint16_t bfReserved1 = 0;
  uint16_t bfReserved2 = 0;
  uint32_t bfOffBits = 0;
};

struct TBitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // negative: rows top-down
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

// The 54 bytes that start an uncompressed BMP file without a palette.
struct TBMPHeader {
  TBitmapFileHeader FileHeader;
  TBitmapInfoHeader InfoHeader;
};

constexpr int32_t KzBMPFileHeaderSize = 14;
constexpr int32_t KzBMPInfoHeaderSize = 40;
constexpr int32_t KzBMPPixelsPerMetre = 3780;
constexpr uint32_t KzBI_RGB = 0;
constexpr uint32_t KzBI_BITFIELDS = 3;
constexpr uint32_t KzBI_ALPHABITFIELDS = 6;

// Header of an uncompressed bottom-up file of the given geometry.
TBMPHeader KzMakeBMPHeader(int32_t Width, int32_t Height, uint16_t BitCount);
void KzWriteBMPHeader(TStream& Stream, const TBMPHeader& Header);
// False when the stream ends first or the file does not start with "BM".
bool KzReadBMPFileHeader(TStream& Stream, TBitmapFileHeader& Header);
// Reads the first 40 bytes of the info header (larger headers follow on).
bool KzReadBMPInfoHeader(TStream& Stream, TBitmapInfoHeader& Header);

}  // namespace kz
